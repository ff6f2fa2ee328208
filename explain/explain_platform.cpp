#include "explain/explain_platform.h"

#include <string.h>
#include <windows.h>

#include "explain/explain_text.h"
#include "platform/platform.h"
// shellapi.h needs what windows.h declares.
#include <shellapi.h>

namespace explain {
namespace {

Trace trace;
std::string kavrel_path;
size_t own_arguments = 0;

bool IsFolder(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Why `path` is not a file to start, or empty when it is one. With
// `program`, the file must also begin as a Windows program does (an MZ
// header pointing to a PE signature), or process creation refuses it.
std::string WhyNotStartable(const char* path, bool program) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return "no file is there (" + DescribeStatus(static_cast<int32_t>(GetLastError())) + ")";
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return "a folder is there, not a file";
  if (!program) return std::string();

  auto* const file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return "the file cannot be read (" + DescribeStatus(static_cast<int32_t>(GetLastError())) + ")";
  }
  unsigned char header[64] = {};
  DWORD read = 0;
  bool is_program = ReadFile(file, header, sizeof header, &read, nullptr) != 0 &&
                    read == sizeof header && header[0] == 'M' && header[1] == 'Z';
  if (is_program) {
    unsigned char signature[4] = {};
    const LONG pe_offset = static_cast<LONG>(
        static_cast<DWORD>(header[60]) | static_cast<DWORD>(header[61]) << 8 |
        static_cast<DWORD>(header[62]) << 16 | static_cast<DWORD>(header[63]) << 24);
    is_program = SetFilePointer(file, pe_offset, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
                 ReadFile(file, signature, sizeof signature, &read, nullptr) != 0 &&
                 read == sizeof signature && memcmp(signature, "PE\0\0", 4) == 0;
  }
  CloseHandle(file);
  if (!is_program) return "the file there is not a Windows program (no MZ/PE header)";
  return std::string();
}

// The folder's path in full, without a closing backslash.
std::wstring FullFolder(const std::wstring& folder) {
  std::wstring full(32768, L'\0');
  const DWORD length =
      GetFullPathNameW(folder.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  full.resize(length < full.size() ? length : 0);
  while (!full.empty() && full.back() == L'\\') full.pop_back();
  return full;
}

std::wstring OwnFolder() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path.substr(0, path.find_last_of(L'\\'));
}

// The path in the ANSI code page, as the 8-bit call gives it to kavrel.
std::string Ansi(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), size,
                      nullptr, nullptr);
  return result;
}

}  // namespace

std::vector<std::wstring> OwnArguments() {
  int count = 0;
  wchar_t** split = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::wstring> arguments;
  if (split != nullptr) arguments.assign(split, split + count);
  LocalFree(split);
  return arguments;
}

std::string KavrelPathIn(const std::wstring& folder) {
  const std::wstring full = FullFolder(folder.empty() ? OwnFolder() : folder);
  if (full.empty()) return std::string();
  return Ansi(full + L"\\kavrel.exe");
}

void Configure(const std::string& path, size_t arguments) {
  trace = Trace();
  kavrel_path = path;
  own_arguments = arguments;
}

const Trace& Recorded() { return trace; }

}  // namespace explain

namespace platform {

Status OpenRegistryKey(RegistryRoot /*root*/, const char* subkey, uint32_t options, uint32_t access,
                       RegistryKey* key) {
  HKEY opened = nullptr;
  const LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, options, access, &opened);
  *key = reinterpret_cast<RegistryKey>(opened);
  explain::trace.key_open_tried = true;
  explain::trace.key_status = status;
  return status;
}

