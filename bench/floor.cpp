// The floor kavrel's run time is measured against: a program built with
// kavrel's own flags that loads what kavrel loads (kernel32, advapi32,
// shell32 and the C runtime) and does nothing. It also serves as the
// application the benchmark installs, so that what is measured is the
// starting, not the application's own work.
#include <windows.h>
// shellapi.h needs what windows.h declares.
#include <shellapi.h>

namespace {

// Taking the addresses makes the loader map advapi32 and shell32 as it does
// for kavrel, without calling anything in them.
void* volatile g_imports[] = {reinterpret_cast<void*>(&RegCloseKey),
                              reinterpret_cast<void*>(&CommandLineToArgvW)};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return g_imports[0] == nullptr; }
