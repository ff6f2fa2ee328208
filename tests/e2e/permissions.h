// The permissions of the folders the driver works in, and of the spare
// drive's root. What runs as administrator must work only where nobody but
// administrators can change what it starts.
//
//   MakeNewFolder(folder, user_writes)
//       makes `folder`, which must not exist yet, in a folder that does,
//       with permissions of its own rather than inherited ones: owned by
//       the Administrators group, full control for administrators and
//       SYSTEM, read and execute for the user this driver runs as (whose
//       filtered rights some rows run kavrel with), or, when `user_writes`,
//       modify rights for that user, for the folder where those rows'
//       programs write their reports. Tells why not, or nothing.
//   DifferFromMade(folder, user_writes, read_back)
//       reads the owner and the permissions of `folder` back through a
//       handle to it and tells how they differ from what MakeNewFolder
//       sets, or nothing; `read_back` gets them as text
//   OpenToOthers(root, read_back)
//       tells who other than administrators could add to or change the
//       folder `root` or what is copied into it (what an entry that files
//       and folders inherit gives), or nothing: only the Administrators
//       group, SYSTEM and TrustedInstaller may hold any right beyond reading
//       and running, and CREATOR OWNER, which becomes whoever makes the
//       file (this driver); the owner must be one of the first three, since
//       an owner may always rewrite the permissions
//   FileSystemOf(root)
//       the file system of the volume `root` is on ("NTFS"), or a text in
//       parentheses saying why it cannot tell
#ifndef KAVREL_TESTS_E2E_PERMISSIONS_H_
#define KAVREL_TESTS_E2E_PERMISSIONS_H_

#include <string>

// The user this driver runs as, as a SID string; empty when it cannot tell.
std::wstring OwnUserSid();

std::string MakeNewFolder(const std::wstring& folder, bool user_writes);
std::string DifferFromMade(const std::wstring& folder, bool user_writes, std::string* read_back);
std::string OpenToOthers(const std::wstring& root, std::string* read_back);
std::string FileSystemOf(const std::wstring& root);

#endif  // KAVREL_TESTS_E2E_PERMISSIONS_H_
