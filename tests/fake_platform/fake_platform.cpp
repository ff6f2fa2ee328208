#include "tests/fake_platform/fake_platform.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace fake {
namespace {

const wchar_t kCommandLine[] = L"<kavrel's command line>";
int g_key_marker = 0;

// The fake code page: each byte is the character of the same number.
std::wstring Widened(const std::string& text) {
  std::wstring wide;
  for (const char byte : text) wide += static_cast<wchar_t>(static_cast<unsigned char>(byte));
  return wide;
}

}  // namespace

Bytes Text(const std::string& text) {
  Bytes bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

Bytes TextWithoutNul(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Dword(uint32_t value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

World& TheWorld() {
  static World world;
  return world;
}

void Reset() { TheWorld() = World(); }

platform::RegistryKey OpenedKey() { return reinterpret_cast<platform::RegistryKey>(&g_key_marker); }

}  // namespace fake

namespace platform {

namespace {

// Each call below asks for the world once, which counts it, so that tests
// can tell what came first.
fake::World& TheWorld() {
  fake::World& world = fake::TheWorld();
  ++world.platform_calls;
  return world;
}

}  // namespace

DllSearch RestrictDllSearchToSystemFolder() {
  fake::World& world = TheWorld();
  if (world.dll_search_restrictions++ == 0) {
    world.calls_before_dll_restriction = world.platform_calls - 1;
  }
  return world.dll_search;
}

Status OpenRegistryKey(RegistryRoot root, const char* subkey, uint32_t options, uint32_t access,
                       RegistryKey* key) {
  fake::World& world = TheWorld();
  world.opens.push_back({root, subkey, options, access});
  // Like Windows, a failed open leaves no usable handle behind.
  *key = world.open_status == kSuccess ? fake::OpenedKey() : nullptr;
  return world.open_status;
}

Status QueryRegistryValue(RegistryKey key, const char* name, uint32_t* reserved, void* data,
                          uint32_t* size) {
  fake::World& world = TheWorld();
  world.queries.push_back({key, name, reserved == nullptr, *size});
  if (key != fake::OpenedKey()) return 6;  // ERROR_INVALID_HANDLE
  const auto forced = world.query_status.find(name);
  if (forced != world.query_status.end()) return forced->second;
  const auto value = world.values.find(name);
  if (value == world.values.end()) return kErrorFileNotFound;
  const fake::Bytes& bytes = value->second;
  if (bytes.size() > *size) {
    // Windows leaves the destination undefined; scribble over all of it, and
    // no further, so that a launcher that trusts it is caught.
    memset(data, 0xA5, *size);
    *size = static_cast<uint32_t>(bytes.size());
    return kErrorMoreData;
  }
  if (!bytes.empty()) memcpy(data, bytes.data(), bytes.size());
  *size = static_cast<uint32_t>(bytes.size());
  return kSuccess;
}

Status QueryRegistryValueWide(RegistryKey key, const wchar_t* name, uint32_t* /*reserved*/,
                              uint32_t* type, void* data, uint32_t* size) {
  fake::World& world = TheWorld();
  if (key != fake::OpenedKey()) return 6;  // ERROR_INVALID_HANDLE
  std::string narrow_name;
  for (; *name != L'\0'; ++name) narrow_name += static_cast<char>(*name);
  // A status forced on the value holds for both reads; forced success
  // gives an empty text, as the 8-bit read then wrote nothing.
  const auto forced = world.query_status.find(narrow_name);
  if (forced != world.query_status.end()) {
    *type = kRegSz;
    *size = 0;
    return forced->second;
  }
  const auto value = world.values.find(narrow_name);
  if (value == world.values.end()) return kErrorFileNotFound;
  const auto held = world.held.find(narrow_name);
  const std::wstring text =
      held != world.held.end()
          ? held->second
          : fake::Widened(std::string(value->second.begin(), value->second.end()));
  const auto given_type = world.types.find(narrow_name);
  *type = given_type != world.types.end() ? given_type->second : kRegSz;
  const size_t bytes = text.size() * sizeof(wchar_t);
  if (bytes > *size) {
    *size = static_cast<uint32_t>(bytes);
    return kErrorMoreData;
  }
  if (bytes > 0) memcpy(data, text.data(), bytes);
  *size = static_cast<uint32_t>(bytes);
  return kSuccess;
}

Status CloseRegistryKey(RegistryKey key) {
  TheWorld().closes.push_back(key);
  return kSuccess;
}

int32_t CreateProcessAnsi(const char* application_name, char* command_line,
                          void* process_attributes, void* thread_attributes,
                          int32_t inherit_handles, uint32_t creation_flags, void* environment,
                          const char* current_directory, StartupInfo* startup_info,
                          ProcessInformation* process_information) {
  fake::World& world = TheWorld();
  fake::CreateProcessCall call{};
  call.application_name = application_name;
  call.command_line_is_null = command_line == nullptr;
  if (command_line != nullptr) {
    call.command_line = command_line;
    // Windows may write into the command line; prove it is writable.
    command_line[0] = command_line[0];
  }
  call.process_attributes_is_null = process_attributes == nullptr;
  call.thread_attributes_is_null = thread_attributes == nullptr;
  call.inherit_handles = inherit_handles;
  call.creation_flags = creation_flags;
  call.environment_is_null = environment == nullptr;
  call.current_directory = current_directory;
  call.startup_info = *startup_info;
  call.process_information_given = process_information != nullptr;
  world.creates.push_back(call);
  if (world.create_process_result != 0 && process_information != nullptr) {
    memset(process_information, 0, sizeof *process_information);
    process_information->process_id = 4242;
  }
  return world.create_process_result;
}

uint32_t GetOwnModuleFileName(char* buffer, uint32_t size) {
  fake::World& world = TheWorld();
  world.module_calls.push_back(size);
  if (world.module_call_fails || size == 0) return 0;
  const std::string& path = world.module_path;
  if (path.size() < size) {
    memcpy(buffer, path.c_str(), path.size() + 1);
    return static_cast<uint32_t>(path.size());
  }
  if (world.module_cut == fake::ModuleCut::kWithNul) {
    memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = '\0';
  } else {
    memcpy(buffer, path.data(), size);
  }
  return size;
}

uint32_t GetOwnModuleFileNameWide(wchar_t* buffer, uint32_t size) {
  fake::World& world = TheWorld();
  if (world.module_call_fails || size == 0) return 0;
  // A path Windows holds has no NUL in it: the text before the first one.
  const std::wstring path =
      world.module_path_held.empty()
          ? fake::Widened(world.module_path.substr(0, world.module_path.find('\0')))
          : world.module_path_held;
  if (path.size() < size) {
    wmemcpy(buffer, path.c_str(), path.size() + 1);
    return static_cast<uint32_t>(path.size());
  }
  wmemcpy(buffer, path.data(), size - 1);
  buffer[size - 1] = L'\0';
  return size;
}

int32_t MultiByteToWide(uint32_t code_page, uint32_t flags, const char* text, int32_t length,
                        wchar_t* wide, int32_t capacity) {
  TheWorld();
  if (code_page != kActiveCodePage || flags != 0) return 0;
  const size_t bytes = length < 0 ? strlen(text) + 1 : static_cast<size_t>(length);
  if (bytes > static_cast<size_t>(capacity)) return 0;  // ERROR_INSUFFICIENT_BUFFER
  const std::wstring widened = fake::Widened(std::string(text, bytes));
  wmemcpy(wide, widened.data(), bytes);
  return static_cast<int32_t>(bytes);
}

intptr_t ShellExecuteAnsi(const char* operation, const char* file, const char* parameters,
                          const char* directory, int32_t show_command) {
  fake::World& world = TheWorld();
  world.shell_executes.push_back({operation == nullptr, file, parameters == nullptr,
                                  directory == nullptr ? "<null>" : directory, show_command});
  return world.shell_execute_result;
}

const wchar_t* GetWideCommandLine() {
  ++TheWorld().command_line_reads;
  return fake::kCommandLine;
}

wchar_t** SplitWideCommandLine(const wchar_t* command_line, int32_t* count) {
  fake::World& world = TheWorld();
  ++world.splits;
  world.split_got_own_command_line = command_line == fake::kCommandLine;
  if (world.split_fails) return nullptr;
  // One heap block holding the pointers and then the texts, as Windows
  // hands it out; freed in FreeLocalMemory so that the sanitizers see any
  // use after release and any vector never released.
  size_t bytes = (world.arguments.size() + 1) * sizeof(wchar_t*);
  for (const std::wstring& argument : world.arguments) {
    bytes += (argument.size() + 1) * sizeof(wchar_t);
  }
  auto** vector = static_cast<wchar_t**>(malloc(bytes));
  auto* text = reinterpret_cast<wchar_t*>(vector + world.arguments.size() + 1);
  for (size_t i = 0; i < world.arguments.size(); ++i) {
    vector[i] = text;
    wmemcpy(text, world.arguments[i].c_str(), world.arguments[i].size() + 1);
    text += world.arguments[i].size() + 1;
  }
  vector[world.arguments.size()] = nullptr;
  *count = static_cast<int32_t>(world.arguments.size());
  world.vector_outstanding = true;
  return vector;
}

void* FreeLocalMemory(void* memory) {
  fake::World& world = TheWorld();
  ++world.frees;
  if (memory != nullptr) {
    ++world.vectors_released;
    world.vector_outstanding = false;
    free(memory);
  }
  return nullptr;
}

}  // namespace platform
