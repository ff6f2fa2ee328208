// What the machine the driver runs on is, and which programs it runs, as
// Windows says where it can be asked: IsWow64Process2 for the native machine
// (Windows 10 version 1511 and later; before it, GetNativeSystemInfo, which
// is right on x86 and x64, the only machines such a Windows runs on), and
// for whether programs for a machine run, GetMachineTypeAttributes
// (Windows 11) or else IsWow64GuestMachineSupported (Windows 10 version
// 1709 and later), each looked up at run time. Where neither is there, the
// choice is e2e::CannotRun's.
//
//   ReadMachine()        the native machine and what Windows said of x86,
//                        x64 and ARM64 programs
//   AskWindows(code)     what Windows says of programs for the machine type
//                        `code` (e2e::Asked)
//   CanRunMode(name)     the driver's `can-run MACHINE`: exit 0 when this
//                        Windows runs programs for x86, x64 or arm64, 1 with
//                        one line saying why not, 2 for another name
//   TakesUtf8FromManifest(wine)
//                        whether this Windows takes the UTF-8 code page
//                        from a program's manifest
#ifndef KAVREL_TESTS_E2E_MACHINE_H_
#define KAVREL_TESTS_E2E_MACHINE_H_

#include <stdint.h>

#include <string>

#include "tests/e2e/expectation.h"

struct MachineFacts {
  uint16_t native_code;
  e2e::Machine native;
  e2e::Asked x86;
  e2e::Asked x64;
  e2e::Asked arm64;
  std::string native_by;  // which call told the native machine, for the kit's line
  std::string runs_by;    // which call told what runs, or that none could
};

MachineFacts ReadMachine();
e2e::Asked AskWindows(uint16_t code, uint16_t native_code);
int CanRunMode(const std::wstring& name);
bool TakesUtf8FromManifest(bool wine);

#endif  // KAVREL_TESTS_E2E_MACHINE_H_
