#include "explain/explain_platform.h"

#include <string.h>
#include <windows.h>

#include <algorithm>

#include "explain/explain_text.h"
#include "platform/platform.h"
// shellapi.h needs what windows.h declares.
#include <shellapi.h>

namespace explain {
namespace {

Trace trace;
std::wstring kavrel_path_held;
std::string kavrel_path;
size_t own_arguments = 0;

// As GetModuleFileNameA and GetModuleFileNameW: writes `path` into the
// `size` elements at `buffer`, cut to size - 1 and its NUL when it does not
// fit, and returns its length, or size when it was cut.
template <typename Char>
uint32_t CopyModulePath(const std::basic_string<Char>& path, Char* buffer, uint32_t size) {
  if (size == 0) return 0;
  const size_t copied = path.size() < size ? path.size() : size - 1;
  std::copy_n(path.data(), copied, buffer);
  buffer[copied] = Char();
  return path.size() < size ? static_cast<uint32_t>(path.size()) : size;
}

bool IsFolder(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The execution level that the program file's embedded manifest (resource
// type 24, id 1, the one Windows reads when it creates the process) asks
// for: "asInvoker", "highestAvailable", "requireAdministrator", or empty
// when it names none. The file is mapped as data: none of its code runs.
std::string RequestedLevel(const char* path) {
  const HMODULE image =
      LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (image == nullptr) return std::string();
  std::string manifest;
  HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  const HGLOBAL loaded = found != nullptr ? LoadResource(image, found) : nullptr;
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (bytes != nullptr)
    manifest.assign(static_cast<const char*>(bytes), SizeofResource(image, found));
  FreeLibrary(image);
  size_t at = manifest.find("requestedExecutionLevel");
  if (at != std::string::npos) at = manifest.find("level=", at);
  if (at == std::string::npos || at + 7 >= manifest.size()) return std::string();
  const size_t end = manifest.find(manifest[at + 6], at + 7);
  return end == std::string::npos ? std::string() : manifest.substr(at + 7, end - at - 7);
}

// Why Windows would refuse to create a program that asks for `level` for
// kavrel, which runs with the rights kavrel-explain has: it asks for
// administrator rights that these are not (ERROR_ELEVATION_REQUIRED).
// Empty when it would not refuse for that.
std::string WhyElevationIsRefused(const std::string& level) {
  const bool administrator = level == "requireAdministrator";
  if (!administrator && level != "highestAvailable") return std::string();
  HANDLE token = nullptr;
  TOKEN_ELEVATION elevation = {};
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) != 0) {
    GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size);
    CloseHandle(token);
  }
  if (elevation.TokenIsElevated != 0) return std::string();
  // The highest level of a standard user is its own: that start succeeds.
  // An administrator's filtered rights are not its highest.
  if (!administrator && type != TokenElevationTypeLimited) return std::string();
  // 740 is ERROR_ELEVATION_REQUIRED, which mingw-w64's headers lack.
  return "its manifest asks for level=\"" + level +
         "\" and kavrel, started with the rights kavrel-explain has, runs without "
         "administrator rights: Windows refuses to create it (" +
         DescribeStatus(740) + ")";
}

// Whether this Windows runs programs made for `machine`, by its processor:
// x64 Windows runs x86 programs too, and ARM64 Windows x86, x64 and ARM.
bool RunsHere(WORD machine) {
  SYSTEM_INFO system = {};
  GetNativeSystemInfo(&system);
  // The field lies in a union of the structure Windows defines.
  switch (system.wProcessorArchitecture) {  // NOLINT(cppcoreguidelines-pro-type-union-access)
    case PROCESSOR_ARCHITECTURE_INTEL:
      return machine == IMAGE_FILE_MACHINE_I386;
    case PROCESSOR_ARCHITECTURE_AMD64:
      return machine == IMAGE_FILE_MACHINE_I386 || machine == IMAGE_FILE_MACHINE_AMD64;
    case PROCESSOR_ARCHITECTURE_ARM64:
      return machine == IMAGE_FILE_MACHINE_I386 || machine == IMAGE_FILE_MACHINE_AMD64 ||
             machine == IMAGE_FILE_MACHINE_ARM64 || machine == IMAGE_FILE_MACHINE_ARMNT;
    default:
      return true;  // a processor kavrel-explain does not know: it cannot tell
  }
}

