// kavrel's entry point, which is the whole launch decision: start the
// installed application when its installation record is complete and its
// version is not below the one required on the command line; in every other
// case start the installer program beside kavrel. Always returns 0.
#ifndef KAVREL_LAUNCHER_LAUNCH_DECISION_H_
#define KAVREL_LAUNCHER_LAUNCH_DECISION_H_

#include "launcher/installation_record.h"
#include "platform/entry_point.h"

// The Windows Unicode GUI entry point. None of its parameters are used:
// kavrel reads its command line itself. It makes the decision below with a
// record of its own and returns 0.
extern "C" int KAVREL_ENTRY_CALL wWinMain(KavrelInstance instance, KavrelInstance previous_instance,
                                          wchar_t* command_line, int show_command);

// The launch decision, all of it: restricts the DLL search, reads the
// installation record into *record, applies the required-version gate and
// makes the start. Afterwards *record holds what kavrel read, each value
// with its status (launcher/installation_record.h), so that kavrel-explain
// can tell the decision from kavrel's own reading of it.
void MakeLaunchDecision(InstallationRecord* record);

#endif  // KAVREL_LAUNCHER_LAUNCH_DECISION_H_
