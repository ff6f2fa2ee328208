#include "tests/e2e/starts.h"

// sddl.h needs what windows.h declares.
#include <sddl.h>

#include "tests/e2e/permissions.h"
#include "tests/e2e/utf8.h"

namespace {

// The user and elevation type of `token`; false when they cannot be read.
bool ReadToken(HANDLE token, std::wstring* user, TOKEN_ELEVATION_TYPE* type) {
  alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  wchar_t* sid = nullptr;
  if (!GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) ||
      !GetTokenInformation(token, TokenElevationType, type, sizeof *type, &size) ||
      !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
    return false;
  }
  *user = sid;
  LocalFree(sid);
  return true;
}

Elevation ElevationOf(TOKEN_ELEVATION_TYPE type) {
  if (type == TokenElevationTypeFull) return Elevation::kFull;
  if (type == TokenElevationTypeLimited) return Elevation::kLimited;
  return Elevation::kDefault;
}

// Says that `what` failed, with the error Windows gave for it.
std::string Failed(const std::string& what, DWORD error) {
  return what + ": error " + std::to_string(error);
}

// The file name of the process open as `process`, for the kit's line.
std::string ProcessName(HANDLE process) {
  wchar_t path[MAX_PATH];
  DWORD size = MAX_PATH;
  if (!QueryFullProcessImageNameW(process, 0, path, &size)) return "(name unknown)";
  const std::wstring full(path, size);
  return Utf8(full.substr(full.find_last_of(L'\\') + 1));
}

// Enables SeIncreaseQuotaPrivilege in the driver's own token, as Microsoft's
// published example of starting a program with the desktop shell's token
// does first; where it cannot, the start still says whether it works.
void EnableIncreaseQuota() {
  HANDLE own = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &own)) return;
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (LookupPrivilegeValueW(nullptr, L"SeIncreaseQuotaPrivilege", &privileges.Privileges[0].Luid)) {
    AdjustTokenPrivileges(own, FALSE, &privileges, 0, nullptr, nullptr);
  }
  CloseHandle(own);
}

void FindShellToken(FilteredRights* rights) {
  using Way = FilteredRights::Way;
  const HWND shell = GetShellWindow();
  if (shell == nullptr) {
    rights->found =
        "there is no desktop shell window here (no one's desktop: a remote shell, a service, or "
        "the shell not running), so no filtered token of the driver's user to be had";
    return;
  }
  DWORD id = 0;
  GetWindowThreadProcessId(shell, &id);
  rights->way = Way::kFailed;
  const Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
  if (!process.valid()) {
    const DWORD error = GetLastError();
    rights->found =
        Failed("the desktop shell, process " + std::to_string(id) + ", cannot be opened", error);
    return;
  }
  const std::string shell_name = ProcessName(process.get()) + ", process " + std::to_string(id);
  HANDLE opened = nullptr;
  if (!OpenProcessToken(process.get(), TOKEN_QUERY | TOKEN_DUPLICATE, &opened)) {
    const DWORD error = GetLastError();
    rights->found =
        Failed("the token of the desktop shell (" + shell_name + ") cannot be opened", error);
    return;
  }
  const Handle shell_token(opened);
  const std::wstring own_user = OwnUserSid();
  std::wstring shell_user;
  TOKEN_ELEVATION_TYPE shell_type = TokenElevationTypeDefault;
  if (own_user.empty() || !ReadToken(shell_token.get(), &shell_user, &shell_type)) {
    rights->found =
        Failed("the driver's token or the desktop shell's cannot be read", GetLastError());
    return;
  }
  if (shell_user != own_user) {
    rights->way = Way::kNone;
    rights->found = "the desktop shell (" + shell_name + ") runs as another user, " +
                    Utf8(shell_user) +
                    " (a standard user's desktop, elevated with an administrator's password), so "
                    "no filtered token of the driver's user to be had";
    return;
  }
  if (shell_type != TokenElevationTypeLimited) {
    rights->found = std::string("the desktop shell's token (") + shell_name + ") is " +
                    ElevationName(ElevationOf(shell_type)) + ", not Limited";
    return;
  }
  HANDLE primary = nullptr;
  if (!DuplicateTokenEx(shell_token.get(),
                        TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY |
                            TOKEN_ADJUST_DEFAULT | TOKEN_ADJUST_SESSIONID,
                        nullptr, SecurityImpersonation, TokenPrimary, &primary)) {
    rights->found = Failed("the desktop shell's token cannot be duplicated", GetLastError());
    return;
  }
  EnableIncreaseQuota();
  rights->token.reset(primary);
  rights->way = Way::kDesktopShell;
  rights->found = "the desktop shell's token (" + shell_name +
                  ", Limited, the driver's user), duplicated, with CreateProcessWithTokenW";
}

