// The Windows implementation of platform.h: each function is the one Windows
// call it is named for, with the launcher's neutral types converted to the
// Windows ones. Nothing here decides anything.
#include <stddef.h>
#include <windows.h>

#include "platform/platform.h"
// shellapi.h needs what windows.h declares.
#include <shellapi.h>

namespace platform {
namespace {

static_assert(kKeyRead == KEY_READ, "KEY_READ");
static_assert(kKeyWow64_32Key == KEY_WOW64_32KEY, "KEY_WOW64_32KEY");
static_assert(kShowHide == SW_HIDE, "SW_HIDE");
static_assert(kErrorMoreData == ERROR_MORE_DATA, "ERROR_MORE_DATA");
static_assert(kErrorFileNotFound == ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND");
static_assert(kErrorNoUnicodeTranslation == ERROR_NO_UNICODE_TRANSLATION,
              "ERROR_NO_UNICODE_TRANSLATION");
static_assert(kRegSz == REG_SZ && kRegExpandSz == REG_EXPAND_SZ && kRegMultiSz == REG_MULTI_SZ,
              "REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ");
static_assert(kActiveCodePage == CP_ACP, "CP_ACP");
static_assert(sizeof(wchar_t) == sizeof(WCHAR), "WCHAR");
static_assert(sizeof(DWORD) == sizeof(uint32_t), "DWORD");
static_assert(sizeof(LONG) == sizeof(Status), "LONG");

// StartupInfo and ProcessInformation are handed to Windows as they are, so
// they must match the Windows structures byte for byte.
static_assert(sizeof(StartupInfo) == sizeof(STARTUPINFOA), "STARTUPINFOA size");
static_assert(sizeof(void*) != 4 || sizeof(StartupInfo) == 68,
              "STARTUPINFOA is 68 bytes in a 32-bit program");
static_assert(offsetof(StartupInfo, flags) == offsetof(STARTUPINFOA, dwFlags), "dwFlags");
static_assert(offsetof(StartupInfo, show_window) == offsetof(STARTUPINFOA, wShowWindow),
              "wShowWindow");
static_assert(offsetof(StartupInfo, reserved2) == offsetof(STARTUPINFOA, lpReserved2),
              "lpReserved2");
static_assert(offsetof(StartupInfo, std_error) == offsetof(STARTUPINFOA, hStdError), "hStdError");
static_assert(sizeof(ProcessInformation) == sizeof(PROCESS_INFORMATION),
              "PROCESS_INFORMATION size");
static_assert(offsetof(ProcessInformation, thread_id) == offsetof(PROCESS_INFORMATION, dwThreadId),
              "dwThreadId");

HKEY RootKey(RegistryRoot root) {
  switch (root) {
    case RegistryRoot::kLocalMachine:
      break;
  }
  return HKEY_LOCAL_MACHINE;
}

}  // namespace

Status OpenRegistryKey(RegistryRoot root, const char* subkey, uint32_t options, uint32_t access,
                       RegistryKey* key) {
  HKEY opened = nullptr;
  const LONG status = RegOpenKeyExA(RootKey(root), subkey, options, access, &opened);
  *key = reinterpret_cast<RegistryKey>(opened);
  return status;
}

Status QueryRegistryValue(RegistryKey key, const char* name, uint32_t* reserved, void* data,
                          uint32_t* size) {
  return RegQueryValueExA(reinterpret_cast<HKEY>(key), name, reinterpret_cast<DWORD*>(reserved),
                          nullptr, static_cast<BYTE*>(data), reinterpret_cast<DWORD*>(size));
}

Status QueryRegistryValueWide(RegistryKey key, const wchar_t* name, uint32_t* reserved,
                              uint32_t* type, void* data, uint32_t* size) {
  return RegQueryValueExW(reinterpret_cast<HKEY>(key), name, reinterpret_cast<DWORD*>(reserved),
                          reinterpret_cast<DWORD*>(type), static_cast<BYTE*>(data),
                          reinterpret_cast<DWORD*>(size));
}

Status CloseRegistryKey(RegistryKey key) { return RegCloseKey(reinterpret_cast<HKEY>(key)); }

int32_t CreateProcessAnsi(const char* application_name, char* command_line,
                          void* process_attributes, void* thread_attributes,
                          int32_t inherit_handles, uint32_t creation_flags, void* environment,
                          const char* current_directory, StartupInfo* startup_info,
                          ProcessInformation* process_information) {
  return CreateProcessA(
      application_name, command_line, static_cast<SECURITY_ATTRIBUTES*>(process_attributes),
      static_cast<SECURITY_ATTRIBUTES*>(thread_attributes), inherit_handles, creation_flags,
      environment, current_directory, reinterpret_cast<STARTUPINFOA*>(startup_info),
      reinterpret_cast<PROCESS_INFORMATION*>(process_information));
}

uint32_t GetOwnModuleFileName(char* buffer, uint32_t size) {
  return GetModuleFileNameA(nullptr, buffer, size);
}

uint32_t GetOwnModuleFileNameWide(wchar_t* buffer, uint32_t size) {
  return GetModuleFileNameW(nullptr, buffer, size);
}

int32_t MultiByteToWide(uint32_t code_page, uint32_t flags, const char* text, int32_t length,
                        wchar_t* wide, int32_t capacity) {
  return MultiByteToWideChar(code_page, flags, text, length, wide, capacity);
}

intptr_t ShellExecuteAnsi(const char* operation, const char* file, const char* parameters,
                          const char* directory, int32_t show_command) {
  return reinterpret_cast<intptr_t>(
      ShellExecuteA(nullptr, operation, file, parameters, directory, show_command));
}

const wchar_t* GetWideCommandLine() { return GetCommandLineW(); }

wchar_t** SplitWideCommandLine(const wchar_t* command_line, int32_t* count) {
  int split_count = 0;
  wchar_t** arguments = CommandLineToArgvW(command_line, &split_count);
  *count = split_count;
  return arguments;
}

void* FreeLocalMemory(void* memory) { return LocalFree(static_cast<HLOCAL>(memory)); }

}  // namespace platform
