// The stand-in program of the end-to-end suite and the demo. Installed both
// as the application and as the installer program, it records how it was
// started and ends at once: one report file per start, in the folder named
// by KAVREL_E2E_REPORTS, made whole under a temporary name and then renamed,
// so a reader never sees half a report.
//
// A report is UTF-8 text, one "key=value" line each:
//   module         its own path (GetModuleFileNameW)
//   command_line   its raw command line (GetCommandLineW)
//   argc           the argument count CommandLineToArgvW gives for it
//   cwd            its working directory
//   mark           the value of KAVREL_E2E_MARK
//   handle         what it read through the handle whose value is in
//                  KAVREL_E2E_HANDLE, or a word in parentheses saying why not
//   show_flag      1 when its startup information asks how to show its window
//   show_window    the show command asked for (wShowWindow)
//   elevation      its token's elevation type: Default, Full or Limited
//                  (TokenElevationType), or a word in parentheses saying
//                  why it cannot tell
//   user           its token's user, as a SID string
//   stdout         what its standard output is: file, pipe, console, or
//                  none
//
// With KAVREL_E2E_HOLD set to an event's name, it waits (at most 20 s) for
// that event after writing its report, so the driver can tell that kavrel
// ended without waiting for it. The event is made when no one has made it:
// the installer scenes keep the application running that way, and end it.
#include <windows.h>
// shellapi.h needs what windows.h declares.
#include <shellapi.h>
// sddl.h needs what windows.h declares.
#include <sddl.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "tests/e2e/utf8.h"

namespace {

std::wstring Environment(const wchar_t* name) {
  std::wstring value(32768, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, &value[0], static_cast<DWORD>(value.size()));
  value.resize(length < value.size() ? length : 0);
  return value;
}

std::wstring ModulePath() {
  std::wstring path(32768, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
  path.resize(length);
  return path;
}

std::wstring WorkingDirectory() {
  std::wstring path(32768, L'\0');
  const DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(path.size()), &path[0]);
  path.resize(length < path.size() ? length : 0);
  return path;
}

int ArgumentCount() {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  LocalFree(arguments);
  return arguments != nullptr ? count : -1;
}

// Reads from the start of the file behind the handle the driver made
// inheritable. Only a disk file is read: in a process that did not inherit
// it, the same number may stand for some other handle, or for none.
std::string ReadThroughInheritedHandle() {
  const std::wstring value = Environment(L"KAVREL_E2E_HANDLE");
  if (value.empty()) return "(no handle given)";
  const HANDLE handle =
      reinterpret_cast<HANDLE>(static_cast<uintptr_t>(wcstoull(value.c_str(), nullptr, 10)));
  if (GetFileType(handle) != FILE_TYPE_DISK) return "(not an open file)";
  char buffer[128];
  DWORD read = 0;
  OVERLAPPED at_start = {};
  if (!ReadFile(handle, buffer, sizeof buffer, &read, &at_start)) return "(unreadable)";
  return std::string(buffer, read);
}

std::string StandardOutput() {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return "none";
  switch (GetFileType(output)) {
    case FILE_TYPE_DISK:
      return "file";
    case FILE_TYPE_PIPE:
      return "pipe";
    case FILE_TYPE_CHAR:
      return "console";
    default:
      return "none";
  }
}

// The elevation type and the user of this program's own token.
std::string OwnToken(std::string* user) {
  *user = "(unknown)";
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "(no token)";
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  const bool typed = GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size);
  alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  wchar_t* sid = nullptr;
  if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
      ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
    *user = Utf8(sid);
    LocalFree(sid);
  }
  CloseHandle(token);
  if (!typed) return "(unknown)";
  if (type == TokenElevationTypeFull) return "Full";
  if (type == TokenElevationTypeLimited) return "Limited";
  return "Default";
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) {
  const std::wstring folder = Environment(L"KAVREL_E2E_REPORTS");
  if (folder.empty()) return 1;

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  GetStartupInfoW(&startup);
  const bool show_flag = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0;

  std::string report;
  report += "module=" + Utf8(ModulePath()) + "\n";
  report += "command_line=" + Utf8(GetCommandLineW()) + "\n";
  report += "argc=" + std::to_string(ArgumentCount()) + "\n";
  report += "cwd=" + Utf8(WorkingDirectory()) + "\n";
  report += "mark=" + Utf8(Environment(L"KAVREL_E2E_MARK")) + "\n";
  report += "handle=" + ReadThroughInheritedHandle() + "\n";
  report += "show_flag=" + std::string(show_flag ? "1" : "0") + "\n";
  report += "show_window=" + std::to_string(startup.wShowWindow) + "\n";
  std::string user;
  report += "elevation=" + OwnToken(&user) + "\n";
  report += "user=" + user + "\n";
  report += "stdout=" + StandardOutput() + "\n";

  const std::wstring name = folder + L"\\" + std::to_wstring(GetCurrentProcessId());
  const std::wstring partial = name + L".partial";
  const HANDLE file =
      CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  const bool whole =
      WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written, nullptr) &&
      written == report.size();
  CloseHandle(file);
  if (!whole || !MoveFileW(partial.c_str(), (name + L".report").c_str())) return 1;

  const std::wstring hold = Environment(L"KAVREL_E2E_HOLD");
  if (!hold.empty()) {
    const HANDLE release = CreateEventW(nullptr, TRUE, FALSE, hold.c_str());
    if (release != nullptr) {
      WaitForSingleObject(release, 20000);
      CloseHandle(release);
    }
  }
  return 0;
}
