// The driver's `sandbox-config KIT_FOLDER RESULT_FOLDER`: writes the Windows
// Sandbox's configuration RESULT_FOLDER\kavrel-check.wsb for check.cmd's
// `check sandbox`. The file is made new (an existing name is refused), in
// UTF-8, with every path taken whole from the UTF-16 the driver was given
// and XML-escaped, so that any folder name survives, whatever the console's
// code page: the kit folder mapped read-only to C:\kavrel-check\kit,
// RESULT_FOLDER writable to C:\kavrel-check\result, networking off, and as
// logon command
//   C:\Windows\System32\cmd.exe /d /c C:\kavrel-check\kit\check.cmd sandbox-table
// The Sandbox needs each mapped host folder absolute and there, so both
// must be existing folders given in full ("C:\..." or "\\server\share\...").
// Exit 0, or 1 with one line saying why, having written nothing.
#ifndef KAVREL_TESTS_E2E_SANDBOX_CONFIG_H_
#define KAVREL_TESTS_E2E_SANDBOX_CONFIG_H_

#include <string>

int SandboxConfigMode(const std::wstring& kit_folder, const std::wstring& result_folder);

#endif  // KAVREL_TESTS_E2E_SANDBOX_CONFIG_H_
