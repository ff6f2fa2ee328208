#include "tests/e2e/table.h"

#include <windows.h>

#include "tests/e2e/files.h"
#include "tests/e2e/output.h"
#include "tests/e2e/utf8.h"

namespace {

// Why `planned` cannot run because a check of the kit's own that it rests
// on failed; null when none did.
const std::string* KitFault(const Scene& planned, const Footing& footing) {
  if (planned.filtered && !footing.token_fault.empty()) return &footing.token_fault;
  if (!planned.values_64.empty() && !footing.registry_fault.empty()) {
    return &footing.registry_fault;
  }
  if (planned.app_altered == Altered::kForAnotherProcessor && !footing.machine_fault.empty()) {
    return &footing.machine_fault;
  }
  return nullptr;
}

void Line(bool ok, const std::string& text, const std::vector<std::string>& problems, Sums* sums) {
  std::string line = (ok ? "ok   " : "FAIL ") + text;
  for (size_t i = 0; i < problems.size(); ++i) line += (i == 0 ? ": " : "; ") + problems[i];
  Say(line);
  (ok ? sums->passed : sums->failed) += 1;
}

}  // namespace

void RunRows(const std::vector<Case>& cases, const std::wstring& work_folder,
             const Footing& footing, const Bench& bench, const Programs& programs, bool utf8,
             Sums* sums) {
  int number = 0;
  for (const Case& c : cases) {
    ++number;
    const std::wstring digits = (number < 10 ? L"0" : L"") + std::to_wstring(number);
    const std::string title = Utf8(digits) + " " + c.name;
    const std::wstring mark = L"case-" + digits;
    const std::wstring folder = Join(work_folder, digits);
    Scene planned = DefaultScene(folder);
    c.arrange(planned);
    const e2e::Expectation expectation =
        e2e::Expect({utf8 ? c.expected : c.in_code_page_1252.value_or(c.expected), c.on_windows,
                     planned.filtered, planned.explain_reads_only, !planned.values_64.empty()},
                    footing.here);
    const std::string* fault = KitFault(planned, footing);
    if (fault != nullptr || expectation.skipped != nullptr) {
      Say("skip " + title + ": " +
          (fault != nullptr ? "rests on a check of the kit's own that failed: " + *fault
                            : std::string(expectation.skipped)));
      ++sums->skipped;
      continue;
    }
    const e2e::Started expected = expectation.kavrel;
    const std::string judged = title + " -> " + e2e::Describe(expected);
    // At a drive root the row puts kavrel and the installer beside the
    // drive's own files: it uses no name that is there already.
    if (planned.AtDriveRoot() &&
        (Exists(planned.KavrelPath()) || Exists(planned.InstallerPath()))) {
      Line(false, judged,
           {Utf8(planned.KavrelPath()) + " or " + Utf8(planned.InstallerPath()) +
            " is there already; the row would replace it"},
           sums);
      continue;
    }
    Scene scene;
    Observation seen;
    std::string first_try;
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (attempt > 0) {
        // What the first try made, and only that.
        if (!scene.outside_folder.empty()) RemoveTree(scene.outside_folder);
        if (scene.AtDriveRoot()) {
          DeleteFileW(Extended(scene.KavrelPath()).c_str());
          DeleteFileW(Extended(scene.InstallerPath()).c_str());
        }
      }
      scene = DefaultScene(folder);
      c.arrange(scene);
      seen = Run(scene, bench, scene.legacy_code_page ? programs.legacy_kavrel : programs.kavrel,
                 c.arguments, mark);
      if (!seen.not_started || attempt == 1) break;
      first_try = seen.problems.back();
      Sleep(500);
    }
    const bool in_code_page = scene.legacy_code_page || (!utf8 && c.in_code_page_1252);
    std::vector<std::string> problems = Check(scene, expected, mark, seen);
    if (in_code_page && GetACP() != 1252) {
      problems.push_back("code page " + std::to_string(GetACP()) + " here, not 1252");
    }
    const std::string explained =
        CheckExplain(scene.legacy_code_page ? programs.legacy_explain : programs.explain, scene,
                     bench, c.arguments, expectation.explain);
    if (!explained.empty()) problems.push_back(explained);
    if (scene.AtDriveRoot()) {
      DeleteFileW(Extended(scene.KavrelPath()).c_str());
      DeleteFileW(Extended(scene.InstallerPath()).c_str());
    }
    std::vector<std::string> left;
    if (!scene.outside_folder.empty() && !RemoveTree(scene.outside_folder, &left)) {
      problems.push_back(Utf8(scene.outside_folder) + " was not removed whole: left " +
                         Named(left));
    }
    Line(problems.empty(),
         judged + (first_try.empty() ? "" : " (run twice; the first time: " + first_try + ")"),
         problems, sums);
  }
}