// Why `path` is not a file to start, or empty when it is one. With
// `program`, the file must also be a Windows program that Windows creates
// for kavrel: an MZ header pointing to a PE signature, a program and not a
// DLL, for a processor this Windows runs, asking for no rights kavrel lacks.
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
  // The PE signature and the file header after it: the machine at 4, the
  // characteristics at 22.
  unsigned char pe[24] = {};
  DWORD read = 0;
  bool is_program = ReadFile(file, header, sizeof header, &read, nullptr) != 0 &&
                    read == sizeof header && header[0] == 'M' && header[1] == 'Z';
  if (is_program) {
    const LONG pe_offset = static_cast<LONG>(
        static_cast<DWORD>(header[60]) | static_cast<DWORD>(header[61]) << 8 |
        static_cast<DWORD>(header[62]) << 16 | static_cast<DWORD>(header[63]) << 24);
    is_program = SetFilePointer(file, pe_offset, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
                 ReadFile(file, pe, sizeof pe, &read, nullptr) != 0 && read == sizeof pe &&
                 memcmp(pe, "PE\0\0", 4) == 0;
  }
  CloseHandle(file);
  if (!is_program) return "the file there is not a Windows program (no MZ/PE header)";
  const auto machine = static_cast<WORD>(pe[4] | pe[5] << 8);
  const auto characteristics = static_cast<WORD>(pe[22] | pe[23] << 8);
  if ((characteristics & IMAGE_FILE_DLL) != 0) {
    return "the file there is a DLL, not a program: Windows refuses to create a process of it";
  }
  if (!RunsHere(machine)) {
    return "the file there is a program for another processor (machine " + DecimalAndHex(machine) +
           "), which this Windows cannot run: Windows refuses to "
           "create it";
  }
  return WhyElevationIsRefused(RequestedLevel(path));
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

}  // namespace

std::vector<std::wstring> OwnArguments() {
  int count = 0;
  wchar_t** split = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::wstring> arguments;
  if (split != nullptr) arguments.assign(split, split + count);
  LocalFree(split);
  return arguments;
}

std::wstring KavrelPathIn(const std::wstring& folder) {
  const std::wstring full = FullFolder(folder.empty() ? OwnFolder() : folder);
  if (full.empty()) return std::wstring();
  return full + L"\\kavrel.exe";
}

std::string Ansi(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), size,
                      nullptr, nullptr);
  return result;
}

std::string WhyNotExact(const std::string& text, const std::wstring& held) {
  std::wstring back(text.size() + 1, L'\0');
  const int units = text.empty()
                        ? 0
                        : MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                              back.data(), static_cast<int>(back.size()));
  back.resize(units > 0 ? static_cast<size_t>(units) : 0);
  if (back == held) return std::string();
  size_t at = 0;
  while (at < back.size() && at < held.size() && back[at] == held[at]) ++at;
  const std::string code_page = "code page " + std::to_string(GetACP());
  if (at >= held.size())
    return code_page + " gives more than Windows holds: " + QuoteWide(held.c_str());
  std::string why = code_page + " cannot hold " + QuoteWide(held.substr(at, 1).c_str()) + " of " +
                    QuoteWide(held.c_str()) + " exactly";
  if (at < back.size())
    why += "; Windows gave kavrel " + QuoteWide(back.substr(at, 1).c_str()) + " in its place";
  return why;
}

void Configure(const std::wstring& path, size_t arguments) {
  trace = Trace();
  kavrel_path_held = path;
  kavrel_path = Ansi(path);
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

Status QueryRegistryValueWide(RegistryKey key, const wchar_t* name, uint32_t* reserved,
                              uint32_t* type, void* data, uint32_t* size) {
  const uint32_t capacity = *size;
  const LONG status = RegQueryValueExW(
      reinterpret_cast<HKEY>(key), name, reinterpret_cast<DWORD*>(reserved),
      reinterpret_cast<DWORD*>(type), static_cast<BYTE*>(data), reinterpret_cast<DWORD*>(size));
  // kavrel reads a value again right after its 8-bit read, the last one made.
  if (!explain::trace.values.empty()) {
    explain::ValueRead& read = explain::trace.values.back();
    read.held_read = true;
    read.held_status = status;
    read.held_type = *type;
    if (status == ERROR_SUCCESS) {
      const auto* units = static_cast<const wchar_t*>(data);
      const size_t count = (*size < capacity ? *size : capacity) / sizeof(wchar_t);
      read.held.assign(units, units + count);
      read.held.resize(read.held.find(L'\0') == std::wstring::npos ? count : read.held.find(L'\0'));
    }
  }
  return status;
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
  explain::trace.module_path_asked = true;
  explain::trace.module_path = explain::kavrel_path;
  explain::trace.module_limit = size;
  explain::trace.module_length = explain::CopyModulePath(explain::kavrel_path, buffer, size);
  return explain::trace.module_length;
}

uint32_t GetOwnModuleFileNameWide(wchar_t* buffer, uint32_t size) {
  explain::trace.module_path_held_asked = true;
  explain::trace.module_path_held = explain::kavrel_path_held;
  explain::trace.module_held_limit = size;
  return explain::CopyModulePath(explain::kavrel_path_held, buffer, size);
}

int32_t MultiByteToWide(uint32_t code_page, uint32_t flags, const char* text, int32_t length,
                        wchar_t* wide, int32_t capacity) {
  return MultiByteToWideChar(code_page, flags, text, length, wide, capacity);
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
