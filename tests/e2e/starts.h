// Tokens and starts: how the driver starts kavrel, kavrel-explain and the
// probe, with its own rights or with an administrator's filtered ones, and
// the job object that ends whatever they started.
//
// With UAC on, an administrator's elevated token (TokenElevationTypeFull)
// has a filtered one linked to it. But a process without SeTcbPrivilege
// gets that linked token only at identification level (Windows'
// documentation of TOKEN_LINKED_TOKEN), which cannot become a primary
// token, and CreateProcessAsUserW with a token that is not derived from the
// caller's needs SE_ASSIGNPRIMARYTOKEN_NAME, which administrators do not
// hold (error 1314). So on Windows the driver takes the way Microsoft gives
// for starting a program un-elevated from an elevated one: the token of the
// desktop shell, the process that owns the shell window (GetShellWindow),
// opened with PROCESS_QUERY_LIMITED_INFORMATION, duplicated as a primary
// token and used with CreateProcessWithTokenW, which needs
// SeImpersonatePrivilege, which an elevated administrator holds. It is used
// only when it is a Limited token (TokenElevationTypeLimited) of the
// driver's own user: where a standard user's desktop was elevated with an
// administrator's password, the shell is another user, and no filtered
// token of the driver's user is to be had. The other way Microsoft gives,
// asking the shell itself to start the program, gives no process handle:
// kavrel could not be started suspended inside the job, nor waited for, nor
// its exit code read, and it would get the shell's environment, not the
// row's.
//
// Under Wine there is no desktop shell window, and Wine 8's
// CreateProcessWithTokenW ignores the token it is given (a program started
// so reports the caller's Full token). Wine hands out the linked token as a
// primary token and honours it with CreateProcessAsUserW, so under Wine,
// and only there, the driver starts with the linked token. Wine 10 starts
// every program, the driver too, with an administrator's filtered token
// (TokenElevationTypeLimited) and elevates only a program whose manifest
// asks for it, without asking; there the driver's own token is the
// filtered one, and under Wine, and only there, the rows with filtered
// rights run with it. On Windows a driver with a Limited token is not
// elevated, which the kit does not run without (footing.h).
//
// Whichever way, before any row relies on it the kit checks that a program
// started so reports a Limited token of the driver's own user (footing.h).
#ifndef KAVREL_TESTS_E2E_STARTS_H_
#define KAVREL_TESTS_E2E_STARTS_H_

#include <windows.h>

#include <string>

#include "tests/e2e/handle.h"

// The elevation type of the driver's own token (TokenElevationType).
enum class Elevation { kDefault, kFull, kLimited, kUnknown };
Elevation OwnElevation();
const char* ElevationName(Elevation elevation);

// An administrator's filtered rights, to start programs with.
struct FilteredRights {
  enum class Way {
    kNone,             // none here: `found` says why
    kFailed,           // there should be some, but they could not be had
    kDesktopShell,     // the desktop shell's token, CreateProcessWithTokenW
    kWineLinkedToken,  // the linked token, CreateProcessAsUserW: Wine alone
    kWineOwnToken,     // the driver's own, already filtered token: Wine alone
  };
  Way way = Way::kNone;
  Handle token;       // a primary token, for the two ways that have one
  std::string found;  // how they were had, or why not, for the kit's line
};

// Finds them on this machine for a driver whose own token is elevated
// (Full); `wine` when the driver runs under Wine.
void FindFilteredRights(bool wine, FilteredRights* rights);
// Under Wine, for a driver whose own token is Limited: that token.
void TakeWineOwnToken(FilteredRights* rights);

// Starts `program` with `command_line` in `folder`, with the driver's own
// rights or, given `rights` (a way that found them), with those; `flags` as
// CreateProcessW takes them. The driver's environment is handed down whole
// either way. Handles are inherited as CreateProcessW inherits them, except
// with the desktop shell's token: CreateProcessWithTokenW hands down only
// the standard handles `startup` names. Fails as the call failed, with
// GetLastError() set.
bool StartProgram(const FilteredRights* rights, const std::wstring& program,
                  std::wstring command_line, const std::wstring& folder, DWORD flags,
                  STARTUPINFOW* startup, PROCESS_INFORMATION* process);

// A job object whose processes all end when it is closed, with a completion
// port that says when its last process ended.
struct Job {
  Handle job;
  Handle port;
};
bool MakeJob(Job* job);
DWORD ActiveProcesses(HANDLE job);
// Waits, at most until `deadline` (a GetTickCount64 value), for the job to
// have no process left.
bool WaitUntilJobEmpty(const Job& job, ULONGLONG deadline);

#endif  // KAVREL_TESTS_E2E_STARTS_H_
