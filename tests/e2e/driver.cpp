// The end-to-end suite: the real kavrel.exe, started the way a caller starts
// it, in each situation of the table in Cases(), under Wine.
//
//   e2e_driver [--throwaway-machine] run KAVREL_EXE WORK_FOLDER SPARE_DRIVE SAMPLE_REG
//       runs every case; WORK_FOLDER (say C:\kavrel-e2e) is emptied and
//       used for the cases' files, SPARE_DRIVE (say K:) must be a drive
//       whose root may hold kavrel for the case that starts it there, and
//       SAMPLE_REG is the sample installation record for installers, which
//       one case imports with reg.exe.
//       WORK_FOLDER must not exist yet: the driver makes it, writable only
//       by administrators and SYSTEM (see MakeNewFolder), and removes it at
//       the end. Prints one line per case ("ok", "FAIL", or "skip" with the
//       reason, for a case this machine's token cannot run) and last
//       "N passed, M failed, K skipped"; exits 1 on any failure, or when no
//       case passed.
//   e2e_driver [--throwaway-machine] demo KAVREL_EXE
//       runs kavrel in three everyday situations and tells what started,
//       then removes C:\kavrel, C:\Pimbalo, C:\kavrel-demo and the record.
//   e2e_driver [--throwaway-machine] folder NEW_FOLDER
//       makes NEW_FOLDER, which must not exist yet, as WORK_FOLDER is made:
//       the check kit's folder for the spare drive.
//
// The driver changes the machine it runs on: it writes and deletes the
// installation record HKLM\Software\Merolt_01\Pimbalo in both registry
// views and empties the folders it works in. So it runs only under Wine (in
// the throwaway prefix of tests/e2e/run and scripts/demo), or on a Windows
// machine that may lose all that when the caller says so with
// --throwaway-machine; otherwise it refuses and exits with 3. Even then it
// uses WORK_FOLDER only when it is a folder below a drive root that it made
// itself for the run, and its removal of a folder never enters a junction
// or symbolic link, also one swapped in while it runs. It starts reg.exe
// from the system folder, by its full path. Before the cases, `run` checks
// its own refusal: it runs itself again as a child that is made to believe
// it is not under Wine (KAVREL_E2E_PRETEND_NOT_WINE), which must refuse and
// touch nothing.
//
// For each case the driver writes the installation record into the 32-bit
// registry view byte for byte (each value with the type and the exact bytes
// the case gives, so also texts without their NUL and numbers of the wrong
// size), copies kavrel.exe and the probe (e2e_probe.exe, beside this program)
// into the folders the case needs, starts kavrel with an exact command line
// inside a job object and waits, bounded, until kavrel and everything it
// started have ended. The probe, installed as the application and as
// instaluj_pimbalo.exe, reports how it was started; the driver then checks
// kavrel's exit code, which program started (or that none did), its working
// directory, that it received no arguments (kavrel gives the application no
// command line, and Windows, like Wine, makes one from the path in double
// quotes, so an installation folder with spaces gives no arguments either),
// kavrel's environment and inheritable handle in the application, and the
// show command: SW_HIDE for the installer program, no show request for the
// application. Each case also runs kavrel-explain.exe (beside KAVREL_EXE) on
// the same record, folder (or, for a renamed kavrel, program file) and
// arguments, whose exit code must name what kavrel started, and none of the
// programs it creates to ask Windows may run: no report may appear, and its
// trial line must say that each process it created was still suspended when
// it was ended, and seen ended. One case runs a copy of kavrel-explain beside
// kavrel without --beside, as users run it.
//
// One case writes no record of its own: reg.exe, a registry client none of
// kavrel's code is, imports the sample .reg file into the 32-bit view; the
// driver reads back where the record says the application is, puts the
// probe there (a folder outside the work folder, which must not exist yet
// and is removed again), and kavrel must start it.
//
// The driver runs as administrator. Where a filtered token is linked to its
// own (TokenElevationTypeFull: UAC on; also under Wine), the cases marked
// so run kavrel and kavrel-explain with that filtered token, as a user
// starts kavrel; where none is (UAC off, the built-in Administrator, hosted
// CI runners), those cases are skipped, with the reason. tests/e2e/
// expectation.h chooses what each case expects there.
//
// Where Wine parts from Windows: an application whose manifest asks for
// administrator rights. Windows refuses to create it for a caller without
// them (ERROR_ELEVATION_REQUIRED) and kavrel starts the installer program
// instead; Wine elevates without asking and starts it. Asking Windows,
// kavrel-explain's verdict is Wine's here; reading the files alone
// (--no-trial), it must be Windows' one, as it must be on Windows. Nor can
// a text value that fills its whole 260 bytes without a NUL be told apart
// here from one that is merely too long: either way the joined path would
// not fit, and the installer program starts.
//
// The cases with characters outside the code page also run a copy of
// kavrel.exe and kavrel-explain.exe whose manifests lack the element that
// makes UTF-8 their code page (rewritten with UpdateResourceW), as a
// Windows before 10 version 1903 reads them; they expect code page 1252.
// On such a Windows (run with --throwaway-machine) the manifest's UTF-8 is
// ignored for the shipped copies too, and their cases expect what the
// copies without it do; a code page other than 1252 fails those cases,
// with the code page named.
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <wctype.h>
#include <windows.h>
// sddl.h needs what windows.h declares.
#include <sddl.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/expectation.h"
#include "tests/e2e/utf8.h"

namespace {

using e2e::Started;

constexpr wchar_t kInstallationKey[] = L"Software\\Merolt_01\\Pimbalo";
constexpr wchar_t kInstallerName[] = L"instaluj_pimbalo.exe";
constexpr wchar_t kApplicationName[] = L"pimbalo.exe";
constexpr char kHandleContent[] = "read through the inherited handle";
// How long kavrel and what it started may take, together, in one case.
constexpr DWORD kCaseTimeoutMs = 10000;

const char* Describe(Started started) {
  switch (started) {
    case Started::kApplication:
      return "application";
    case Started::kInstaller:
      return "installer";
    case Started::kNothing:
      break;
  }
  return "nothing";
}

void Say(const std::string& line) {
  fputs(line.c_str(), stdout);
  fputs("\n", stdout);
  fflush(stdout);
}

// ---------------------------------------------------------------------------
// Files and folders. Every path handed to the file calls is given in its
// extended form (with the \\?\ prefix), so that the cases' paths longer than
// MAX_PATH can be made too.

std::wstring Extended(const std::wstring& path) { return L"\\\\?\\" + path; }

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
  if (!folder.empty() && folder.back() == L'\\') return folder + name;
  return folder + L"\\" + name;
}

