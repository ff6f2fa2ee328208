// One row run: its scene laid out, kavrel started in it and what it started
// seen, and kavrel-explain asked about the same scene.
//
//   Run(scene, bench, kavrel, arguments, mark)
//       writes the record into the 32-bit registry view (or has reg.exe
//       import the scene's .reg file), copies kavrel.exe and the probe into
//       the folders the scene needs, starts kavrel with an exact command
//       line inside a job object and waits, bounded, until kavrel and
//       everything it started have ended; then collects the probe's
//       reports. `mark` is handed to the programs in KAVREL_E2E_MARK.
//   Check(scene, expected, mark, seen)
//       what is wrong with what was seen: kavrel's exit code, which program
//       started (or that none did), its working directory, that it received
//       no arguments, kavrel's environment and inheritable handle in the
//       application, and the show command (SW_HIDE for the installer
//       program, no show request for the application)
//   CheckExplain(explain, scene, bench, arguments, expected)
//       runs kavrel-explain on the same record, folder and arguments; what
//       is wrong when its verdict differs, or when a program it created to
//       ask Windows ran (a report appeared, or its trial line does not say
//       that each process it created was still suspended when ended)
//   MakeInheritableHandle(work_folder)
//       the file whose handle every row hands down, inheritable; the probe
//       is told its number
#ifndef KAVREL_TESTS_E2E_SCENE_H_
#define KAVREL_TESTS_E2E_SCENE_H_

#include <stdint.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "tests/e2e/expectation.h"
#include "tests/e2e/rows.h"
#include "tests/e2e/starts.h"

// How long kavrel and what it started may take, together, in one row.
constexpr DWORD kCaseTimeoutMs = 10000;

// What every row's run shares.
struct Bench {
  std::wstring probe;  // e2e_probe.exe, beside the driver
  // How the rows with filtered rights start kavrel and kavrel-explain; null
  // where there are none (those rows are skipped then).
  const FilteredRights* filtered = nullptr;
  uint16_t another_processor = e2e::kMachineArm64;  // stamped on that row's application
};

// A probe's report: its "key=value" lines.
using Report = std::map<std::string, std::string>;
Report ParseReport(const std::string& text);

struct Observation {
  std::vector<std::string> problems;  // with the run itself
  // Whether laying out the scene or starting kavrel failed, before kavrel
  // ran any code of its own.
  bool not_started = false;
  DWORD exit_code = 0;
  std::vector<Report> reports;  // one per program kavrel started
};

Observation Run(Scene& scene, const Bench& bench, const std::wstring& kavrel_source,
                const std::wstring& arguments, const std::wstring& mark);
std::vector<std::string> Check(const Scene& scene, e2e::Started expected, const std::wstring& mark,
                               const Observation& seen);
std::string CheckExplain(const std::wstring& explain, const Scene& scene, const Bench& bench,
                         const std::wstring& arguments, e2e::Started expected);
HANDLE MakeInheritableHandle(const std::wstring& work_folder);

#endif  // KAVREL_TESTS_E2E_SCENE_H_
