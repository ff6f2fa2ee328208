// kavrel's only contact with Windows: one function of our own per Windows
// call, each taking the arguments of the call it stands for, in types that
// do not need <windows.h>, except that the two GetOwnModuleFileName calls
// have no module handle and ShellExecuteAnsi no window handle: kavrel passes
// null for them.
// One function stands for a whole step instead: RestrictDllSearchToSystemFolder,
// which finds its call at run time and so needs three more.
// The launcher compiles against this header alone; the build links either
// the Windows implementation (platform_windows.cpp and dll_search_windows.cpp)
// or the test double (tests/fake_platform/fake_platform.cpp).
#ifndef KAVREL_PLATFORM_PLATFORM_H_
#define KAVREL_PLATFORM_PLATFORM_H_

#include <stdint.h>

namespace platform {

// Registry status results: 0 is success, anything else a failure.
using Status = int32_t;
constexpr Status kSuccess = 0;
constexpr Status kErrorFileNotFound = 2;
constexpr Status kErrorMoreData = 234;
// A text that the active code page cannot hold exactly.
constexpr Status kErrorNoUnicodeTranslation = 1113;

// The registry value types that hold text, the only ones that the 8-bit
// registry call converts from UTF-16.
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegMultiSz = 7;

// The code page that the 8-bit calls convert with: the active one.
constexpr uint32_t kActiveCodePage = 0;

// An open registry key; opaque to the launcher.
using RegistryKey = struct OpaqueRegistryKey*;

enum class RegistryRoot { kLocalMachine };

// Access rights, with the values Windows gives them.
constexpr uint32_t kKeyRead = 0x20019;
constexpr uint32_t kKeyWow64_32Key = 0x0200;

// The show command that starts a program without showing its window.
constexpr int kShowHide = 0;

// Field for field the ANSI startup information of Windows (68 bytes in a
// 32-bit program, 104 in a 64-bit one); the Windows side checks the layout.
struct StartupInfo {
  uint32_t size;
  char* reserved;
  char* desktop;
  char* title;
  uint32_t x;
  uint32_t y;
  uint32_t x_size;
  uint32_t y_size;
  uint32_t x_count_chars;
  uint32_t y_count_chars;
  uint32_t fill_attribute;
  uint32_t flags;
  uint16_t show_window;
  uint16_t reserved2_size;
  uint8_t* reserved2;
  void* std_input;
  void* std_output;
  void* std_error;
};

// Field for field the process information that a process start fills in.
struct ProcessInformation {
  void* process;
  void* thread;
  uint32_t process_id;
  uint32_t thread_id;
};

// How restricting the DLL search went (RestrictDllSearchToSystemFolder).
enum class DllSearch {
  kRestricted,     // only the system folder is searched from now on
  kRefused,        // the call was made and failed
  kUnavailable,    // this Windows lacks the call (Vista, or 7 without KB2533623)
  kSkippedOnVista  // the call is there, but not made on Windows Vista
};

// SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32), looked up at run
// time in kernel32 (GetModuleHandleA, GetProcAddress) and not made on
// Windows Vista (GetVersion): from then on, a DLL that kavrel or the system
// code it calls loads by name comes only from the system folder, never from
// the folder kavrel was started from. It applies to this process alone;
// the programs kavrel starts do not inherit it.
DllSearch RestrictDllSearchToSystemFolder();

// RegOpenKeyExA: opens `subkey` below `root`; stores the key in *key on
// success.
Status OpenRegistryKey(RegistryRoot root, const char* subkey, uint32_t options, uint32_t access,
                       RegistryKey* key);

// RegQueryValueExA with a null type pointer: copies at most *size bytes of
// the value `name` into `data` and sets *size to the value's length. A value
// longer than *size fails with kErrorMoreData.
Status QueryRegistryValue(RegistryKey key, const char* name, uint32_t* reserved, void* data,
                          uint32_t* size);

// RegQueryValueExW: the same value as Windows holds it, in UTF-16. Copies at
// most *size bytes of the value `name` into `data`, sets *size to the
// value's length in bytes and *type to its type. A value longer than *size
// fails with kErrorMoreData.
Status QueryRegistryValueWide(RegistryKey key, const wchar_t* name, uint32_t* reserved,
                              uint32_t* type, void* data, uint32_t* size);

// RegCloseKey.
Status CloseRegistryKey(RegistryKey key);

// CreateProcessA: non-zero on success, 0 on failure. `command_line` must be
// writable or null; with null, Windows gives the new process
// `application_name` in double quotes as its command line.
int32_t CreateProcessAnsi(const char* application_name, char* command_line,
                          void* process_attributes, void* thread_attributes,
                          int32_t inherit_handles, uint32_t creation_flags, void* environment,
                          const char* current_directory, StartupInfo* startup_info,
                          ProcessInformation* process_information);

// GetModuleFileNameA with a null module: writes at most `size` bytes of the
// program's own path to `buffer` and returns the number of characters
// written, or 0 on failure. A return of `size` means the path was cut.
uint32_t GetOwnModuleFileName(char* buffer, uint32_t size);

// GetModuleFileNameW with a null module: the same, as Windows holds the path,
// in UTF-16 code units.
uint32_t GetOwnModuleFileNameWide(wchar_t* buffer, uint32_t size);

// MultiByteToWideChar: converts `length` bytes of `text` (-1: up to and
// with its NUL) from `code_page` into at most `capacity` UTF-16 units at
// `wide`. Returns the units written, or 0 on failure, also when the result
// does not fit.
int32_t MultiByteToWide(uint32_t code_page, uint32_t flags, const char* text, int32_t length,
                        wchar_t* wide, int32_t capacity);

// ShellExecuteA with a null owner window: starts `file` by the verb
// `operation` (null: the default verb). Returns the shell's result, a value
// above 32 on success.
intptr_t ShellExecuteAnsi(const char* operation, const char* file, const char* parameters,
                          const char* directory, int32_t show_command);

// GetCommandLineW: the program's whole command line.
const wchar_t* GetWideCommandLine();

// CommandLineToArgvW: splits `command_line` into arguments by the Windows
// rules and stores their count in *count; null on failure. The vector is
// released with FreeLocalMemory.
wchar_t** SplitWideCommandLine(const wchar_t* command_line, int32_t* count);

// LocalFree; releasing null is harmless.
void* FreeLocalMemory(void* memory);

}  // namespace platform

#endif  // KAVREL_PLATFORM_PLATFORM_H_
