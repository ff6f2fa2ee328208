// The floor kavrel's run time is measured against: a program built with
// kavrel's own flags that loads what kavrel loads (kernel32, advapi32,
// shell32 and the C runtime) and does nothing. It also serves as the
// application the benchmark installs, so that what is measured is the
// starting, not the application's own work.
//
// Given a program as its argument, it starts that program the way kavrel
// starts the application and ends: the floor of a launcher, which shows what
// the one process start costs by itself.
#include <windows.h>
// shellapi.h needs what windows.h declares.
#include <shellapi.h>

namespace {

// Taking the addresses makes the loader map advapi32 and shell32 as it does
// for kavrel, without calling anything in them.
void* volatile g_imports[] = {reinterpret_cast<void*>(&RegCloseKey),
                              reinterpret_cast<void*>(&CommandLineToArgvW)};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments != nullptr && count >= 2) {
    STARTUPINFOW startup_info = {};
    startup_info.cb = sizeof startup_info;
    PROCESS_INFORMATION process = {};
    CreateProcessW(arguments[1], nullptr, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                   &startup_info, &process);
  }
  LocalFree(arguments);
  return g_imports[0] == nullptr;
}