Status QueryRegistryValue(RegistryKey key, const char* name, uint32_t* reserved, void* data,
                          uint32_t* size) {
  explain::ValueRead read;
  read.name = name;
  read.capacity = *size;
  read.status =
      RegQueryValueExA(reinterpret_cast<HKEY>(key), name, reinterpret_cast<DWORD*>(reserved),
                       nullptr, static_cast<BYTE*>(data), reinterpret_cast<DWORD*>(size));
  read.size = *size;
  read.data.assign(static_cast<const char*>(data), read.capacity);
  // kavrel asks for no type; kavrel-explain asks on its own, to show it.
  DWORD type = 0;
  read.type_known = RegQueryValueExA(reinterpret_cast<HKEY>(key), name, nullptr, &type, nullptr,
                                     nullptr) == ERROR_SUCCESS;
  read.type = type;
  explain::trace.values.push_back(read);
  return read.status;
}

Status CloseRegistryKey(RegistryKey key) { return RegCloseKey(reinterpret_cast<HKEY>(key)); }

int32_t CreateProcessAnsi(const char* application_name, char* /*command_line*/,
                          void* /*process_attributes*/, void* /*thread_attributes*/,
                          int32_t /*inherit_handles*/, uint32_t /*creation_flags*/,
                          void* /*environment*/, const char* current_directory,
                          StartupInfo* /*startup_info*/, ProcessInformation* process_information) {
  explain::Start& start = explain::trace.application;
  start.made = true;
  start.program = application_name;
  start.directory = current_directory != nullptr ? current_directory : "";
  start.why_not = explain::WhyNotStartable(application_name, /*program=*/true);
  if (start.why_not.empty() && current_directory != nullptr &&
      !explain::IsFolder(current_directory)) {
    start.why_not = "its working directory is not a folder that is there";
  }
  start.would_succeed = start.why_not.empty();
  memset(process_information, 0, sizeof *process_information);
  return start.would_succeed ? 1 : 0;
}

uint32_t GetOwnModuleFileName(char* buffer, uint32_t size) {
  // As GetModuleFileNameA: a path that does not fit is cut to size - 1
  // bytes and its NUL, and the call returns size.
  const std::string& path = explain::kavrel_path;
  explain::trace.module_path_asked = true;
  explain::trace.module_path = path;
  explain::trace.module_limit = size;
  if (size == 0) return 0;
  const size_t copied = path.size() < size ? path.size() : size - 1;
  memcpy(buffer, path.data(), copied);
  buffer[copied] = '\0';
  explain::trace.module_length = path.size() < size ? static_cast<uint32_t>(path.size()) : size;
  return explain::trace.module_length;
}

intptr_t ShellExecuteAnsi(const char* /*operation*/, const char* file, const char* /*parameters*/,
                          const char* directory, int32_t /*show_command*/) {
  explain::Start& start = explain::trace.installer;
  start.made = true;
  start.program = file;
  start.directory = directory != nullptr ? directory : "";
  start.why_not = explain::WhyNotStartable(file, /*program=*/false);
  start.would_succeed = start.why_not.empty();
  // Above 32 is success; 2 is the shell's "file not found".
  return start.would_succeed ? 33 : 2;
}

const wchar_t* GetWideCommandLine() { return GetCommandLineW(); }

wchar_t** SplitWideCommandLine(const wchar_t* command_line, int32_t* count) {
  int split_count = 0;
  wchar_t** arguments = CommandLineToArgvW(command_line, &split_count);
  *count = split_count;
  if (arguments == nullptr) return nullptr;
  // kavrel-explain's own options go; what follows moves up behind the
  // program name, in the same block, which LocalFree still releases whole.
  const size_t total = static_cast<size_t>(split_count);
  const size_t own = explain::own_arguments < total ? explain::own_arguments : total - 1;
  for (size_t i = 1; i + own < total; ++i) arguments[i] = arguments[i + own];
  if (own > 0) arguments[total - own] = nullptr;
  *count = static_cast<int32_t>(total - own);

  explain::trace.command_line_split = true;
  explain::trace.kavrel_arguments.assign(arguments + 1, arguments + *count);
  return arguments;
}

void* FreeLocalMemory(void* memory) { return LocalFree(static_cast<HLOCAL>(memory)); }

}  // namespace platform
