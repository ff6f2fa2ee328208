// Paths, files and folders, and their removal. Every path handed to the file
// calls is given in its extended form (with the \\?\ prefix), so that the
// rows' paths longer than MAX_PATH can be made too.
//
// RemoveTree removes a tree by handle and never through a link: each entry
// is opened as it is (FILE_FLAG_OPEN_REPARSE_POINT), and an entry that its
// folder's listing or its own handle shows to be a reparse point (a
// junction or a symbolic link) is removed itself, never entered, so what it
// points to stays as it is, even when it was swapped in while the removal
// ran. A folder is held open without FILE_SHARE_DELETE while its entries are
// listed through that handle and removed, so that it cannot be renamed or
// replaced meanwhile. Each entry is deleted with POSIX semantics, ignoring
// the read-only attribute, where Windows has that (10 version 1809 and
// later); elsewhere the attribute is cleared through the entry's handle and
// the entry deleted when that handle closes. What another program holds
// open is tried again, for at most kRemovalRetryMs, and what is left then
// is named.
#ifndef KAVREL_TESTS_E2E_FILES_H_
#define KAVREL_TESTS_E2E_FILES_H_

#include <windows.h>

#include <string>
#include <vector>

// How long a removal tries again what another program holds open.
constexpr DWORD kRemovalRetryMs = 10000;

std::wstring Extended(const std::wstring& path);
std::wstring Join(const std::wstring& folder, const std::wstring& name);
std::wstring Parent(const std::wstring& path);
// Whether `path` is a folder below a drive root, as "C:\name...", with no
// ".." in it.
bool BelowDriveRoot(const std::wstring& path);
bool Exists(const std::wstring& path);

// Makes `folder` and the folders above it that are missing; an existing one
// is accepted.
bool MakeFolders(const std::wstring& folder);
// Copies a program to `destination`, making its folders, and clears the
// read-only attribute of the copy, which CopyFileW keeps from the source: a
// kit unpacked read-only must still be removable, and its copies rewritable
// by BeginUpdateResourceW.
bool CopyProgram(const std::wstring& source, const std::wstring& destination);
bool WriteWholeFile(const std::wstring& path, const std::string& content);
std::string ReadWholeFile(const std::wstring& path);
// The names of the entries of `folder` that match `pattern`.
std::vector<std::wstring> List(const std::wstring& folder, const wchar_t* pattern);

// Removes `path` and, when it is a folder, everything in it; tells whether
// it is gone. When not, `left` (if given) names what is left, each with
// Windows' error, innermost first.
bool RemoveTree(const std::wstring& path, std::vector<std::string>* left = nullptr);
// The first of `left`, and how many more.
std::string Named(const std::vector<std::string>& left);

// This program's own path and folder.
std::wstring OwnPath();
std::wstring OwnFolder();

// How GetCurrentDirectoryW gives back a folder: without a closing
// backslash, except at a drive root.
std::wstring AsWorkingDirectory(const std::wstring& folder);
// Whether the UTF-8 path `seen` names `expected`, compared as Windows
// compares them: case aside, and with a doubled backslash taken as one.
bool SamePath(const std::string& seen, const std::wstring& expected);

#endif  // KAVREL_TESTS_E2E_FILES_H_