std::wstring Parent(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

bool MakeFolders(const std::wstring& folder) {
  // Each folder below the drive root, outermost first.
  for (size_t end = folder.find(L'\\', 3);; end = folder.find(L'\\', end + 1)) {
    const std::wstring part = folder.substr(0, end);
    if (!CreateDirectoryW(Extended(part).c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
    if (end == std::wstring::npos) return true;
  }
}

bool CopyProgram(const std::wstring& source, const std::wstring& destination) {
  return MakeFolders(Parent(destination)) &&
         CopyFileW(Extended(source).c_str(), Extended(destination).c_str(), FALSE);
}

bool WriteWholeFile(const std::wstring& path, const std::string& content) {
  if (!MakeFolders(Parent(path))) return false;
  const HANDLE file =
      CreateFileW(Extended(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool whole =
      WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
      written == content.size();
  CloseHandle(file);
  return whole;
}

std::string ReadWholeFile(const std::wstring& path) {
  // Shared for writing too: kavrel-explain's output file is still open for
  // writing in this driver while it is read.
  const HANDLE file =
      CreateFileW(Extended(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string content;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
    content.append(buffer, read);
  }
  CloseHandle(file);
  return content;
}

// The names of the entries of `folder` that match `pattern`.
std::vector<std::wstring> List(const std::wstring& folder, const wchar_t* pattern) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  const HANDLE search = FindFirstFileW(Extended(Join(folder, pattern)).c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  return names;
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(Extended(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The names of the entries of the folder open as `folder`, read through that
// handle.
std::vector<std::wstring> ListOpen(HANDLE folder) {
  std::vector<std::wstring> names;
  alignas(8) BYTE buffer[16384];
  FILE_INFO_BY_HANDLE_CLASS how = FileIdBothDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(folder, how, buffer, sizeof buffer)) {
    how = FileIdBothDirectoryInfo;
    for (const BYTE* at = buffer;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
      const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") names.push_back(name);
      if (entry->NextEntryOffset == 0) break;
      at += entry->NextEntryOffset;
    }
  }
  return names;
}

// Removes `path` and, when it is a folder, everything in it; tells whether
// it is gone. Each entry is opened as it is (FILE_FLAG_OPEN_REPARSE_POINT),
// and what it is is told by that handle, not by an earlier look at the path:
// a reparse point (a junction or a symbolic link) is removed itself, never
// entered, so what it points to stays as it is, even when it was swapped in
// while the removal ran. A folder is held open without FILE_SHARE_DELETE
// while its entries are listed through that handle and removed, so that it
// cannot be renamed or replaced meanwhile, and the paths of its entries keep
// naming what is inside it.
bool RemoveTree(const std::wstring& path) {
  const HANDLE entry = CreateFileW(
      Extended(path).c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (entry == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  BY_HANDLE_FILE_INFORMATION seen = {};
  bool gone = GetFileInformationByHandle(entry, &seen) != 0;
  if (gone && (seen.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
      (seen.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    for (const std::wstring& name : ListOpen(entry)) gone = RemoveTree(Join(path, name)) && gone;
  }
  // Deleted when the handle closes.
  FILE_DISPOSITION_INFO dispose = {TRUE};
  gone = gone && SetFileInformationByHandle(entry, FileDispositionInfo, &dispose, sizeof dispose);
  CloseHandle(entry);
  return gone;
}

// The user this driver runs as, as a SID string; empty when it cannot tell.
std::wstring OwnUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::wstring();
  alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  std::wstring text;
  wchar_t* sid = nullptr;
  if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
      ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
    text = sid;
    LocalFree(sid);
  }
  CloseHandle(token);
  return text;
}

// Makes `folder`, which must not exist yet, in a folder that does, with
// permissions of its own rather than inherited ones: owned by the
// Administrators group, full control for administrators and SYSTEM, read and
// execute for the user this driver runs as, whose filtered rights some cases
// run kavrel with, or, when `user_writes`, modify rights for that user, for
// the folder where those cases' programs write their reports. So no other
// user can change what the driver runs as administrator. Tells why not, or
// nothing.
std::string MakeNewFolder(const std::wstring& folder, bool user_writes) {
  const std::wstring user = OwnUserSid();
  if (user.empty()) return "cannot be made: the driver cannot tell its own user";
  const std::wstring sddl = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;" +
                            std::wstring(user_writes ? L"0x1301bf" : L"0x1200a9") + L";;;" + user +
                            L")";
  SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          sddl.c_str(), SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr)) {
    return "cannot be made: its permissions cannot be written, error " +
           std::to_string(GetLastError());
  }
  const bool made = CreateDirectoryW(Extended(folder).c_str(), &security) != 0;
  const DWORD error = GetLastError();
  LocalFree(security.lpSecurityDescriptor);
  if (made) return std::string();
  if (error == ERROR_ALREADY_EXISTS) {
    return "is there already (whatever it holds, it is not used): remove what is left of an "
           "earlier run, then run again";
  }
  return "cannot be made: error " + std::to_string(error);
}

// A relative path of exactly `length` characters that ends in `ending`,
// through folders of at most 40 characters each.
std::wstring LongRelativePath(size_t length, const std::wstring& ending) {
  std::wstring path;
  size_t left = length - ending.size();  // for folder names and their backslashes
  while (left > 0) {
    size_t step = left < 41 ? left : 41;
    if (left - step == 1) --step;  // never leave room for a backslash alone
    path += std::wstring(step - 1, L'l') + L"\\";
    left -= step;
  }
  return path + ending;
}

// How GetCurrentDirectoryW gives back a folder: without a closing backslash,
// except at a drive root.
std::wstring AsWorkingDirectory(const std::wstring& folder) {
  if (folder.size() > 3 && folder.back() == L'\\') return folder.substr(0, folder.size() - 1);
  return folder;
}

// Paths compared as Windows compares them: case aside, and with a doubled
// backslash taken as one.
std::wstring Comparable(const std::string& utf8_path) {
  std::wstring wide(utf8_path.size(), L'\0');
  wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8_path.data(),
                                                      static_cast<int>(utf8_path.size()), &wide[0],
                                                      static_cast<int>(wide.size()))));
  std::wstring result;
  for (const wchar_t c : wide) {
    if (c == L'\\' && !result.empty() && result.back() == L'\\') continue;
    result += c;
  }
  if (!result.empty()) {
    CharLowerBuffW(&result[0], static_cast<DWORD>(result.size()));
  }
  return result;
}

bool SamePath(const std::string& seen, const std::wstring& expected) {
  return Comparable(seen) == Comparable(Utf8(expected));
}

// ---------------------------------------------------------------------------
// The installation record.

struct Value {
  std::wstring name;
  DWORD type;
  std::vector<BYTE> bytes;
};

Value Bytes(const std::wstring& name, DWORD type, std::vector<BYTE> bytes) {
  return Value{name, type, std::move(bytes)};
}

// A text as a program writing its record through the wide registry calls
// stores it: UTF-16, with or without its NUL.
Value Text(const std::wstring& name, const std::wstring& text, DWORD type = REG_SZ,
           bool with_nul = true) {
  std::vector<BYTE> bytes;
  for (const wchar_t unit : text) {
    bytes.push_back(static_cast<BYTE>(unit & 0xFF));
    bytes.push_back(static_cast<BYTE>(unit >> 8));
  }
  if (with_nul) bytes.insert(bytes.end(), {0, 0});
  return Value{name, type, std::move(bytes)};
}

// 8-bit text, as the bytes of a REG_BINARY value say.
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

// ---------------------------------------------------------------------------
// Programs made unfit to start, and manifests rewritten.

// How a copy of the probe is altered so that Windows refuses to create it.
enum class Altered {
  kNo,
  kAsksForAdministrator,
  kAsksForAdministratorAfterAComment,
  kForAnotherProcessor,
  kDll,
  kCut
};

// A manifest that asks for the execution level `level` and nothing else:
// "requireAdministrator" for an application that needs administrator rights,
// "asInvoker" for the stand-in installer in the cases run with an
// administrator's filtered rights, which asks for no elevation.
std::string ManifestAskingFor(const char* level) {
  return std::string(
             "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
             "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
             "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security>"
             "<requestedPrivileges>\r\n"
             "    <requestedExecutionLevel level=\"") +
         level +
         "\" uiAccess=\"false\"/>\r\n"
         "  </requestedPrivileges></security></trustInfo>\r\n"
         "</assembly>\r\n";
}

// The same level, after a commented-out element asking for asInvoker, as
// templates have it, and written as XML allows: spaces around "=", single
// quotes.
constexpr char kAdministratorAfterACommentManifest[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
    "  <!-- Options for the level:\r\n"
    "    <requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\" />\r\n"
    "  -->\r\n"
    "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security><requestedPrivileges>\r\n"
    "    <requestedExecutionLevel level = 'requireAdministrator' uiAccess='false'/>\r\n"
    "  </requestedPrivileges></security></trustInfo>\r\n"
    "</assembly>\r\n";

// Stores the language of the first resource it is given, and stops.
BOOL CALLBACK TakeLanguage(HMODULE /*image*/, LPCWSTR /*type*/, LPCWSTR /*name*/, WORD language,
                           LONG_PTR into) {
  *reinterpret_cast<WORD*>(into) = language;
  return FALSE;
}

// The application manifest of the program at `path` (resource type 24, id
// 1) and its language; empty when it has none.
std::string ReadManifest(const std::wstring& path, WORD* language) {
  *language = 0;
  const HMODULE image = LoadLibraryExW(path.c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (image == nullptr) return std::string();
  EnumResourceLanguagesW(image, MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1), TakeLanguage,
                         reinterpret_cast<LONG_PTR>(language));
  std::string manifest;
  HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  const HGLOBAL loaded = found != nullptr ? LoadResource(image, found) : nullptr;
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (bytes != nullptr)
    manifest.assign(static_cast<const char*>(bytes), SizeofResource(image, found));
  FreeLibrary(image);
  return manifest;
}

// Replaces (or adds) the application manifest of the program at `path`.
bool WriteManifest(const std::wstring& path, const std::string& manifest) {
  WORD language = 0;
  ReadManifest(path, &language);
  const HANDLE update = BeginUpdateResourceW(path.c_str(), FALSE);
  if (update == nullptr) return false;
  const bool updated =
      UpdateResourceW(update, MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1), language,
                      const_cast<char*>(manifest.data()), static_cast<DWORD>(manifest.size()));
  return EndUpdateResourceW(update, !updated) && updated;
}

// Copies kavrel's program `source` to `destination` with the manifest as a
// Windows before 10 version 1903 reads it: without the element that makes
// UTF-8 the active code page. Tells what went wrong, or nothing.
std::string CopyWithoutUtf8CodePage(const std::wstring& source, const std::wstring& destination) {
  WORD language = 0;
  std::string manifest = ReadManifest(source, &language);
  const size_t element = manifest.find("activeCodePage");
  const size_t begin = manifest.rfind("<application ", element);
  const size_t end = manifest.find("</application>", element);
  if (element == std::string::npos || begin == std::string::npos || end == std::string::npos) {
    return Utf8(source) + " has no active code page in its manifest";
  }
  manifest.erase(begin, end + strlen("</application>") - begin);
  if (!CopyProgram(source, destination) || !WriteManifest(destination, manifest)) {
    return "cannot rewrite the manifest of " + Utf8(destination);
  }
  const std::string written = ReadManifest(destination, &language);
  if (written.find("activeCodePage") != std::string::npos ||
      written.find("asInvoker") == std::string::npos) {
    return "the rewritten manifest of " + Utf8(destination) + " is not as meant";
  }
  return std::string();
}

// Alters the probe copied to `path` as `how` says.
bool Alter(const std::wstring& path, Altered how) {
  if (how == Altered::kAsksForAdministrator)
    return WriteManifest(path, ManifestAskingFor("requireAdministrator"));
  if (how == Altered::kAsksForAdministratorAfterAComment) {
    return WriteManifest(path, kAdministratorAfterACommentManifest);
  }
  std::string image = ReadWholeFile(path);
  if (image.size() < 64) return false;
  if (how == Altered::kCut) return WriteWholeFile(path, image.substr(0, 1024));
  const size_t pe = static_cast<unsigned char>(image[60]) |
                    static_cast<size_t>(static_cast<unsigned char>(image[61])) << 8;
  if (pe + 24 > image.size()) return false;
  if (how == Altered::kForAnotherProcessor) {
    image[pe + 4] = '\x64';  // IMAGE_FILE_MACHINE_ARM64, 0xAA64
    image[pe + 5] = '\xAA';
  } else if (how == Altered::kDll) {
    image[pe + 23] = static_cast<char>(image[pe + 23] | 0x20);  // IMAGE_FILE_DLL, 0x2000
  }
  return WriteWholeFile(path, image);
}

// ---------------------------------------------------------------------------
// One situation kavrel is started in.

struct Scene {
  std::wstring folder;         // the case's own folder: its reports, kavrel's working directory
  std::wstring kavrel_folder;  // where kavrel lies
  std::wstring kavrel_name = L"kavrel.exe";  // its program file's name
  bool installer_beside = true;              // whether instaluj_pimbalo.exe lies beside it
  std::wstring setuppath;                    // the application's folder
  std::wstring app_program;                  // where the application's program file is put
  bool app_present = true;
  bool app_is_text = false;  // whether a text file stands where the program should
  // More files, by path, with their text: a batch file the record names.
  std::vector<std::pair<std::wstring, std::string>> texts;
  Altered app_altered = Altered::kNo;  // how the application's program file is made unfit
  // Whether kavrel and kavrel-explain are the copies whose manifests lack
  // the UTF-8 code page, as a Windows before 10 version 1903 reads them.
  bool legacy_code_page = false;
  // Whether kavrel and kavrel-explain run with an administrator's filtered
  // rights, as kavrel runs when a user starts it on Windows, rather than
  // with the driver's own.
  bool filtered = false;
  // Whether kavrel-explain only reads the files (--no-trial); its verdict
  // is then Windows' one, not Wine's.
  bool explain_reads_only = false;
  // Whether kavrel-explain is copied beside kavrel and finds it there
  // itself, without --beside, as users run it.
  bool explain_beside_kavrel = false;
  bool key_present = true;           // the installation key, in the 32-bit view
  std::vector<Value> values;         // its values, written in this order
  std::vector<Value> values_64;      // a record in the 64-bit view, when not empty
  std::vector<std::wstring> plants;  // more copies of the probe, which must not start
  bool hold = false;                 // whether the started program waits to be let go
  // A .reg file that reg.exe imports into the 32-bit view in place of
  // `values`; setuppath and app_program then come from what it wrote, and
  // the folder it names, outside the case's own, is removed after the case.
  std::wstring imported_record;
  std::wstring outside_folder;

  std::wstring KavrelPath() const { return Join(kavrel_folder, kavrel_name); }
  std::wstring InstallerPath() const { return Join(kavrel_folder, kInstallerName); }

  void Set(Value value) {
    for (Value& existing : values) {
      if (existing.name == value.name) {
        existing = std::move(value);
        return;
      }
    }
    values.push_back(std::move(value));
  }

  void Remove(const std::wstring& name) {
    for (auto it = values.begin(); it != values.end(); ++it) {
      if (it->name == name) {
        values.erase(it);
        return;
      }
    }
  }

  // Points the record at an application program `appfile` below setuppath.
  void Application(const std::wstring& appfile) {
    Set(Text(L"appfile", appfile));
    app_program = Join(setuppath, appfile);
  }
  void Setuppath(const std::wstring& folder_path) {
    setuppath = folder_path;
    Set(Text(L"setuppath", folder_path));
    app_program = Join(setuppath, kApplicationName);
  }
};

// kavrel in its own folder with the installer program beside it, and a
// complete record of installed version 5 for an application in another.
Scene DefaultScene(const std::wstring& folder) {
  Scene scene;
  scene.folder = folder;
  scene.kavrel_folder = Join(folder, L"setup");
  scene.Setuppath(Join(folder, L"Pimbalo"));
  scene.Set(Text(L"appfile", kApplicationName));
  scene.Set(Dword(L"version", 5));
  return scene;
}

struct Case {
  std::string name;
  std::wstring arguments;  // kavrel's command line after its own quoted path
  std::function<void(Scene&)> arrange;
  Started expected;
  // Where Wine parts from Windows: what Windows starts, by its documentation,
  // which kavrel-explain's verdict must name.
  std::optional<Started> on_windows{};
  // What starts on a Windows that ignores the UTF-8 code page of kavrel's
  // manifest (before 10 version 1903), where kavrel takes its paths in
  // code page 1252 as the cases expect it; when not given, the same.
  std::optional<Started> in_code_page_1252{};
};

// `spare_drive` (say "K:") is a drive whose root may hold kavrel;
// `sample_record` is the sample .reg file.
std::vector<Case> Cases(const std::wstring& spare_drive, const std::wstring& sample_record) {
  const auto none = [](Scene&) {};
  const auto installed = [](uint32_t version) {
    return [version](Scene& s) { s.Set(Dword(L"version", version)); };
  };
  const auto no_key = [](Scene& s) { s.key_present = false; };
  // kavrel, or the application, in a folder named with characters outside
  // code page 1252, and a decoy in the folder that best fit would name.
  const auto kavrel_in_michal = [](Scene& s) {
    s.kavrel_folder = Join(s.folder, L"Micha\u0142");
    s.key_present = false;
    s.plants.push_back(Join(Join(s.folder, L"Michal"), kInstallerName));
  };
  const auto setuppath_zazolc = [](Scene& s) {
    s.plants.push_back(Join(Join(s.folder, L"Zaz\u00f3lc"), kApplicationName));
    s.Setuppath(Join(s.folder, L"Za\u017c\u00f3\u0142\u0107"));
  };
  // The same, with the programs as a Windows without the UTF-8 code page reads them.
  const auto legacy = [](const std::function<void(Scene&)>& arrange) {
    return [arrange](Scene& s) {
      s.legacy_code_page = true;
      arrange(s);
    };
  };
  const Started app = Started::kApplication;
  const Started installer = Started::kInstaller;
  const Started nothing = Started::kNothing;

  std::vector<Case> cases = {
      // The installation record, read whole or not at all.
      {"complete record, no argument", L"", none, app},
      {"no installation key", L"", no_key, installer},
      {"no installation key, argument 0", L"0", no_key, installer},
      {"key without values", L"", [](Scene& s) { s.values.clear(); }, installer},
      {"setuppath missing", L"", [](Scene& s) { s.Remove(L"setuppath"); }, installer},
      {"appfile missing", L"", [](Scene& s) { s.Remove(L"appfile"); }, installer},
      {"version missing", L"", [](Scene& s) { s.Remove(L"version"); }, installer},
      {"setuppath as REG_BINARY is used as stored", L"",
       [](Scene& s) { s.Set(AnsiBytes(L"setuppath", s.setuppath)); }, app},
      {"REG_EXPAND_SZ setuppath is not expanded", L"",
       [](Scene& s) {
         const std::wstring literal = Join(s.folder, L"%KAVREL_E2E_FOLDER%");
         s.plants.push_back(s.app_program);  // where the expanded text points
         s.Setuppath(literal);
         s.Set(Text(L"setuppath", literal, REG_EXPAND_SZ));
       },
       app},
      {"setuppath stored without its NUL is used", L"",
       [](Scene& s) { s.Set(Text(L"setuppath", s.setuppath, REG_SZ, false)); }, app},
      {"setuppath of 300 bytes", L"",
       [](Scene& s) {
         s.Set(Text(L"setuppath",
                    Join(s.setuppath, LongRelativePath(300 - s.setuppath.size() - 1, L"P"))));
       },
       installer},
      {"appfile of 260 bytes without NUL", L"",
       [](Scene& s) {
         s.Set(Text(L"appfile", LongRelativePath(260, kApplicationName), REG_SZ, false));
       },
       installer},
      {"version of 8 bytes", L"",
       [](Scene& s) {
         s.Set(Bytes(L"version", REG_QWORD, {5, 0, 0, 0, 0, 0, 0, 0}));
       },
       installer},
      {"version of 2 bytes 34 12, argument 4660", L"4660",
       [](Scene& s) {
         s.Set(Bytes(L"version", REG_BINARY, {0x34, 0x12}));
       },
       app},
      {"version of 2 bytes 34 12, argument 4661", L"4661",
       [](Scene& s) {
         s.Set(Bytes(L"version", REG_BINARY, {0x34, 0x12}));
       },
       installer},
      // A REG_SZ "7" of 4 bytes comes through the 8-bit call as "7" and its
      // NUL: two bytes, the number 0x37.
      {"version as REG_SZ \"7\", argument 55", L"55",
       [](Scene& s) { s.Set(Text(L"version", L"7")); }, app},
      {"version as REG_SZ \"7\", argument 56", L"56",
       [](Scene& s) { s.Set(Text(L"version", L"7")); }, installer},
      // Whatever kavrel's own width, it reads the 32-bit view.
      {"record in the 64-bit view only", L"",
       [](Scene& s) {
         s.values_64 = s.values;
         s.key_present = false;
       },
       installer},
      {"records in both views: the 32-bit one counts", L"",
       [](Scene& s) {
         const std::wstring decoy = Join(s.folder, L"Pimbalo64");
         s.values_64 = {Text(L"setuppath", decoy), Text(L"appfile", kApplicationName),
                        Dword(L"version", 5)};
         s.plants.push_back(Join(decoy, kApplicationName));
       },
       app},

      // The application start.
      {"application file missing", L"", [](Scene& s) { s.app_present = false; }, installer},
      {"application file is not a program", L"",
       [](Scene& s) {
         s.Application(L"readme.txt");
         s.app_present = false;
         s.app_is_text = true;
       },
       installer},
      {"empty appfile", L"", [](Scene& s) { s.Set(Text(L"appfile", L"")); }, installer},
      {"empty setuppath", L"", [](Scene& s) { s.Set(Text(L"setuppath", L"")); }, installer},
      {"appfile in a subfolder", L"", [](Scene& s) { s.Application(L"bin\\pimbalo.exe"); }, app},
      {"setuppath with a closing backslash", L"",
       [](Scene& s) { s.Set(Text(L"setuppath", s.setuppath + L"\\")); }, app},
      {"installation folder with spaces", L"",
       [](Scene& s) { s.Setuppath(Join(s.folder, L"Pimbalo App  2")); }, app},
      {"application path of 259 bytes", L"",
       [](Scene& s) {
         s.Application(LongRelativePath(259 - s.setuppath.size() - 1, kApplicationName));
       },
       app},
      {"application path of 263 bytes, a program at its first 259", L"",
       [](Scene& s) {
         const std::wstring cut = LongRelativePath(259 - s.setuppath.size() - 1, kApplicationName);
         s.Application(cut + L".exe");
         s.app_present = false;
         s.plants = {Join(s.setuppath, cut), s.app_program};
       },
       installer},
      {"kavrel does not wait for the application", L"", [](Scene& s) { s.hold = true; }, app},
      {"application for another processor (ARM64)", L"",
       [](Scene& s) { s.app_altered = Altered::kForAnotherProcessor; }, installer},
      {"application file is a DLL", L"", [](Scene& s) { s.app_altered = Altered::kDll; },
       installer},
      {"application cut to its first 1,024 bytes", L"",
       [](Scene& s) { s.app_altered = Altered::kCut; }, installer},
      // Windows runs a batch file through the command interpreter.
      {"appfile run.cmd, a batch file that starts the application", L"",
       [](Scene& s) {
         s.Set(Text(L"appfile", L"run.cmd"));
         s.texts.push_back({Join(s.setuppath, L"run.cmd"), "@\"%~dp0pimbalo.exe\"\r\n"});
       },
       app},
      // A program that asks for administrator rights: Windows creates it for a
      // caller that has them, as the driver does (elevated, or with UAC off),
      // so kavrel started with the driver's own rights starts it.
      {"application asks for administrator rights", L"",
       [](Scene& s) { s.app_altered = Altered::kAsksForAdministrator; }, app},
      // Windows refuses it to a caller with an administrator's filtered
      // rights (ERROR_ELEVATION_REQUIRED), as kavrel is when a user starts
      // it, and kavrel starts the installer program (on_windows); Wine
      // elevates without asking and starts the application. Where no filtered
      // token is linked to the driver's, these rows are skipped.
      {"application asks for administrator rights, kavrel with filtered rights", L"",
       [](Scene& s) {
         s.app_altered = Altered::kAsksForAdministrator;
         s.filtered = true;
       },
       app, installer},
      // The same, with asInvoker in a comment before the level, read alone.
      {"manifest with asInvoker in a comment before requireAdministrator, --no-trial", L"",
       [](Scene& s) {
         s.app_altered = Altered::kAsksForAdministratorAfterAComment;
         s.filtered = true;
         s.explain_reads_only = true;
       },
       app, installer},

      // Paths with characters that code page 1252 lacks. Converted with
      // Windows' best fit they would name the look-alike folder, where a
      // decoy lies. With UTF-8 as its code page kavrel gets them exactly;
      // without it (a Windows before 10 version 1903), it refuses them.
      {"kavrel in a folder with l-stroke, a decoy in its look-alike", L"", kavrel_in_michal,
       installer, std::nullopt, nothing},
      {"setuppath with z-dot, o-acute, l-stroke and c-acute, a decoy in its look-alike", L"",
       setuppath_zazolc, app, std::nullopt, installer},
      {"code page 1252: kavrel in a folder with l-stroke, a decoy in its look-alike", L"",
       legacy(kavrel_in_michal), nothing},
      {"code page 1252: setuppath with z-dot, o-acute, l-stroke and c-acute, a decoy", L"",
       legacy(setuppath_zazolc), installer},

      // Where kavrel lies.
      {"kavrel at a drive root", L"",
       [spare_drive](Scene& s) {
         s.kavrel_folder = spare_drive + L"\\";
         s.key_present = false;
       },
       installer},
      {"kavrel in a folder with spaces", L"7",
       [](Scene& s) { s.kavrel_folder = Join(s.folder, L"Pimbalo Setup"); }, installer},
      {"no installer beside kavrel", L"",
       [](Scene& s) {
         s.installer_beside = false;
         s.key_present = false;
       },
       nothing},
      {"no installer beside kavrel, complete record", L"",
       [](Scene& s) { s.installer_beside = false; }, app},
      {"installer path of 259 bytes", L"",
       [](Scene& s) {
         s.kavrel_folder = Join(s.folder, LongRelativePath(238 - s.folder.size() - 1, L"setup"));
         s.key_present = false;
       },
       installer},
      {"installer path of 266 bytes, a program at its first 259", L"",
       [](Scene& s) {
         s.kavrel_folder = Join(s.folder, LongRelativePath(245 - s.folder.size() - 1, L"setup"));
         s.key_present = false;
         s.plants = {Join(s.kavrel_folder, L"instaluj_pimb"),
                     Join(s.kavrel_folder, L"instaluj_pimb.exe")};
       },
       nothing},
      // A renamed kavrel, whose program file kavrel-explain is given.
      {"kavrel renamed", L"",
       [](Scene& s) {
         s.kavrel_name = L"pimbalo-start.exe";
         s.key_present = false;
       },
       installer},
      // Windows creates no process whose path is over 259 characters, but
      // in UTF-8 these 251 are 260 bytes, too long for kavrel to have whole.
      {"kavrel renamed, its own path of 251 characters and 260 bytes", L"",
       [](Scene& s) {
         s.kavrel_folder = Join(s.folder, LongRelativePath(229 - s.folder.size() - 1, L"setup"));
         s.kavrel_name = L"za\u017c\u00f3\u0142\u0107-g\u0119\u015bl\u0105-ja\u017a\u0144.exe";
         s.key_present = false;
       },
       nothing},
      // kavrel-explain as users run it: copied beside kavrel, no --beside.
      {"kavrel-explain beside kavrel finds it without --beside", L"",
       [](Scene& s) {
         s.kavrel_folder = Join(s.folder, L"Pimbalo Setup");
         s.key_present = false;
         s.explain_beside_kavrel = true;
       },
       installer},
      {"kavrel does not wait for the installer", L"",
       [](Scene& s) {
         s.key_present = false;
         s.hold = true;
       },
       installer},

      // The record as an installer's author writes it from the sample, whose
      // version is 5.
      {"the sample .reg file, imported by reg.exe into the 32-bit view, argument 5", L"5",
       [sample_record](Scene& s) { s.imported_record = sample_record; }, app},
  };

  // The required-version gate: the first argument against the installed
  // version. Most numbers are tried at the installed version just below them
  // and at themselves; 259 nines (2147483647) only just below, "1 9" (only
  // its first argument counts) only above; a text that gives 0 is tried at
  // installed version 0.
  struct Gate {
    std::string label;
    std::wstring argument;
    uint32_t installed;
    Started expected;
  };
  const std::vector<Gate> gates = {
      {"2", L"2", 1, installer},
      {"2", L"2", 2, app},
      {"2", L"2", 3, app},
      {"\"  5\"", L"\"  5\"", 4, installer},
      {"\"  5\"", L"\"  5\"", 5, app},
      {"+5", L"+5", 4, installer},
      {"+5", L"+5", 5, app},
      {"5abc", L"5abc", 4, installer},
      {"5abc", L"5abc", 5, app},
      {"05", L"05", 4, installer},
      {"05", L"05", 5, app},
      {"abc", L"abc", 0, app},
      {"x5", L"x5", 0, app},
      {"0x10", L"0x10", 0, app},
      {"\"\" (empty)", L"\"\"", 0, app},
      {"-1", L"-1", 4294967294u, installer},
      {"-1", L"-1", 4294967295u, app},
      {"99999999999", L"99999999999", 2147483646, installer},
      {"99999999999", L"99999999999", 2147483647, app},
      {"12<greek lambda>3", L"12\u03bb3", 0, app},
      {"<U+00A0>5", L"\u00a05", 0, app},
      {"5<e acute>", L"5\u00e9", 4, installer},
      {"5<e acute>", L"5\u00e9", 5, app},
      {"1 9 (two arguments)", L"1 9", 5, app},
      {"259 nines", std::wstring(259, L'9'), 2147483646, installer},
      {"260 nines", std::wstring(260, L'9'), 0, app},
      {"300 nines", std::wstring(300, L'9'), 0, app},
  };
  for (const Gate& gate : gates) {
    cases.push_back({"argument " + gate.label + ", installed " + std::to_string(gate.installed),
                     gate.argument, installed(gate.installed), gate.expected});
  }
  return cases;
}

// ---------------------------------------------------------------------------
// Starting kavrel and seeing what it started.

using Report = std::map<std::string, std::string>;

struct Observation {
  std::vector<std::string> problems;  // with the run itself
  // Whether laying out the scene or starting kavrel failed, before kavrel
  // ran any code of its own.
  bool not_started = false;
  DWORD exit_code = 0;
  std::vector<Report> reports;  // one per program kavrel started
};

Report ParseReport(const std::string& text) {
  Report report;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const size_t equals = line.find('=');
    if (equals != std::string::npos) report[line.substr(0, equals)] = line.substr(equals + 1);
    start = end + 1;
  }
  return report;
}

class Handle {
 public:
  explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
  ~Handle() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  void reset(HANDLE handle) {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_;
};

DWORD ActiveProcesses(HANDLE job) {
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
  if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                 sizeof accounting, nullptr)) {
    return 0;
  }
  return accounting.ActiveProcesses;
}

// Waits, at most until `deadline` (a GetTickCount64 value), for the job to
// have no process left.
bool WaitUntilJobEmpty(HANDLE job, HANDLE port, ULONGLONG deadline) {
  for (;;) {
    if (ActiveProcesses(job) == 0) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    DWORD message = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* overlapped = nullptr;
    // The completion port says when the last process ended; the accounting
    // above decides, so a message missed before the first wait does no harm.
    if (GetQueuedCompletionStatus(port, &message, &key, &overlapped,
                                  static_cast<DWORD>(deadline - now)) &&
        message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) {
      return true;
    }
  }
}

// The kind of token this driver runs with.
e2e::Token OwnToken() {
  HANDLE own = nullptr;
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own)) {
    if (!GetTokenInformation(own, TokenElevationType, &type, sizeof type, &size)) {
      type = TokenElevationTypeDefault;
    }
    CloseHandle(own);
  }
  return type == TokenElevationTypeFull ? e2e::Token::kFilteredLinked
                                        : e2e::Token::kNoFilteredToken;
}

// A primary token with the administrator's filtered rights: the one linked
// to this driver's own, elevated one. Null when there is none: without UAC,
// or when the driver itself is not elevated, the linked token is no
// filtered one.
HANDLE FilteredToken() {
  if (OwnToken() != e2e::Token::kFilteredLinked) return nullptr;
  HANDLE own = nullptr;
  TOKEN_LINKED_TOKEN linked = {};
  DWORD size = 0;
  HANDLE primary = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own)) {
    if (GetTokenInformation(own, TokenLinkedToken, &linked, sizeof linked, &size)) {
      DuplicateTokenEx(linked.LinkedToken, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation,
                       TokenPrimary, &primary);
      CloseHandle(linked.LinkedToken);
    }
    CloseHandle(own);
  }
  return primary;
}

