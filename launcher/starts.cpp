#include "launcher/starts.h"

#include <string.h>

#include "launcher/bounded_format.h"
#include "launcher/exact_text.h"
#include "platform/platform.h"

bool StartApplication(const char* setuppath, const char* appfile) {
  char application_path[kPathCapacity];
  if (!JoinPath(application_path, sizeof application_path, setuppath, appfile)) return false;

  platform::StartupInfo startup_info;
  memset(&startup_info, 0, sizeof startup_info);
  startup_info.size = sizeof startup_info;
  platform::ProcessInformation process_information;
  memset(&process_information, 0, sizeof process_information);

  // No command line: Windows makes the application's own from its path, put
  // in double quotes, so a path with spaces reaches it as one argument.
  return platform::CreateProcessAnsi(application_path, /*command_line=*/nullptr, nullptr, nullptr,
                                     /*inherit_handles=*/1, /*creation_flags=*/0,
                                     /*environment=*/nullptr, setuppath, &startup_info,
                                     &process_information) != 0;
}

void StartInstaller() {
  char module_path[kPathCapacity];
  char own_directory[kPathCapacity];
  memset(module_path, 0, sizeof module_path);
  memset(own_directory, 0, sizeof own_directory);

  // 0 is a failed call; the full limit means the path was cut, and the last
  // backslash of a cut path may belong to a parent folder.
  const uint32_t length = platform::GetOwnModuleFileName(module_path, kModulePathLimit);
  if (length == 0 || length >= kModulePathLimit) return;
  // A path with a look-alike in it names another folder, like a cut one.
  if (!IsExactModulePath(module_path)) return;

  // The own directory is the module path up to its last backslash, with
  // that backslash kept: a program at the root of drive E gives E:\.
  char* last_backslash = strrchr(module_path, '\\');
  if (last_backslash == nullptr) return;
  *last_backslash = '\0';
  if (!JoinPath(own_directory, sizeof own_directory, module_path, "")) return;

  char installer_path[kPathCapacity];
  if (!JoinPath(installer_path, sizeof installer_path, module_path, kInstallerFileName)) return;

  platform::ShellExecuteAnsi(/*operation=*/nullptr, installer_path,
                             /*parameters=*/nullptr, own_directory, platform::kShowHide);
}
