// The Windows implementation of RestrictDllSearchToSystemFolder, in a file
// of its own so that kavrel-explain, which has a platform of its own for
// everything else, links the very same step. Nothing here decides anything
// about what kavrel starts.
#include <windows.h>

#include "platform/platform.h"

namespace platform {
namespace {

// SetDefaultDllDirectories and its flag, which kavrel finds at run time: a
// static import would keep kavrel from starting at all on a Windows that
// lacks the call.
using SetDefaultDllDirectoriesCall = BOOL(WINAPI*)(DWORD);
constexpr DWORD kLoadLibrarySearchSystem32 = 0x00000800;
#ifdef LOAD_LIBRARY_SEARCH_SYSTEM32
static_assert(kLoadLibrarySearchSystem32 == LOAD_LIBRARY_SEARCH_SYSTEM32,
              "LOAD_LIBRARY_SEARCH_SYSTEM32");
#endif

bool IsWindowsVista() {
  // GetVersion: the major version in the lowest byte, the minor in the next.
  const DWORD version = GetVersion();
  return (version & 0xFF) == 6 && ((version >> 8) & 0xFF) == 0;
}

}  // namespace

DllSearch RestrictDllSearchToSystemFolder() {
  // kernel32 is loaded in every process, so this loads nothing.
  const HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  const auto found = reinterpret_cast<void (*)()>(
      kernel32 != nullptr ? GetProcAddress(kernel32, "SetDefaultDllDirectories") : nullptr);
  if (found == nullptr) return DllSearch::kUnavailable;
  // On Windows Vista with the update that brings the call, shell objects
  // then fail to be created; installers that restrict their search skip
  // Vista for that reason, and so does kavrel.
  if (IsWindowsVista()) return DllSearch::kSkippedOnVista;
  // By its documentation, the search path set here "applies only to the
  // calling process and persists for the life of the process": the
  // application and the installer program that kavrel starts search as they
  // would without kavrel.
  const auto restrict_search = reinterpret_cast<SetDefaultDllDirectoriesCall>(found);
  return restrict_search(kLoadLibrarySearchSystem32) != 0 ? DllSearch::kRestricted
                                                          : DllSearch::kRefused;
}

}  // namespace platform
