#include "tests/e2e/permissions.h"

#include <stdio.h>
#include <windows.h>
// aclapi.h and sddl.h need what windows.h declares.
#include <aclapi.h>
#include <sddl.h>

#include "tests/e2e/files.h"
#include "tests/e2e/handle.h"
#include "tests/e2e/utf8.h"

namespace {

// The service SID of TrustedInstaller, which owns Windows' own files.
constexpr wchar_t kTrustedInstaller[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// Rights that only read and run: what anybody may hold.
constexpr DWORD kReadingRights =
    FILE_GENERIC_READ | FILE_GENERIC_EXECUTE | GENERIC_READ | GENERIC_EXECUTE;

std::wstring FolderSddl(const std::wstring& user, bool user_writes) {
  return L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;" +
         std::wstring(user_writes ? L"0x1301bf" : L"0x1200a9") + L";;;" + user + L")";
}

// A security descriptor, freed with LocalFree.
class Descriptor {
 public:
  Descriptor() = default;
  ~Descriptor() { LocalFree(descriptor_); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  PSECURITY_DESCRIPTOR* out() { return &descriptor_; }
  PSECURITY_DESCRIPTOR get() const { return descriptor_; }
  PSID Owner() const {
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    GetSecurityDescriptorOwner(descriptor_, &owner, &defaulted);
    return owner;
  }
  // Null when there is none: everyone may do anything.
  PACL Dacl() const {
    PACL dacl = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    GetSecurityDescriptorDacl(descriptor_, &present, &dacl, &defaulted);
    return present ? dacl : nullptr;
  }
  bool Protected() const {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    return GetSecurityDescriptorControl(descriptor_, &control, &revision) &&
           (control & SE_DACL_PROTECTED) != 0;
  }
  std::string Text() const {
    wchar_t* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor_, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
            &text, nullptr)) {
      return "(cannot be written as text)";
    }
    const std::string utf8 = Utf8(text);
    LocalFree(text);
    return utf8;
  }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

// Reads the owner and permissions of `path` through a handle to it, never
// through a link. Tells why not, or nothing.
std::string ReadSecurity(const std::wstring& path, Descriptor* read) {
  const Handle entry(CreateFileW(
      Extended(path).c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!entry.valid()) {
    return Utf8(path) + " cannot be opened to read its permissions: error " +
           std::to_string(GetLastError());
  }
  const DWORD error = GetSecurityInfo(entry.get(), SE_FILE_OBJECT,
                                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, nullptr, nullptr, read->out());
  if (error != ERROR_SUCCESS) {
    return "the permissions of " + Utf8(path) + " cannot be read: error " + std::to_string(error);
  }
  return std::string();
}

std::string SidText(PSID sid) {
  wchar_t* text = nullptr;
  if (sid == nullptr || !ConvertSidToStringSidW(sid, &text)) return "(no SID)";
  std::string utf8 = Utf8(text);
  LocalFree(text);
  wchar_t name[256];
  wchar_t domain[256];
  DWORD name_size = 256;
  DWORD domain_size = 256;
  SID_NAME_USE use = SidTypeUnknown;
  if (LookupAccountSidW(nullptr, sid, name, &name_size, domain, &domain_size, &use)) {
    utf8 =
        (domain[0] != L'\0' ? Utf8(domain) + "\\" : std::string()) + Utf8(name) + " (" + utf8 + ")";
  }
  return utf8;
}

std::string Hex(DWORD number) {
  char text[11];
  snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(number));
  return text;
}

bool IsSid(PSID sid, WELL_KNOWN_SID_TYPE type) { return IsWellKnownSid(sid, type) != FALSE; }

bool IsTrustedInstaller(PSID sid) {
  PSID trusted = nullptr;
  if (!ConvertStringSidToSidW(kTrustedInstaller, &trusted)) return false;
  const bool same = EqualSid(sid, trusted) != FALSE;
  LocalFree(trusted);
  return same;
}

// Administrators, SYSTEM and TrustedInstaller: who may own and change what
// the driver starts as administrator.
bool MayChange(PSID sid) {
  return IsSid(sid, WinBuiltinAdministratorsSid) || IsSid(sid, WinLocalSystemSid) ||
         IsTrustedInstaller(sid);
}

}  // namespace

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

std::string MakeNewFolder(const std::wstring& folder, bool user_writes) {
  const std::wstring user = OwnUserSid();
  if (user.empty()) return "cannot be made: the driver cannot tell its own user";
  SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          FolderSddl(user, user_writes).c_str(), SDDL_REVISION_1, &security.lpSecurityDescriptor,
          nullptr)) {
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

std::string DifferFromMade(const std::wstring& folder, bool user_writes, std::string* read_back) {
  read_back->clear();
  Descriptor made;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
          FolderSddl(OwnUserSid(), user_writes).c_str(), SDDL_REVISION_1, made.out(), nullptr)) {
    return "the permissions it was made with cannot be written down: error " +
           std::to_string(GetLastError());
  }
  Descriptor read;
  const std::string unread = ReadSecurity(folder, &read);
  if (!unread.empty()) return unread;
  *read_back = read.Text();
  if (read.Owner() == nullptr || !EqualSid(read.Owner(), made.Owner())) {
    return "it is owned by " + SidText(read.Owner()) + ", not by the Administrators group";
  }
  const PACL have = read.Dacl();
  const PACL want = made.Dacl();
  if (have == nullptr) return "it has no permissions at all: everyone may do anything with it";
  if (!read.Protected()) return "its permissions are not protected from inheritance";
  if (have->AceCount != want->AceCount) {
    return "it has " + std::to_string(have->AceCount) + " permission entries, not " +
           std::to_string(want->AceCount);
  }
  for (DWORD i = 0; i < have->AceCount; ++i) {
    void* got = nullptr;
    void* meant = nullptr;
    if (!GetAce(have, i, &got) || !GetAce(want, i, &meant)) return "its permissions cannot be read";
    const auto* a = static_cast<const ACCESS_ALLOWED_ACE*>(got);
    const auto* b = static_cast<const ACCESS_ALLOWED_ACE*>(meant);
    if (a->Header.AceType != b->Header.AceType || a->Header.AceFlags != b->Header.AceFlags ||
        a->Mask != b->Mask ||
        (a->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
         !EqualSid(const_cast<DWORD*>(&a->SidStart), const_cast<DWORD*>(&b->SidStart)))) {
      return "its permission entry " + std::to_string(i + 1) + " is not the one it was made with";
    }
  }
  return std::string();
}