// A registry text value of the installation key in the 32-bit view; empty
// when it cannot be read.
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

// Has reg.exe import the scene's .reg file into the 32-bit view, and takes
// setuppath and the application's program from the record it wrote. Tells
// what went wrong, or nothing.
std::string ImportRecord(Scene& scene) {
  // Windows' own reg.exe, from the system folder, never one found on a search.
  std::wstring system(MAX_PATH, L'\0');
  system.resize(GetSystemDirectoryW(&system[0], static_cast<UINT>(system.size())));
  if (system.empty() || system.size() >= MAX_PATH) return "cannot tell the system folder";
  const std::wstring reg = Join(system, L"reg.exe");
  std::wstring command_line = L"\"" + reg + L"\" import \"" + scene.imported_record + L"\" /reg:32";
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
  if (WaitForSingleObject(importing.get(), kCaseTimeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(importing.get(), 99);
  }
  GetExitCodeProcess(importing.get(), &status);
  if (status != 0) return "reg.exe import exit code " + std::to_string(status);

  const std::wstring setuppath = RecordText(L"setuppath");
  const std::wstring appfile = RecordText(L"appfile");
  if (setuppath.empty() || appfile.empty()) {
    return "no setuppath and appfile in the 32-bit view after the import";
  }
  if (Exists(setuppath)) {
    return Utf8(setuppath) + " is there already; the case would change it";
  }
  scene.setuppath = setuppath;
  scene.app_program = Join(setuppath, appfile);
  scene.outside_folder = setuppath;
  return std::string();
}

// Lays out `scene`, starts kavrel in it with `arguments` and collects the
// reports of what it started. An imported record fills in where the
// application is.
Observation Run(Scene& scene, const std::wstring& kavrel_source, const std::wstring& probe_source,
                const std::wstring& arguments, const std::wstring& mark) {
  Observation seen;
  const auto fail = [&seen](const std::string& problem) {
    seen.problems.push_back(problem);
    seen.not_started = true;
    return seen;
  };

  DeleteRecord(KEY_WOW64_32KEY);
  DeleteRecord(KEY_WOW64_64KEY);
  if (!scene.imported_record.empty()) {
    const std::string problem = ImportRecord(scene);
    if (!problem.empty()) return fail(problem);
  } else if (scene.key_present && !WriteRecord(KEY_WOW64_32KEY, scene.values)) {
    return fail("cannot write the installation record");
  }
  if (!scene.values_64.empty() && !WriteRecord(KEY_WOW64_64KEY, scene.values_64)) {
    return fail("cannot write the record in the 64-bit view");
  }

  const std::wstring reports = Join(scene.folder, L"reports");
  // With filtered rights, the programs write their reports as the user.
  const bool reports_made =
      scene.filtered
          ? MakeFolders(scene.folder) && (Exists(reports) || MakeNewFolder(reports, true).empty())
          : MakeFolders(reports);
  if (!reports_made) return fail("cannot make " + Utf8(reports));
  if (!CopyProgram(kavrel_source, scene.KavrelPath())) {
    return fail("cannot copy kavrel to " + Utf8(scene.KavrelPath()) + ": error " +
                std::to_string(GetLastError()));
  }
  std::vector<std::wstring> probes = scene.plants;
  if (scene.installer_beside) probes.push_back(scene.InstallerPath());
  if (scene.app_present) probes.push_back(scene.app_program);
  for (const std::wstring& path : probes) {
    if (!CopyProgram(probe_source, path)) {
      return fail("cannot copy the probe to " + Utf8(path) + ": error " +
                  std::to_string(GetLastError()));
    }
  }
  if (scene.app_altered != Altered::kNo && !Alter(scene.app_program, scene.app_altered)) {
    return fail("cannot alter " + Utf8(scene.app_program));
  }
  // With filtered rights, kavrel's start of the installer program goes
  // through the shell, which asks for administrator rights first when the
  // program asks for them, or when Windows' installer detection takes a
  // 32-bit program that asks for no level for an installer: a prompt no one
  // answers here. The stand-in installer asks for no elevation, so the shell
  // starts it directly, as it starts a real installer once the user agreed.
  if (scene.filtered && scene.installer_beside &&
      !WriteManifest(scene.InstallerPath(), ManifestAskingFor("asInvoker"))) {
    return fail("cannot give " + Utf8(scene.InstallerPath()) + " a manifest");
  }
  if (scene.app_is_text && !WriteWholeFile(scene.app_program, "not a program\r\n")) {
    return fail("cannot write " + Utf8(scene.app_program));
  }
  for (const auto& [path, text] : scene.texts) {
    if (!WriteWholeFile(path, text)) return fail("cannot write " + Utf8(path));
  }

  const std::wstring release_name = L"kavrel-e2e-release-" + mark;
  Handle release(CreateEventW(nullptr, TRUE, FALSE, release_name.c_str()));
  SetEnvironmentVariableW(L"KAVREL_E2E_REPORTS", reports.c_str());
  SetEnvironmentVariableW(L"KAVREL_E2E_MARK", mark.c_str());
  SetEnvironmentVariableW(L"KAVREL_E2E_HOLD", scene.hold ? release_name.c_str() : nullptr);

  Handle job(CreateJobObjectW(nullptr, nullptr));
  Handle port(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
  JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {};
  association.CompletionKey = job.get();
  association.CompletionPort = port.get();
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job.get() == nullptr || port.get() == nullptr ||
      !SetInformationJobObject(job.get(), JobObjectAssociateCompletionPortInformation, &association,
                               sizeof association) ||
      !SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                               sizeof limits)) {
    return fail("cannot make the job object");
  }

  std::wstring command_line = L"\"" + scene.KavrelPath() + L"\"";
  if (!arguments.empty()) command_line += L" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  const Handle filtered(scene.filtered ? FilteredToken() : nullptr);
  if (scene.filtered && filtered.get() == nullptr) {
    return fail("cannot have an administrator's filtered rights");
  }
  const BOOL created =
      scene.filtered
          ? CreateProcessAsUserW(filtered.get(), scene.KavrelPath().c_str(), &command_line[0],
                                 nullptr, nullptr, /*bInheritHandles=*/TRUE, CREATE_SUSPENDED,
                                 nullptr, scene.folder.c_str(), &startup, &process)
          : CreateProcessW(scene.KavrelPath().c_str(), &command_line[0], nullptr, nullptr,
                           /*bInheritHandles=*/TRUE, CREATE_SUSPENDED, nullptr,
                           scene.folder.c_str(), &startup, &process);
  if (!created) return fail("cannot start kavrel: error " + std::to_string(GetLastError()));
  Handle kavrel(process.hProcess);
  Handle kavrel_thread(process.hThread);
  if (!AssignProcessToJobObject(job.get(), kavrel.get())) {
    TerminateProcess(kavrel.get(), 1);
    return fail("cannot put kavrel in the job object");
  }
  ResumeThread(kavrel_thread.get());

  const ULONGLONG deadline = GetTickCount64() + kCaseTimeoutMs;
  if (scene.hold) {
    // The started program is still running, so kavrel must end by itself.
    if (WaitForSingleObject(kavrel.get(), kCaseTimeoutMs / 2) != WAIT_OBJECT_0) {
      seen.problems.push_back("kavrel did not end while the program it started ran");
    } else if (ActiveProcesses(job.get()) == 0) {
      seen.problems.push_back("nothing was running any more after kavrel ended");
    }
    SetEvent(release.get());
  }
  if (!WaitUntilJobEmpty(job.get(), port.get(), deadline)) {
    seen.problems.push_back("still running after " + std::to_string(kCaseTimeoutMs / 1000) + " s");
    TerminateJobObject(job.get(), 1);
    WaitUntilJobEmpty(job.get(), port.get(), GetTickCount64() + 5000);
  }
  GetExitCodeProcess(kavrel.get(), &seen.exit_code);

  for (const std::wstring& name : List(reports, L"*.report")) {
    seen.reports.push_back(ParseReport(ReadWholeFile(Join(reports, name))));
  }
  if (!List(reports, L"*.partial").empty()) seen.problems.push_back("a report was left unfinished");
  return seen;
}

