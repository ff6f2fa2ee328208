// The kit's own footing. Before any kavrel row, `run` checks on the machine
// it runs on each assumption a verdict rests on, and prints one "kit:" line
// for each (output.h), in this order:
//
//   token     the kind of token the driver has; where it is an elevated
//             administrator's with UAC on, that a program started with the
//             filtered rights it found (starts.h) reports a Limited token of
//             the driver's own user
//   machine   the native machine, which of x86, x64 and ARM64 programs run,
//             and the machine type the "another processor" row stamps, one
//             that Windows does not say it runs
//   registry  one registry view or two, as the native machine says and as a
//             record written into the 64-bit view shows
//   folders   the work folder's owner and permissions read back as they
//             were made; the spare drive's root on NTFS, changeable only by
//             administrators
//   removal   a tree holding a read-only file and a junction to a folder
//             outside it, made for the purpose in the work folder, removed
//             whole, the junction's folder kept
//
// A fact that only decides which rows run (no filtered token to be had, one
// registry view) is an "ok" line that says so. A failed assumption is a
// "FAIL" line, never a kavrel failure: the rows that rest on it are skipped
// with its reason; where safety rests on it (folders, removal, the spare
// drive), or every row would fail through it (the record cannot be
// written), no row runs at all.
//
// Under Wine, which keeps no permissions of a file (it shows those of the
// Unix file's mode) and makes no junction, the lines say that these are not
// checked there, and why. A Windows is never taken for Wine: that needs
// ntdll's wine_get_version, as the driver's refusal to run does.
#ifndef KAVREL_TESTS_E2E_FOOTING_H_
#define KAVREL_TESTS_E2E_FOOTING_H_

#include <stdint.h>

#include <string>

#include "tests/e2e/expectation.h"
#include "tests/e2e/starts.h"

struct Footing {
  e2e::Here here = {false, e2e::Token::kNoFilteredToken, e2e::Machine::kOther,
                    e2e::Asked::kNotAsked};
  uint16_t another_processor = e2e::kMachineArm64;
  FilteredRights filtered;
  // Why the rows that rest on a check are skipped: it failed. Empty when it
  // did not.
  std::string token_fault;
  std::string machine_fault;
  std::string registry_fault;
  bool rows_may_run = true;
  int failed = 0;  // "kit: FAIL" lines printed
};

// `work_folder` is the new folder the driver made for the run, `spare_drive`
// ("K:") the drive whose root a row uses, `probe` e2e_probe.exe.
void CheckFooting(const std::wstring& work_folder, const std::wstring& spare_drive,
                  const std::wstring& probe, bool wine, Footing* footing);

#endif  // KAVREL_TESTS_E2E_FOOTING_H_