std::string OpenToOthers(const std::wstring& root, std::string* read_back) {
  read_back->clear();
  Descriptor read;
  const std::string unread = ReadSecurity(root, &read);
  if (!unread.empty()) return unread;
  *read_back = read.Text();
  if (read.Owner() == nullptr || !MayChange(read.Owner())) {
    return "it is owned by " + SidText(read.Owner()) +
           ", who may change its permissions, and is not an administrator";
  }
  const PACL dacl = read.Dacl();
  if (dacl == nullptr) return "it has no permissions at all: everyone may change it";
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* got = nullptr;
    if (!GetAce(dacl, i, &got)) return "its permissions cannot be read";
    const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(got);
    // An entry that denies only takes away.
    if (ace->Header.AceType == ACCESS_DENIED_ACE_TYPE) continue;
    if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) {
      return "its permission entry " + std::to_string(i + 1) + " is of a kind (" +
             std::to_string(ace->Header.AceType) + ") the kit does not judge";
    }
    const PSID sid = const_cast<DWORD*>(&ace->SidStart);
    if (MayChange(sid) || IsSid(sid, WinCreatorOwnerSid)) continue;
    if ((ace->Mask & ~kReadingRights) == 0) continue;
    const bool inherited_only = (ace->Header.AceFlags & INHERIT_ONLY_ACE) != 0;
    return SidText(sid) + " may change " +
           (inherited_only ? "what is made or copied into it" : "it") + " (rights " +
           Hex(ace->Mask) + ")";
  }
  return std::string();
}

std::string FileSystemOf(const std::wstring& root) {
  wchar_t name[MAX_PATH + 1] = L"";
  if (!GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, name,
                             MAX_PATH + 1)) {
    return "(GetVolumeInformationW: error " + std::to_string(GetLastError()) + ")";
  }
  return Utf8(name);
}