// What is wrong with `seen` for a case that expects `expected`.
std::vector<std::string> Check(const Scene& scene, Started expected, const std::wstring& mark,
                               const Observation& seen) {
  std::vector<std::string> problems = seen.problems;
  if (seen.exit_code != 0) problems.push_back("exit code " + std::to_string(seen.exit_code));

  std::wstring program;
  std::wstring working_directory;
  if (expected == Started::kApplication) {
    program = scene.app_program;
    working_directory = AsWorkingDirectory(scene.setuppath);
  } else if (expected == Started::kInstaller) {
    program = scene.InstallerPath();
    working_directory = AsWorkingDirectory(scene.kavrel_folder);
  }

  size_t expected_starts = 0;
  for (const Report& report : seen.reports) {
    const auto field = [&report](const char* key) {
      const auto it = report.find(key);
      return it != report.end() ? it->second : std::string("(absent)");
    };
    if (expected == Started::kNothing || !SamePath(field("module"), program)) {
      problems.push_back("started " + field("module"));
      continue;
    }
    ++expected_starts;
    if (!SamePath(field("cwd"), working_directory)) {
      problems.push_back("working directory " + field("cwd") + ", not " + Utf8(working_directory));
    }
    if (field("argc") != "1") {
      problems.push_back(field("argc") + " arguments in " + field("command_line"));
    }
    if (field("mark") != Utf8(mark)) {
      problems.push_back("environment variable " + field("mark"));
    }
    if (expected == Started::kApplication) {
      if (field("handle") != kHandleContent) {
        problems.push_back("inherited handle: " + field("handle"));
      }
      if (field("show_flag") != "0") {
        problems.push_back("show request " + field("show_window") + " for the application");
      }
    } else if (field("show_flag") != "1" || field("show_window") != "0") {
      problems.push_back("show request flag " + field("show_flag") + ", command " +
                         field("show_window") + ", not SW_HIDE");
    }
  }
  if (expected != Started::kNothing && expected_starts != 1) {
    problems.push_back(std::string(Describe(expected)) + " started " +
                       std::to_string(expected_starts) + " times");
  }
  return problems;
}

