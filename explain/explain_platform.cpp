#include "explain/explain_platform.h"

#include <string.h>
#include <windows.h>

#include <algorithm>

#include "explain/explain_text.h"
#include "explain/explain_trial.h"
#include "platform/platform.h"
// shellapi.h needs what windows.h declares.
#include <shellapi.h>

namespace explain {
namespace {

Trace trace;
std::wstring kavrel_path_held;
std::string kavrel_path;
size_t own_arguments = 0;
bool trial = true;

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

// `path` in full, as GetFullPathNameW makes it; empty when it cannot.
std::wstring FullPath(const std::wstring& path) {
  std::wstring full(32768, L'\0');
  const DWORD length =
      GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  full.resize(length < full.size() ? length : 0);
  return full;
}

// kavrel-explain's own folder, with its closing backslash, so that a drive's
// root stays a root (C:\ rather than C:, which names that drive's working
// directory).
std::wstring OwnFolder() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

// The attributes of the full path `full`, asked in its extended form so
// that a path over MAX_PATH is found too.
DWORD AttributesOf(const std::wstring& full) {
  const std::wstring extended =
      full.compare(0, 2, L"\\\\") == 0 ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
  return GetFileAttributesW(extended.c_str());
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

std::wstring WhereToLook(const std::wstring& beside, std::string* problem) {
  std::wstring full = FullPath(beside.empty() ? OwnFolder() : beside);
  if (full.empty()) {
    *problem = beside.empty()
                   ? "kavrel-explain's own folder cannot be made a full path"
                   : "--beside " + QuoteWide(beside.c_str()) + " cannot be made a full path";
  }
  return full;
}

Found FoundAt(const std::wstring& path) {
  const DWORD attributes = AttributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return Found::kNothing;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Found::kFolder : Found::kFile;
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

std::string TakeKavrelsFolder(const std::wstring& kavrel_path) {
  const std::wstring folder = kavrel_path.substr(0, kavrel_path.rfind(L'\\') + 1);
  if (SetCurrentDirectoryW(folder.c_str()) != 0) return std::string();
  const auto error = static_cast<int32_t>(GetLastError());
  std::wstring own(32768, L'\0');
  own.resize(GetCurrentDirectoryW(static_cast<DWORD>(own.size()), own.data()));
  return "kavrel's folder cannot be made kavrel-explain's (" + DescribeStatus(error) +
         "), so relative paths are taken from " + QuoteWide(own.c_str());
}

void Configure(const std::wstring& path, size_t arguments, bool ask_windows) {
  trace = Trace();
  kavrel_path_held = path;
  kavrel_path = Ansi(path);
  own_arguments = arguments;
  trial = ask_windows;
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

int32_t CreateProcessAnsi(const char* application_name, char* command_line,
                          void* process_attributes, void* thread_attributes,
                          int32_t inherit_handles, uint32_t creation_flags, void* environment,
                          const char* current_directory, StartupInfo* startup_info,
                          ProcessInformation* process_information) {
  explain::Start& start = explain::trace.application;
  start.made = true;
  start.program = application_name;
  start.directory = current_directory != nullptr ? current_directory : "";
  start.reading = explain::ReadProgramFile(start.program, explain::Starter::kProcessCreation);
  if (start.reading.outcome == explain::Outcome::kStarts && current_directory != nullptr &&
      !explain::IsFolder(current_directory)) {
    start.reading.outcome = explain::Outcome::kRefused;
    start.reading.why = "its working directory is not a folder that is there (" +
                        explain::DescribeStatus(ERROR_DIRECTORY) + ")";
  }
  start.outcome = start.reading.outcome;
  if (explain::trial) {
    const explain::Answer answer = explain::CreateSuspendedAndEnd(
        application_name, command_line, process_attributes, thread_attributes, inherit_handles,
        creation_flags, environment, current_directory, startup_info);
    start.asked = true;
    start.answer = answer;
    start.outcome = answer.created ? explain::Outcome::kStarts : explain::Outcome::kRefused;
  }
  memset(process_information, 0, sizeof *process_information);
  // A start that reading cannot judge goes on as a failed one, the road
  // that has more to tell.
  return start.outcome == explain::Outcome::kStarts ? 1 : 0;
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
                          const char* directory, int32_t show_command) {
  explain::Start& start = explain::trace.installer;
  start.made = true;
  start.program = file;
  start.directory = directory != nullptr ? directory : "";
  start.reading = explain::ReadProgramFile(start.program, explain::Starter::kShell);
  start.outcome = start.reading.outcome;
  start.after_asking = start.reading.after_asking;
  if (explain::trial) {
    const explain::Answer answer = explain::AskAsTheShellStarts(file, directory, show_command);
    start.asked = true;
    start.answer = answer;
    // What Windows refuses to create without administrator rights, the
    // shell starts after asking for them.
    start.after_asking = !answer.created && answer.error == 740;
    start.outcome = answer.created || start.after_asking ? explain::Outcome::kStarts
                                                         : explain::Outcome::kRefused;
  }
  // Above 32 is success; 2 is the shell's "file not found".
  return start.outcome == explain::Outcome::kStarts ? 33 : 2;
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
