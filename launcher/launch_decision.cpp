#include "launcher/launch_decision.h"

#include "launcher/installation_record.h"
#include "launcher/starts.h"
#include "launcher/version_gate.h"
#include "platform/platform.h"

void MakeLaunchDecision(InstallationRecord* record) {
  // Before anything else can load a DLL by name, and so find one that a
  // stranger put in kavrel's folder: only the system folder is searched.
  // Whatever comes of it, kavrel goes on the same.
  (void)platform::RestrictDllSearchToSystemFolder();

  bool run_installer = false;

  platform::RegistryKey key = nullptr;
  bool key_opened = false;
  if (!ReadInstallationRecord(record, &key, &key_opened)) {
    run_installer = true;
  } else if (IsInstalledVersionBelowRequired(record->version)) {
    run_installer = true;
  } else if (!StartApplication(record->setuppath, record->appfile)) {
    run_installer = true;
  }

  if (run_installer) StartInstaller();

  if (key_opened) platform::CloseRegistryKey(key);
}

extern "C" int KAVREL_ENTRY_CALL wWinMain(KavrelInstance /*instance*/,
                                          KavrelInstance /*previous_instance*/,
                                          wchar_t* /*command_line*/, int /*show_command*/) {
  InstallationRecord record;
  MakeLaunchDecision(&record);
  return 0;
}