// Runs kavrel-explain in `scene` with kavrel's `arguments`; tells what is
// wrong when its verdict (0 application, 1 installer, 2 nothing) differs, or
// when a program it created to ask Windows ran.
std::string CheckExplain(const std::wstring& explain, const Scene& scene,
                         const std::wstring& arguments, Started expected) {
  // kavrel's program file when it is renamed, else its folder.
  std::wstring beside =
      scene.kavrel_name == L"kavrel.exe" ? scene.kavrel_folder : scene.KavrelPath();
  // A closing backslash would escape the closing quote; doubled, it does not.
  if (beside.back() == L'\\') beside += L"\\";
  std::wstring command_line = L"\"" + explain + L"\"" +
                              (scene.explain_reads_only ? L" --no-trial" : L"") + L" --beside \"" +
                              beside + L"\" --";
  std::wstring program = explain;
  if (scene.explain_beside_kavrel) {
    program = Join(scene.kavrel_folder, L"kavrel-explain.exe");
    if (!CopyProgram(explain, program)) return "cannot copy kavrel-explain beside kavrel";
    command_line = L"\"" + program + L"\" --";
  }
  if (!arguments.empty()) command_line += L" " + arguments;
  const std::wstring said = Join(scene.folder, L"explain.txt");
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  const Handle output(CreateFileW(Extended(said).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                  &inheritable, CREATE_ALWAYS, 0, nullptr));
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = output.get();
  PROCESS_INFORMATION process = {};
  Handle filtered;
  if (scene.filtered) {
    filtered.reset(FilteredToken());
    if (filtered.get() == nullptr) return "cannot have an administrator's filtered rights";
  }
  const std::wstring reports = Join(scene.folder, L"reports");
  const size_t reported = List(reports, L"*.report").size();
  // Wine now and then fails to create a process with ERROR_INTERNAL_ERROR
  // before any of its code runs (as for kavrel's own start): once more.
  BOOL created = FALSE;
  for (int attempt = 0; attempt < 2 && !created; ++attempt) {
    if (attempt > 0) {
      if (GetLastError() != ERROR_INTERNAL_ERROR) break;
      Sleep(500);
    }
    created = scene.filtered
                  ? CreateProcessAsUserW(filtered.get(), program.c_str(), &command_line[0], nullptr,
                                         nullptr, TRUE, 0, nullptr, scene.folder.c_str(), &startup,
                                         &process)
                  : CreateProcessW(program.c_str(), &command_line[0], nullptr, nullptr, TRUE, 0,
                                   nullptr, scene.folder.c_str(), &startup, &process);
  }
  if (!created) {
    return "cannot start kavrel-explain: error " + std::to_string(GetLastError());
  }
  const Handle explaining(process.hProcess);
  const Handle thread(process.hThread);
  if (WaitForSingleObject(explaining.get(), kCaseTimeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(explaining.get(), 99);
  }
  DWORD verdict = 99;
  GetExitCodeProcess(explaining.get(), &verdict);
  if (List(reports, L"*.report").size() != reported) {
    return "a program that kavrel-explain created ran (it reported)";
  }
  std::string text = ReadWholeFile(said);
  // A process ended at once need not get as far as reporting even when it
  // ran, so the trial line must say what Windows found: each process
  // created still suspended, then ended and seen ended.
  const size_t trial = text.find("\ntrial:");
  const std::string trial_line =
      trial == std::string::npos
          ? ""
          : text.substr(trial + 1, text.find_first_of("\r\n", trial + 1) - trial - 1);
  if (trial_line.find(" may ") != std::string::npos ||
      (!scene.explain_reads_only && expected != Started::kNothing &&
       trial_line.find("none of its code ran") == std::string::npos)) {
    return "kavrel-explain's trial line: " + (trial_line.empty() ? "(absent)" : trial_line);
  }
  if (verdict == static_cast<DWORD>(expected)) return std::string();
  text = text.substr(0, text.find_last_not_of("\r\n") + 1);
  return "kavrel-explain exit code " + std::to_string(verdict) + ", " +
         text.substr(text.rfind('\n') + 1);
}

std::wstring OwnPath();

std::wstring OwnFolder() { return Parent(OwnPath()); }

// Makes the file whose handle every case hands down, inheritable, and tells
// the probe its number.
HANDLE MakeInheritableHandle(const std::wstring& work_folder) {
  const std::wstring path = Join(work_folder, L"inherited.txt");
  WriteWholeFile(path, kHandleContent);
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, &inheritable,
                                  OPEN_EXISTING, 0, nullptr);
  SetEnvironmentVariableW(
      L"KAVREL_E2E_HANDLE",
      std::to_wstring(static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(file))).c_str());
  return file;
}

