#include "tests/e2e/output.h"

#include <stdio.h>
#include <windows.h>

#include "tests/e2e/utf8.h"

namespace {

HANDLE log_file = INVALID_HANDLE_VALUE;
std::wstring log_path;
DWORD log_error = ERROR_SUCCESS;

}  // namespace

std::string OpenLog(const std::wstring& path) {
  // Shared for reading, so that the log can be watched while the table runs.
  // Windows follows a symbolic link even to create a file new, and makes
  // the file it names: opened as itself, a link is a name that is there.
  log_file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (log_file != INVALID_HANDLE_VALUE) {
    log_path = path;
    return std::string();
  }
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
    return "the log " + Utf8(path) +
           " is there already; it is made new, never written through what is there: delete it, "
           "or name another";
  }
  return "the log " + Utf8(path) + " cannot be made: error " + std::to_string(error);
}

void Say(const std::string& line) {
  fputs(line.c_str(), stdout);
  fputs("\n", stdout);
  fflush(stdout);
  if (log_file == INVALID_HANDLE_VALUE || log_error != ERROR_SUCCESS) return;
  const std::string written = line + "\r\n";
  DWORD count = 0;
  if (!WriteFile(log_file, written.data(), static_cast<DWORD>(written.size()), &count, nullptr) ||
      count != written.size()) {
    log_error = GetLastError();
    if (log_error == ERROR_SUCCESS) log_error = ERROR_WRITE_FAULT;
  }
}

std::string LogFault() {
  if (log_error == ERROR_SUCCESS) return std::string();
  return "the log " + Utf8(log_path) + " is not whole: writing to it failed with error " +
         std::to_string(log_error);
}

void KitLine(bool ok, const char* subject, const std::string& found) {
  Say(std::string(ok ? "kit: ok   " : "kit: FAIL ") + subject + ": " + found);
}