void FindWineLinkedToken(FilteredRights* rights) {
  rights->way = FilteredRights::Way::kFailed;
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
  if (primary == nullptr) {
    rights->found = "the linked token cannot be had as a primary token";
    return;
  }
  rights->token.reset(primary);
  rights->way = FilteredRights::Way::kWineLinkedToken;
  rights->found =
      "the linked token with CreateProcessAsUserW, a way kept for Wine alone (Wine shows no "
      "desktop shell window, and its CreateProcessWithTokenW ignores the token given)";
}

}  // namespace

Elevation OwnElevation() {
  HANDLE own = nullptr;
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own)) return Elevation::kUnknown;
  const bool read = GetTokenInformation(own, TokenElevationType, &type, sizeof type, &size) != 0;
  CloseHandle(own);
  return read ? ElevationOf(type) : Elevation::kUnknown;
}

const char* ElevationName(Elevation elevation) {
  switch (elevation) {
    case Elevation::kDefault:
      return "Default";
    case Elevation::kFull:
      return "Full";
    case Elevation::kLimited:
      return "Limited";
    case Elevation::kUnknown:
      break;
  }
  return "(unknown)";
}

void FindFilteredRights(bool wine, FilteredRights* rights) {
  rights->way = FilteredRights::Way::kNone;
  rights->token.reset(nullptr);
  if (wine) {
    FindWineLinkedToken(rights);
  } else {
    FindShellToken(rights);
  }
}

void TakeWineOwnToken(FilteredRights* rights) {
  rights->token.reset(nullptr);
  rights->way = FilteredRights::Way::kWineOwnToken;
  rights->found =
      "the driver's own token, a way kept for Wine alone (Wine 10 starts every program with an "
      "administrator's filtered token, and elevates one only when its manifest asks)";
}

bool StartProgram(const FilteredRights* rights, const std::wstring& program,
                  std::wstring command_line, const std::wstring& folder, DWORD flags,
                  STARTUPINFOW* startup, PROCESS_INFORMATION* process) {
  using Way = FilteredRights::Way;
  const Way way = rights != nullptr ? rights->way : Way::kNone;
  if (rights != nullptr && way != Way::kDesktopShell && way != Way::kWineLinkedToken &&
      way != Way::kWineOwnToken) {
    SetLastError(ERROR_NO_TOKEN);
    return false;
  }
  if (way == Way::kWineLinkedToken) {
    return CreateProcessAsUserW(rights->token.get(), program.c_str(), &command_line[0], nullptr,
                                nullptr, /*bInheritHandles=*/TRUE, flags, nullptr, folder.c_str(),
                                startup, process) != 0;
  }
  if (way == Way::kDesktopShell) {
    // Without an environment of its own, the program would get the one of
    // the token's user profile, without the row's variables.
    wchar_t* environment = GetEnvironmentStringsW();
    const BOOL created = CreateProcessWithTokenW(
        rights->token.get(), 0, program.c_str(), &command_line[0],
        flags | CREATE_UNICODE_ENVIRONMENT, environment, folder.c_str(), startup, process);
    const DWORD error = GetLastError();
    FreeEnvironmentStringsW(environment);
    SetLastError(error);
    return created != 0;
  }
  return CreateProcessW(program.c_str(), &command_line[0], nullptr, nullptr,
                        /*bInheritHandles=*/TRUE, flags, nullptr, folder.c_str(), startup,
                        process) != 0;
}

bool MakeJob(Job* job) {
  job->job.reset(CreateJobObjectW(nullptr, nullptr));
  job->port.reset(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
  JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {};
  association.CompletionKey = job->job.get();
  association.CompletionPort = job->port.get();
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  return job->job.get() != nullptr && job->port.get() != nullptr &&
         SetInformationJobObject(job->job.get(), JobObjectAssociateCompletionPortInformation,
                                 &association, sizeof association) &&
         SetInformationJobObject(job->job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits);
}

DWORD ActiveProcesses(HANDLE job) {
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
  if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                 sizeof accounting, nullptr)) {
    return 0;
  }
  return accounting.ActiveProcesses;
}

bool WaitUntilJobEmpty(const Job& job, ULONGLONG deadline) {
  for (;;) {
    if (ActiveProcesses(job.job.get()) == 0) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return false;
    DWORD message = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* overlapped = nullptr;
    // The completion port says when the last process ended; the accounting
    // above decides, so a message missed before the first wait does no harm.
    if (GetQueuedCompletionStatus(job.port.get(), &message, &key, &overlapped,
                                  static_cast<DWORD>(deadline - now)) &&
        message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) {
      return true;
    }
  }
}