// ---------------------------------------------------------------------------
// Where the driver may run, and what it may empty.

constexpr wchar_t kThrowawayFlag[] = L"--throwaway-machine";
// Set for the child of the refusal check: it then believes it is not under Wine.
constexpr wchar_t kPretendNotWine[] = L"KAVREL_E2E_PRETEND_NOT_WINE";
constexpr int kRefusedStatus = 3;
constexpr char kRefusal[] =
    "e2e_driver: not under Wine, so nothing is done. The driver deletes the installation\n"
    "record HKLM\\Software\\Merolt_01\\Pimbalo in both registry views and empties the\n"
    "folders it works in. On a Windows machine that may lose them, pass --throwaway-machine.\n";

bool UnderWine() {
  if (GetEnvironmentVariableW(kPretendNotWine, nullptr, 0) != 0) return false;
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Whether this Windows takes the UTF-8 code page from a program's manifest:
// Windows 10 version 1903 (build 18362) and later do, and so does Wine,
// whichever Windows version it reports. Asked of ntdll, whose answer no
// compatibility setting of the driver's own changes.
bool TakesUtf8FromManifest() {
  if (UnderWine()) return true;
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto found = reinterpret_cast<void (*)()>(
      ntdll != nullptr ? GetProcAddress(ntdll, "RtlGetVersion") : nullptr);
  if (found == nullptr) return false;
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (reinterpret_cast<LONG(WINAPI*)(OSVERSIONINFOW*)>(found)(&version) != 0) return false;
  return version.dwMajorVersion > 10 ||
         (version.dwMajorVersion == 10 && version.dwBuildNumber >= 18362);
}

// Why `folder` may not be made and used as a folder of the run; empty when
// it may: a path below a drive root. That it is new, the driver's own,
// MakeNewFolder decides when it makes it.
std::string UnusableWorkFolder(const std::wstring& folder) {
  const bool below_drive_root = folder.size() > 3 && iswalpha(folder[0]) && folder[1] == L':' &&
                                folder[2] == L'\\' && folder[3] != L'\\' &&
                                folder.find(L"\\..") == std::wstring::npos;
  if (!below_drive_root) return "is not a folder below a drive root";
  return std::string();
}

std::wstring OwnPath() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size())));
  return path;
}

