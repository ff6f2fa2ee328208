#include "tests/e2e/sandbox_config.h"

#include <wctype.h>
#include <windows.h>

#include "tests/e2e/files.h"
#include "tests/e2e/handle.h"
#include "tests/e2e/output.h"
#include "tests/e2e/utf8.h"

namespace {

// Why `folder` cannot be a mapped host folder, or nothing.
std::string Unfit(const std::wstring& folder) {
  const bool on_drive =
      folder.size() >= 3 && iswalpha(folder[0]) && folder[1] == L':' && folder[2] == L'\\';
  const bool on_share = folder.size() > 2 && folder[0] == L'\\' && folder[1] == L'\\' &&
                        folder[2] != L'?' && folder[2] != L'.';
  if (!on_drive && !on_share) return "is not a full path (C:\\... or \\\\server\\share\\...)";
  for (const wchar_t c : folder) {
    // What XML cannot carry at all; no Windows file name holds it either.
    if (c < 0x20 || c == 0xFFFE || c == 0xFFFF) return "holds a control character";
  }
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return "is not an existing folder";
  }
  return std::string();
}

// `folder` in UTF-8, XML-escaped; false when it has no exact UTF-8 (a lone
// surrogate).
bool XmlText(const std::wstring& folder, std::string* xml) {
  std::string utf8;
  if (!Utf8Exact(folder, &utf8)) return false;
  xml->clear();
  for (const char c : utf8) {
    switch (c) {
      case '&':
        *xml += "&amp;";
        break;
      case '<':
        *xml += "&lt;";
        break;
      case '>':
        *xml += "&gt;";
        break;
      case '"':
        *xml += "&quot;";
        break;
      case '\'':
        *xml += "&apos;";
        break;
      default:
        *xml += c;
    }
  }
  return true;
}

// Takes `folder` into `xml` as XML text; tells why it cannot be, with the
// folder named, or nothing.
std::string FolderAsXml(const std::wstring& folder, std::string* xml) {
  std::string why = Unfit(folder);
  if (why.empty() && !XmlText(folder, xml)) why = "is not whole UTF-16 (a lone surrogate)";
  return why.empty() ? why : Utf8(folder) + " " + why;
}

}  // namespace

int SandboxConfigMode(const std::wstring& kit_folder, const std::wstring& result_folder) {
  std::string kit;
  std::string result;
  std::string why = FolderAsXml(kit_folder, &kit);
  if (why.empty()) why = FolderAsXml(result_folder, &result);
  if (!why.empty()) {
    Say("sandbox-config: " + why);
    return 1;
  }
  const std::string configuration =
      "<Configuration>\r\n"
      "  <Networking>Disable</Networking>\r\n"
      "  <MappedFolders>\r\n"
      "    <MappedFolder>\r\n"
      "      <HostFolder>" +
      kit +
      "</HostFolder>\r\n"
      "      <SandboxFolder>C:\\kavrel-check\\kit</SandboxFolder>\r\n"
      "      <ReadOnly>true</ReadOnly>\r\n"
      "    </MappedFolder>\r\n"
      "    <MappedFolder>\r\n"
      "      <HostFolder>" +
      result +
      "</HostFolder>\r\n"
      "      <SandboxFolder>C:\\kavrel-check\\result</SandboxFolder>\r\n"
      "      <ReadOnly>false</ReadOnly>\r\n"
      "    </MappedFolder>\r\n"
      "  </MappedFolders>\r\n"
      "  <LogonCommand>\r\n"
      "    <Command>C:\\Windows\\System32\\cmd.exe /d /c "
      "C:\\kavrel-check\\kit\\check.cmd sandbox-table</Command>\r\n"
      "  </LogonCommand>\r\n"
      "</Configuration>\r\n";
  const std::wstring path = Join(result_folder, L"kavrel-check.wsb");
  // Not in the extended form, which a folder on a share would need spelt
  // otherwise: the Sandbox takes no path longer than MAX_PATH either way. A
  // symbolic link placed there is a name that is there, never followed.
  const Handle file(CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.valid()) {
    const DWORD error = GetLastError();
    Say("sandbox-config: " + Utf8(path) +
        (error == ERROR_FILE_EXISTS
             ? " is there already; the configuration goes only into a new file: name a new "
               "result folder"
             : " cannot be made: error " + std::to_string(error)));
    return 1;
  }
  DWORD written = 0;
  if (!WriteFile(file.get(), configuration.data(), static_cast<DWORD>(configuration.size()),
                 &written, nullptr) ||
      written != configuration.size()) {
    const DWORD error = GetLastError();
    // The file this call made, by its handle: deleted when it closes.
    FILE_DISPOSITION_INFO dispose = {TRUE};
    SetFileInformationByHandle(file.get(), FileDispositionInfo, &dispose, sizeof dispose);
    Say("sandbox-config: " + Utf8(path) + " cannot be written: error " + std::to_string(error));
    return 1;
  }
  return 0;
}
