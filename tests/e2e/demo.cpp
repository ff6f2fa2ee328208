#include "tests/e2e/demo.h"

#include <windows.h>

#include <vector>

#include "tests/e2e/files.h"
#include "tests/e2e/output.h"
#include "tests/e2e/permissions.h"
#include "tests/e2e/record.h"
#include "tests/e2e/rows.h"
#include "tests/e2e/scene.h"
#include "tests/e2e/utf8.h"

int RunDemo(const std::wstring& kavrel_source) {
  const std::vector<std::wstring> folders = {L"C:\\kavrel", L"C:\\Pimbalo", L"C:\\kavrel-demo"};
  std::vector<std::wstring> made;
  for (const std::wstring& folder : folders) {
    const std::string unmade = MakeNewFolder(folder, false);
    if (!unmade.empty()) {
      Say(Utf8(folder) + " " + unmade + "; the demo would change it, so nothing is done");
      for (const std::wstring& own : made) RemoveTree(own);
      return 1;
    }
    made.push_back(folder);
  }
  Bench bench;
  bench.probe = Join(OwnFolder(), L"e2e_probe.exe");
  Scene scene = DefaultScene(L"C:\\kavrel-demo");
  scene.kavrel_folder = L"C:\\kavrel";
  scene.Setuppath(L"C:\\Pimbalo");

  struct Situation {
    const char* title;
    bool recorded;
    std::wstring arguments;
  };
  const Situation situations[] = {
      {"(a) no installation record, kavrel.exe started without arguments", false, L""},
      {"(b) record: C:\\Pimbalo\\pimbalo.exe, version 5; kavrel.exe started without arguments",
       true, L""},
      {"(c) the same record; kavrel.exe started with the required version 7", true, L"7"},
  };
  int number = 0;
  bool all_ended = true;
  for (const Situation& situation : situations) {
    scene.key_present = situation.recorded;
    scene.folder = L"C:\\kavrel-demo\\" + std::to_wstring(++number);
    const Observation seen = Run(scene, bench, kavrel_source, situation.arguments, L"demo");
    Say(situation.title);
    for (const std::string& problem : seen.problems) {
      Say("    problem: " + problem);
      all_ended = false;
    }
    if (seen.reports.empty()) Say("    nothing started");
    for (Report report : seen.reports) {
      const bool is_installer = SamePath(report["module"], scene.InstallerPath());
      const bool hidden = report["show_flag"] == "1" && report["show_window"] == "0";
      Say(std::string("    ") + (is_installer ? "installer" : "application") + " started: " +
          report["module"] + " in " + report["cwd"] + (hidden ? ", asked to stay hidden" : ""));
    }
    Say("    kavrel exit code " + std::to_string(seen.exit_code));
  }
  for (const std::wstring& folder : made) {
    std::vector<std::string> left;
    if (!RemoveTree(folder, &left)) {
      Say(Utf8(folder) + " was not removed whole: left " + Named(left));
      all_ended = false;
    }
  }
  DeleteRecord(KEY_WOW64_32KEY);
  DeleteRecord(KEY_WOW64_64KEY);
  return all_ended ? 0 : 1;
}