bool RecordVersionIs(DWORD expected) {
  DWORD version = 0;
  DWORD size = sizeof version;
  return RegGetValueW(HKEY_LOCAL_MACHINE, kInstallationKey, L"version",
                      RRF_RT_REG_DWORD | RRF_SUBKEY_WOW6432KEY, nullptr, &version,
                      &size) == ERROR_SUCCESS &&
         version == expected;
}

// Runs this driver again with `arguments`, as a child that believes it is
// not under Wine, and tells what is wrong with how it refused: it must end
// with the refusal's status and message and leave a record and a file in
// the work folder as they were.
std::vector<std::string> CheckRefusal(const std::wstring& arguments,
                                      const std::wstring& work_folder) {
  std::vector<std::string> problems;
  // This process's own number, which a child that did not refuse could not
  // write back the same.
  const DWORD untouched_version = GetCurrentProcessId();
  const std::string untouched_content = std::to_string(untouched_version);
  const std::wstring untouched = Join(work_folder, L"untouched.txt");
  if (!WriteWholeFile(untouched, untouched_content) ||
      !WriteRecord(KEY_WOW64_32KEY, {Dword(L"version", untouched_version)})) {
    problems.emplace_back("cannot lay out what the child must not touch");
    return problems;
  }

  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inheritable, 0)) {
    problems.emplace_back("cannot make a pipe");
    return problems;
  }
  const Handle reader(read_end);
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

  // Whatever the child does, it ends with the job.
  const Handle job(CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);

  std::wstring command_line = L"\"" + OwnPath() + L"\" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write_end;
  startup.hStdError = write_end;
  PROCESS_INFORMATION process = {};
  SetEnvironmentVariableW(kPretendNotWine, L"1");
  const BOOL created =
      CreateProcessW(nullptr, &command_line[0], nullptr, nullptr, /*bInheritHandles=*/TRUE,
                     CREATE_SUSPENDED, nullptr, nullptr, &startup, &process);
  SetEnvironmentVariableW(kPretendNotWine, nullptr);
  // The child's output ends when no one else holds the writing end.
  CloseHandle(write_end);
  if (!created) {
    problems.push_back("cannot start the child: error " + std::to_string(GetLastError()));
    return problems;
  }
  const Handle child(process.hProcess);
  const Handle child_thread(process.hThread);
  AssignProcessToJobObject(job.get(), child.get());
  ResumeThread(child_thread.get());
  DWORD status = 0;
  if (WaitForSingleObject(child.get(), kCaseTimeoutMs) != WAIT_OBJECT_0) {
    TerminateJobObject(job.get(), 1);
    problems.emplace_back("the child did not end");
  }
  GetExitCodeProcess(child.get(), &status);

  std::string output;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(reader.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
    output.append(buffer, read);
  }
  if (status != kRefusedStatus) problems.push_back("exit status " + std::to_string(status));
  if (output.find("not under Wine, so nothing is done") == std::string::npos) {
    problems.push_back("no refusal in its output: " + output);
  }
  if (ReadWholeFile(untouched) != untouched_content) {
    problems.emplace_back("the work folder changed");
  }
  if (!RecordVersionIs(untouched_version)) problems.emplace_back("the record changed");

  DeleteFileW(Extended(untouched).c_str());
  DeleteRecord(KEY_WOW64_32KEY);
  return problems;
}

