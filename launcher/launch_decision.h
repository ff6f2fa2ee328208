// kavrel's entry point, which is the whole launch decision: start the
// installed application when its installation record is complete and its
// version is not below the one required on the command line; in every other
// case start the installer program beside kavrel. Always returns 0.
#ifndef KAVREL_LAUNCHER_LAUNCH_DECISION_H_
#define KAVREL_LAUNCHER_LAUNCH_DECISION_H_

#include "platform/entry_point.h"

// The Windows Unicode GUI entry point. None of its parameters are used:
// kavrel reads its command line itself.
extern "C" int KAVREL_ENTRY_CALL wWinMain(KavrelInstance instance, KavrelInstance previous_instance,
                                          wchar_t* command_line, int show_command);

#endif  // KAVREL_LAUNCHER_LAUNCH_DECISION_H_
