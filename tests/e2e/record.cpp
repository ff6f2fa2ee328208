#include "tests/e2e/record.h"

#include <wchar.h>

#include <utility>

#include "tests/e2e/files.h"
#include "tests/e2e/handle.h"
#include "tests/e2e/utf8.h"

namespace {

constexpr wchar_t kInstallationKey[] = L"Software\\Merolt_01\\Pimbalo";
// How long reg.exe may take.
constexpr DWORD kImportTimeoutMs = 10000;

}  // namespace

Value Bytes(const std::wstring& name, DWORD type, std::vector<BYTE> bytes) {
  return Value{name, type, std::move(bytes)};
}

Value Text(const std::wstring& name, const std::wstring& text, DWORD type, bool with_nul) {
  std::vector<BYTE> bytes;
  for (const wchar_t unit : text) {
    bytes.push_back(static_cast<BYTE>(unit & 0xFF));
    bytes.push_back(static_cast<BYTE>(unit >> 8));
  }
  if (with_nul) bytes.insert(bytes.end(), {0, 0});
  return Value{name, type, std::move(bytes)};
}

Value AnsiBytes(const std::wstring& name, const std::wstring& text) {
  std::vector<BYTE> bytes;
  for (const wchar_t unit : text) bytes.push_back(static_cast<BYTE>(unit));
  bytes.push_back(0);
  return Value{name, REG_BINARY, std::move(bytes)};
}

Value Dword(const std::wstring& name, uint32_t number) {
  return Value{name,
               REG_DWORD,
               {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
                static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)}};
}

void DeleteRecord(REGSAM view) { RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kInstallationKey, view, 0); }

bool WriteRecord(REGSAM view, const std::vector<Value>& values) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kInstallationKey, 0, nullptr, 0, KEY_SET_VALUE | view,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  bool written = true;
  for (const Value& value : values) {
    written = written && RegSetValueExW(key, value.name.c_str(), 0, value.type,
                                        value.bytes.empty() ? nullptr : value.bytes.data(),
                                        static_cast<DWORD>(value.bytes.size())) == ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return written;
}

std::wstring RecordText(const wchar_t* name) {
  std::wstring text(32768, L'\0');
  DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kInstallationKey, name,
                   RRF_RT_REG_SZ | RRF_SUBKEY_WOW6432KEY, nullptr, &text[0],
                   &size) != ERROR_SUCCESS) {
    return std::wstring();
  }
  text.resize(wcslen(text.c_str()));
  return text;
}

bool RecordVersionIs(DWORD expected) {
  DWORD version = 0;
  DWORD size = sizeof version;
  return RegGetValueW(HKEY_LOCAL_MACHINE, kInstallationKey, L"version",
                      RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6432KEY, nullptr, &version,
                      &size) == ERROR_SUCCESS &&
         version == expected;
}

std::wstring SystemProgram(const wchar_t* name) {
  std::wstring system(MAX_PATH, L'\0');
  system.resize(GetSystemDirectoryW(&system[0], static_cast<UINT>(system.size())));
  if (system.empty() || system.size() >= MAX_PATH) return std::wstring();
  return Join(system, name);
}

std::string ImportRecord(const std::wstring& reg_file, std::wstring* setuppath,
                         std::wstring* appfile) {
  const std::wstring reg = SystemProgram(L"reg.exe");
  if (reg.empty()) return "cannot tell the system folder";
  std::wstring command_line = L"\"" + reg + L"\" import \"" + reg_file + L"\" /reg:32";
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  const Handle nowhere(CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inheritable,
                                   OPEN_EXISTING, 0, nullptr));
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = nowhere.get();
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(reg.c_str(), &command_line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return "cannot start " + Utf8(reg) + ": error " + std::to_string(GetLastError());
  }
  const Handle importing(process.hProcess);
  const Handle thread(process.hThread);
  DWORD status = 99;
  if (WaitForSingleObject(importing.get(), kImportTimeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(importing.get(), 99);
  }
  GetExitCodeProcess(importing.get(), &status);
  if (status != 0) return "reg.exe import exit code " + std::to_string(status);

  *setuppath = RecordText(L"setuppath");
  *appfile = RecordText(L"appfile");
  if (setuppath->empty() || appfile->empty()) {
    return "no setuppath and appfile in the 32-bit view after the import";
  }
  return std::string();
}
