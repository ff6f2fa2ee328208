#include "tests/e2e/files.h"

#include <wctype.h>

#include "tests/e2e/utf8.h"

namespace {

// FileDispositionInfoEx and its flags, which the headers declare only when
// built for Windows 10 alone.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;
struct DispositionEx {
  DWORD flags;
};

// The attributes FileBasicInfo may set; the others are the file system's.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY |
                                      FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

struct Entry {
  std::wstring name;
  DWORD attributes;  // as the folder's listing gives them
};

// The entries of the folder open as `folder`, read through that handle.
std::vector<Entry> ListOpen(HANDLE folder) {
  std::vector<Entry> entries;
  alignas(8) BYTE buffer[16384];
  FILE_INFO_BY_HANDLE_CLASS how = FileIdBothDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(folder, how, buffer, sizeof buffer)) {
    how = FileIdBothDirectoryInfo;
    for (const BYTE* at = buffer;;) {
      const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
      const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") entries.push_back({name, entry->FileAttributes});
      if (entry->NextEntryOffset == 0) break;
      at += entry->NextEntryOffset;
    }
  }
  return entries;
}

std::string Failed(const std::wstring& path, DWORD error) {
  return Utf8(path) + " (error " + std::to_string(error) + ")";
}

// Marks the entry open as `entry`, whose attributes are `attributes`, for
// deletion.
bool Dispose(HANDLE entry, DWORD attributes) {
  // Its name goes at once, also while another program still holds it open
  // (a scanner, say), and the read-only attribute does not stop it.
  DispositionEx posix = {kDispositionDelete | kDispositionPosixSemantics |
                         kDispositionIgnoreReadOnly};
  if (SetFileInformationByHandle(entry, kFileDispositionInfoEx, &posix, sizeof posix)) return true;
  // Windows before 10 version 1809, a file system without POSIX semantics,
  // and Wine 8 refuse that: the older call, which refuses a read-only entry,
  // so the attribute is cleared first.
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = attributes & kSettableAttributes;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(entry, FileBasicInfo, &basic, sizeof basic)) return false;
  }
  // Deleted when the handle closes.
  FILE_DISPOSITION_INFO dispose = {TRUE};
  return SetFileInformationByHandle(entry, FileDispositionInfo, &dispose, sizeof dispose) != 0;
}

// One pass of RemoveTree; `listed_as_link` when the folder's listing shows
// the entry as a reparse point. Adds to `failed` what it could not remove.
bool RemoveOnce(const std::wstring& path, bool listed_as_link, std::vector<std::string>* failed) {
  const HANDLE entry = CreateFileW(
      Extended(path).c_str(),
      DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | FILE_LIST_DIRECTORY | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (entry == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
    failed->push_back(Failed(path, error));
    return false;
  }
  BY_HANDLE_FILE_INFORMATION seen = {};
  bool gone = GetFileInformationByHandle(entry, &seen) != 0;
  if (!gone) failed->push_back(Failed(path, GetLastError()));
  const bool link = listed_as_link || (seen.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (gone && !link && (seen.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    for (const Entry& inner : ListOpen(entry)) {
      gone = RemoveOnce(Join(path, inner.name),
                        (inner.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0, failed) &&
             gone;
    }
  }
  if (gone && !Dispose(entry, seen.dwFileAttributes)) {
    failed->push_back(Failed(path, GetLastError()));
    gone = false;
  }
  CloseHandle(entry);
  return gone;
}

// Paths as Windows compares them: case aside, and with a doubled backslash
// taken as one.
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

}  // namespace

std::wstring Extended(const std::wstring& path) { return L"\\\\?\\" + path; }

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
  if (!folder.empty() && folder.back() == L'\\') return folder + name;
  return folder + L"\\" + name;
}

std::wstring Parent(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

bool BelowDriveRoot(const std::wstring& path) {
  return path.size() > 3 && iswalpha(path[0]) && path[1] == L':' && path[2] == L'\\' &&
         path[3] != L'\\' && path.find(L"\\..") == std::wstring::npos;
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(Extended(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

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
  if (!MakeFolders(Parent(destination)) ||
      !CopyFileW(Extended(source).c_str(), Extended(destination).c_str(), FALSE)) {
    return false;
  }
  const DWORD attributes = GetFileAttributesW(Extended(destination).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return true;
  const DWORD kept = attributes & kSettableAttributes;
  return SetFileAttributesW(Extended(destination).c_str(),
                            kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL) != 0;
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

bool RemoveTree(const std::wstring& path, std::vector<std::string>* left) {
  const ULONGLONG deadline = GetTickCount64() + kRemovalRetryMs;
  for (;;) {
    std::vector<std::string> failed;
    if (RemoveOnce(path, false, &failed)) return true;
    if (GetTickCount64() >= deadline) {
      if (left != nullptr) *left = failed;
      return false;
    }
    Sleep(250);
  }
}

std::string Named(const std::vector<std::string>& left) {
  if (left.empty()) return "nothing named";
  std::string named = left.front();
  if (left.size() > 1) named += " and " + std::to_string(left.size() - 1) + " more";
  return named;
}

std::wstring OwnPath() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size())));
  return path;
}

std::wstring OwnFolder() { return Parent(OwnPath()); }

std::wstring AsWorkingDirectory(const std::wstring& folder) {
  if (folder.size() > 3 && folder.back() == L'\\') return folder.substr(0, folder.size() - 1);
  return folder;
}

bool SamePath(const std::string& seen, const std::wstring& expected) {
  return Comparable(seen) == Comparable(Utf8(expected));
}