int RunSuite(const std::wstring& kavrel_source, const std::wstring& work_folder,
             const std::wstring& spare_drive, const std::wstring& sample_record) {
  const std::wstring probe_source = Join(OwnFolder(), L"e2e_probe.exe");
  const std::wstring explain = Join(Parent(kavrel_source), L"kavrel-explain.exe");
  std::string unusable = UnusableWorkFolder(work_folder);
  if (unusable.empty()) unusable = MakeNewFolder(work_folder, false);
  if (!unusable.empty()) {
    Say("the work folder " + Utf8(work_folder) + " " + unusable + "; nothing is done");
    return 1;
  }

  int passed = 0;
  int failed = 0;
  int skipped = 0;
  {
    const std::vector<std::string> problems =
        CheckRefusal(L"run \"" + kavrel_source + L"\" \"" + work_folder + L"\" \"" + spare_drive +
                         L"\" \"" + sample_record + L"\"",
                     work_folder);
    std::string line = std::string(problems.empty() ? "ok   " : "FAIL ") +
                       "00 outside Wine, without " + Utf8(kThrowawayFlag) + ", nothing is done";
    for (size_t i = 0; i < problems.size(); ++i) line += (i == 0 ? ": " : "; ") + problems[i];
    Say(line);
    (problems.empty() ? passed : failed) += 1;
  }
  // kavrel and kavrel-explain as a Windows without the UTF-8 code page
  // reads them.
  const std::wstring legacy = Join(work_folder, L"legacy");
  const std::wstring legacy_kavrel = Join(legacy, L"kavrel.exe");
  const std::wstring legacy_explain = Join(legacy, L"kavrel-explain.exe");
  for (const auto& [source, copy] :
       {std::make_pair(kavrel_source, legacy_kavrel), std::make_pair(explain, legacy_explain)}) {
    const std::string problem = CopyWithoutUtf8CodePage(source, copy);
    if (!problem.empty()) {
      Say(problem);
      RemoveTree(work_folder);
      return 1;
    }
  }
  Handle inherited(MakeInheritableHandle(work_folder));
  // Where the REG_EXPAND_SZ case's text would point, were it expanded.
  SetEnvironmentVariableW(L"KAVREL_E2E_FOLDER", L"Pimbalo");

  // Where the manifest's UTF-8 is ignored, every program takes its paths in
  // the system's code page, as the copies without it do everywhere.
  const bool utf8 = TakesUtf8FromManifest();
  const e2e::Token token = OwnToken();
  int number = 0;
  for (const Case& c : Cases(spare_drive, sample_record)) {
    ++number;
    const std::wstring digits = (number < 10 ? L"0" : L"") + std::to_wstring(number);
    const std::wstring mark = L"case-" + digits;
    const std::wstring folder = Join(work_folder, digits);
    Scene planned = DefaultScene(folder);
    c.arrange(planned);
    const e2e::Expectation expectation =
        e2e::Expect({utf8 ? c.expected : c.in_code_page_1252.value_or(c.expected), c.on_windows,
                     planned.filtered, planned.explain_reads_only},
                    UnderWine(), token);
    if (expectation.skipped != nullptr) {
      Say("skip " + Utf8(digits) + " " + c.name + ": " + expectation.skipped);
      ++skipped;
      continue;
    }
    Scene scene;
    bool at_root = false;
    Observation seen;
    std::string first_try;
    // Wine now and then fails to lay out a case or to create a process
    // before any of kavrel's own code runs (a process start fails with
    // ERROR_INTERNAL_ERROR, a copy with a file still held): such a case is
    // laid out and run once more, and its line says so.
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (!scene.outside_folder.empty()) RemoveTree(scene.outside_folder);
      scene = DefaultScene(folder);
      c.arrange(scene);
      at_root = scene.kavrel_folder.size() == 3;
      if (at_root) {
        DeleteFileW(scene.KavrelPath().c_str());
        DeleteFileW(scene.InstallerPath().c_str());
      }
      seen = Run(scene, scene.legacy_code_page ? legacy_kavrel : kavrel_source, probe_source,
                 c.arguments, mark);
      if (!seen.not_started || attempt == 1) break;
      first_try = seen.problems.back();
      Sleep(500);
    }
    const bool in_code_page = scene.legacy_code_page || (!utf8 && c.in_code_page_1252);
    const Started expected = expectation.kavrel;
    std::vector<std::string> problems = Check(scene, expected, mark, seen);
    if (in_code_page && GetACP() != 1252) {
      problems.push_back("code page " + std::to_string(GetACP()) + " here, not 1252");
    }
    const Started told = expectation.explain;
    const std::string explained =
        CheckExplain(scene.legacy_code_page ? legacy_explain : explain, scene, c.arguments, told);
    if (!explained.empty()) problems.push_back(explained);
    if (at_root) {
      DeleteFileW(scene.KavrelPath().c_str());
      DeleteFileW(scene.InstallerPath().c_str());
    }
    if (!scene.outside_folder.empty()) RemoveTree(scene.outside_folder);

    std::string line = (problems.empty() ? "ok   " : "FAIL ") + Utf8(digits) + " " + c.name +
                       " -> " + Describe(expected);
    if (!first_try.empty()) line += " (run twice; the first time: " + first_try + ")";
    for (size_t i = 0; i < problems.size(); ++i) line += (i == 0 ? ": " : "; ") + problems[i];
    Say(line);
    (problems.empty() ? passed : failed) += 1;
  }
  DeleteRecord(KEY_WOW64_32KEY);
  DeleteRecord(KEY_WOW64_64KEY);
  // The next run needs the folder gone: it uses only a new one.
  inherited.reset(nullptr);
  if (!RemoveTree(work_folder)) {
    Say("FAIL the work folder " + Utf8(work_folder) + " could not be removed whole");
    ++failed;
  }
  Say(std::to_string(passed) + " passed, " + std::to_string(failed) + " failed, " +
      std::to_string(skipped) + " skipped");
  return failed == 0 && passed > 0 ? 0 : 1;
}

// kavrel in C:\kavrel with the installer program beside it and, when
// recorded, the application in C:\Pimbalo.
int RunDemo(const std::wstring& kavrel_source) {
  const std::wstring probe_source = Join(OwnFolder(), L"e2e_probe.exe");
  const std::wstring made[] = {L"C:\\kavrel", L"C:\\Pimbalo", L"C:\\kavrel-demo"};
  for (const std::wstring& folder : made) {
    if (Exists(folder)) {
      Say(Utf8(folder) + " is there already; the demo would change it, so nothing is done");
      return 1;
    }
  }
  Scene scene = DefaultScene(L"C:\\kavrel-demo");
  scene.kavrel_folder = L"C:\\kavrel";
  scene.Setuppath(L"C:\\Pimbalo");

  struct Situation {
    const char* title;
    bool recorded;
    std::wstring arguments;
  };
  const Situation situations[] = {
      {"(a) no installation record, kavrel.exe started without arguments", false, L""},
      {"(b) record: C:\\Pimbalo\\pimbalo.exe, version 5; kavrel.exe started without arguments",
       true, L""},
      {"(c) the same record; kavrel.exe started with the required version 7", true, L"7"},
  };
  int number = 0;
  bool all_ended = true;
  for (const Situation& situation : situations) {
    scene.key_present = situation.recorded;
    scene.folder = L"C:\\kavrel-demo\\" + std::to_wstring(++number);
    const Observation seen = Run(scene, kavrel_source, probe_source, situation.arguments, L"demo");
    Say(situation.title);
    for (const std::string& problem : seen.problems) {
      Say("    problem: " + problem);
      all_ended = false;
    }
    if (seen.reports.empty()) Say("    nothing started");
    for (Report report : seen.reports) {
      const bool is_installer = SamePath(report["module"], scene.InstallerPath());
      const bool hidden = report["show_flag"] == "1" && report["show_window"] == "0";
      Say(std::string("    ") + (is_installer ? "installer" : "application") + " started: " +
          report["module"] + " in " + report["cwd"] + (hidden ? ", asked to stay hidden" : ""));
    }
    Say("    kavrel exit code " + std::to_string(seen.exit_code));
  }
  for (const std::wstring& folder : made) RemoveTree(folder);
  DeleteRecord(KEY_WOW64_32KEY);
  DeleteRecord(KEY_WOW64_64KEY);
  return all_ended ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool throwaway = argc > 1 && std::wstring(argv[1]) == kThrowawayFlag;
  const int first = throwaway ? 2 : 1;  // the mode's index
  const int count = argc - first;
  const std::wstring mode = count > 0 ? argv[first] : L"";
  const bool run = mode == L"run" && count == 5;
  const bool demo = mode == L"demo" && count == 2;
  const bool folder = mode == L"folder" && count == 2;
  if (!run && !demo && !folder) {
    fputs(
        "usage: e2e_driver [--throwaway-machine] run KAVREL_EXE WORK_FOLDER SPARE_DRIVE "
        "SAMPLE_REG\n"
        "       e2e_driver [--throwaway-machine] demo KAVREL_EXE\n"
        "       e2e_driver [--throwaway-machine] folder NEW_FOLDER\n",
        stderr);
    return 2;
  }
  if (!throwaway && !UnderWine()) {
    fputs(kRefusal, stderr);
    return kRefusedStatus;
  }
  if (run) return RunSuite(argv[first + 1], argv[first + 2], argv[first + 3], argv[first + 4]);
  if (folder) {
    std::string unusable = UnusableWorkFolder(argv[first + 1]);
    if (unusable.empty()) unusable = MakeNewFolder(argv[first + 1], false);
    if (unusable.empty()) return 0;
    Say(Utf8(argv[first + 1]) + " " + unusable);
    return 1;
  }
  return RunDemo(argv[first + 1]);
}
