#include "tests/e2e/scene.h"

#include "tests/e2e/files.h"
#include "tests/e2e/handle.h"
#include "tests/e2e/permissions.h"
#include "tests/e2e/programs.h"
#include "tests/e2e/record.h"
#include "tests/e2e/utf8.h"

namespace {

constexpr char kHandleContent[] = "read through the inherited handle";

// Has reg.exe import the scene's .reg file, and lays out where the record it
// wrote says the application is. The outermost folder of setuppath that is
// not there yet is made new, with the work folder's permissions, so that no
// other user can replace the application there, and only what the row made
// is removed after it: "C:\Program Files (x86)" is there on a 64-bit
// Windows, and is made (and removed) on a 32-bit one. Tells what went wrong,
// or nothing.
std::string ImportScene(Scene& scene) {
  std::wstring setuppath;
  std::wstring appfile;
  const std::string problem = ImportRecord(scene.imported_record, &setuppath, &appfile);
  if (!problem.empty()) return problem;
  const std::wstring folder = AsWorkingDirectory(setuppath);
  if (!BelowDriveRoot(folder)) return Utf8(setuppath) + " is not a folder below a drive root";
  if (Exists(folder)) return Utf8(setuppath) + " is there already; the row would change it";
  std::wstring outermost = folder;
  while (Parent(outermost).size() > 2 && !Exists(Parent(outermost))) outermost = Parent(outermost);
  const std::string unmade = MakeNewFolder(outermost, false);
  if (!unmade.empty()) return Utf8(outermost) + " " + unmade;
  scene.outside_folder = outermost;
  if (!MakeFolders(folder)) return "cannot make " + Utf8(folder);
  scene.setuppath = setuppath;
  scene.app_program = Join(setuppath, appfile);
  return std::string();
}

}  // namespace

Report ParseReport(const std::string& text) {
  Report report;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const size_t equals = line.find('=');
    if (equals != std::string::npos) report[line.substr(0, equals)] = line.substr(equals + 1);
    start = end + 1;
  }
  return report;
}

Observation Run(Scene& scene, const Bench& bench, const std::wstring& kavrel_source,
                const std::wstring& arguments, const std::wstring& mark) {
  Observation seen;
  const auto fail = [&seen](const std::string& problem) {
    seen.problems.push_back(problem);
    seen.not_started = true;
    return seen;
  };
  // Never the driver's own rights in their place.
  if (scene.filtered && bench.filtered == nullptr) return fail("no filtered rights to run with");

  DeleteRecord(KEY_WOW64_32KEY);
  DeleteRecord(KEY_WOW64_64KEY);
  if (!scene.imported_record.empty()) {
    const std::string problem = ImportScene(scene);
    if (!problem.empty()) return fail(problem);
  } else if (scene.key_present && !WriteRecord(KEY_WOW64_32KEY, scene.values)) {
    return fail("cannot write the installation record");
  }
  if (!scene.values_64.empty() && !WriteRecord(KEY_WOW64_64KEY, scene.values_64)) {
    return fail("cannot write the record in the 64-bit view");
  }

  const std::wstring reports = Join(scene.folder, L"reports");
  // With filtered rights, the programs write their reports as the user.
  const bool reports_made =
      scene.filtered
          ? MakeFolders(scene.folder) && (Exists(reports) || MakeNewFolder(reports, true).empty())
          : MakeFolders(reports);
  if (!reports_made) return fail("cannot make " + Utf8(reports));
  if (!CopyProgram(kavrel_source, scene.KavrelPath())) {
    return fail("cannot copy kavrel to " + Utf8(scene.KavrelPath()) + ": error " +
                std::to_string(GetLastError()));
  }
  std::vector<std::wstring> probes = scene.plants;
  if (scene.installer_beside) probes.push_back(scene.InstallerPath());
  if (scene.app_present) probes.push_back(scene.app_program);
  for (const std::wstring& path : probes) {
    if (!CopyProgram(bench.probe, path)) {
      return fail("cannot copy the probe to " + Utf8(path) + ": error " +
                  std::to_string(GetLastError()));
    }
  }
  if (scene.app_altered != Altered::kNo &&
      !Alter(scene.app_program, scene.app_altered, bench.another_processor)) {
    return fail("cannot alter " + Utf8(scene.app_program));
  }
  // With filtered rights, kavrel's start of the installer program goes
  // through the shell, which asks for administrator rights first when the
  // program asks for them, or when Windows' installer detection takes a
  // 32-bit program that asks for no level for an installer: a prompt no one
  // answers here. The stand-in installer asks for no elevation, so the shell
  // starts it directly, as it starts a real installer once the user agreed.
  if (scene.filtered && scene.installer_beside &&
      !WriteManifest(scene.InstallerPath(), ManifestAskingFor("asInvoker"))) {
    return fail("cannot give " + Utf8(scene.InstallerPath()) + " a manifest");
  }
  if (scene.app_is_text && !WriteWholeFile(scene.app_program, "not a program\r\n")) {
    return fail("cannot write " + Utf8(scene.app_program));
  }
  for (const auto& [path, text] : scene.texts) {
    if (!WriteWholeFile(path, text)) return fail("cannot write " + Utf8(path));
  }

  const std::wstring release_name = L"kavrel-e2e-release-" + mark;
  Handle release(CreateEventW(nullptr, TRUE, FALSE, release_name.c_str()));
  SetEnvironmentVariableW(L"KAVREL_E2E_REPORTS", reports.c_str());
  SetEnvironmentVariableW(L"KAVREL_E2E_MARK", mark.c_str());
  SetEnvironmentVariableW(L"KAVREL_E2E_HOLD", scene.hold ? release_name.c_str() : nullptr);

  Job job;
  if (!MakeJob(&job)) return fail("cannot make the job object");

  std::wstring command_line = L"\"" + scene.KavrelPath() + L"\"";
  if (!arguments.empty()) command_line += L" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!StartProgram(scene.filtered ? bench.filtered : nullptr, scene.KavrelPath(), command_line,
                    scene.folder, CREATE_SUSPENDED, &startup, &process)) {
    return fail("cannot start kavrel: error " + std::to_string(GetLastError()));
  }
  Handle kavrel(process.hProcess);
  Handle kavrel_thread(process.hThread);
  if (!AssignProcessToJobObject(job.job.get(), kavrel.get())) {
    TerminateProcess(kavrel.get(), 1);
    return fail("cannot put kavrel in the job object");
  }
  ResumeThread(kavrel_thread.get());

  const ULONGLONG deadline = GetTickCount64() + kCaseTimeoutMs;
  if (scene.hold) {
    // The started program is still running, so kavrel must end by itself.
    if (WaitForSingleObject(kavrel.get(), kCaseTimeoutMs / 2) != WAIT_OBJECT_0) {
      seen.problems.push_back("kavrel did not end while the program it started ran");
    } else if (ActiveProcesses(job.job.get()) == 0) {
      seen.problems.push_back("nothing was running any more after kavrel ended");
    }
    SetEvent(release.get());
  }
  if (!WaitUntilJobEmpty(job, deadline)) {
    seen.problems.push_back("still running after " + std::to_string(kCaseTimeoutMs / 1000) + " s");
    TerminateJobObject(job.job.get(), 1);
    WaitUntilJobEmpty(job, GetTickCount64() + 5000);
  }
  GetExitCodeProcess(kavrel.get(), &seen.exit_code);

  for (const std::wstring& name : List(reports, L"*.report")) {
    seen.reports.push_back(ParseReport(ReadWholeFile(Join(reports, name))));
  }
  if (!List(reports, L"*.partial").empty()) seen.problems.push_back("a report was left unfinished");
  return seen;
}

std::vector<std::string> Check(const Scene& scene, e2e::Started expected, const std::wstring& mark,
                               const Observation& seen) {
  std::vector<std::string> problems = seen.problems;
  if (seen.exit_code != 0) problems.push_back("exit code " + std::to_string(seen.exit_code));

  std::wstring program;
  std::wstring working_directory;
  if (expected == e2e::Started::kApplication) {
    program = scene.app_program;
    working_directory = AsWorkingDirectory(scene.setuppath);
  } else if (expected == e2e::Started::kInstaller) {
    program = scene.InstallerPath();
    working_directory = AsWorkingDirectory(scene.kavrel_folder);
  }

  size_t expected_starts = 0;
  for (const Report& report : seen.reports) {
    const auto field = [&report](const char* key) {
      const auto it = report.find(key);
      return it != report.end() ? it->second : std::string("(absent)");
    };
    if (expected == e2e::Started::kNothing || !SamePath(field("module"), program)) {
      problems.push_back("started " + field("module"));
      continue;
    }
    ++expected_starts;
    if (!SamePath(field("cwd"), working_directory)) {
      problems.push_back("working directory " + field("cwd") + ", not " + Utf8(working_directory));
    }
    if (field("argc") != "1") {
      problems.push_back(field("argc") + " arguments in " + field("command_line"));
    }
    if (field("mark") != Utf8(mark)) {
      problems.push_back("environment variable " + field("mark"));
    }
    if (expected == e2e::Started::kApplication) {
      if (field("handle") != kHandleContent) {
        problems.push_back("inherited handle: " + field("handle"));
      }
      if (field("show_flag") != "0") {
        problems.push_back("show request " + field("show_window") + " for the application");
      }
    } else if (field("show_flag") != "1" || field("show_window") != "0") {
      problems.push_back("show request flag " + field("show_flag") + ", command " +
                         field("show_window") + ", not SW_HIDE");
    }
  }
  if (expected != e2e::Started::kNothing && expected_starts != 1) {
    problems.push_back(std::string(e2e::Describe(expected)) + " started " +
                       std::to_string(expected_starts) + " times");
  }
  return problems;
}

// kavrel-explain's verdict is its exit code: 0 application, 1 installer,
// 2 nothing.
std::string CheckExplain(const std::wstring& explain, const Scene& scene, const Bench& bench,
                         const std::wstring& arguments, e2e::Started expected) {
  // kavrel's program file when it is renamed, else its folder.
  std::wstring beside =
      scene.kavrel_name == L"kavrel.exe" ? scene.kavrel_folder : scene.KavrelPath();
  // A closing backslash would escape the closing quote; doubled, it does not.
  if (beside.back() == L'\\') beside += L"\\";
  std::wstring command_line = L"\"" + explain + L"\"" +
                              (scene.explain_reads_only ? L" --no-trial" : L"") + L" --beside \"" +
                              beside + L"\" --";
  if (scene.filtered && bench.filtered == nullptr) return "no filtered rights to run with";
  std::wstring program = explain;
  if (scene.explain_beside_kavrel) {
    program = Join(scene.kavrel_folder, L"kavrel-explain.exe");
    if (!CopyProgram(explain, program)) return "cannot copy kavrel-explain beside kavrel";
    command_line = L"\"" + program + L"\" --";
  }
  if (!arguments.empty()) command_line += L" " + arguments;
  const std::wstring said = Join(scene.folder, L"explain.txt");
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  const Handle output(CreateFileW(Extended(said).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                  &inheritable, CREATE_ALWAYS, 0, nullptr));
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = output.get();
  PROCESS_INFORMATION process = {};
  const std::wstring reports = Join(scene.folder, L"reports");
  const size_t reported = List(reports, L"*.report").size();
  // Wine now and then fails to create a process with ERROR_INTERNAL_ERROR
  // before any of its code runs (as for kavrel's own start): once more.
  BOOL created = FALSE;
  for (int attempt = 0; attempt < 2 && !created; ++attempt) {
    if (attempt > 0) {
      if (GetLastError() != ERROR_INTERNAL_ERROR) break;
      Sleep(500);
    }
    created = StartProgram(scene.filtered ? bench.filtered : nullptr, program, command_line,
                           scene.folder, 0, &startup, &process);
  }
  if (!created) {
    return "cannot start kavrel-explain: error " + std::to_string(GetLastError());
  }
  const Handle explaining(process.hProcess);
  const Handle thread(process.hThread);
  if (WaitForSingleObject(explaining.get(), kCaseTimeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(explaining.get(), 99);
  }
  DWORD verdict = 99;
  GetExitCodeProcess(explaining.get(), &verdict);
  if (List(reports, L"*.report").size() != reported) {
    return "a program that kavrel-explain created ran (it reported)";
  }
  std::string text = ReadWholeFile(said);
  // A process ended at once need not get as far as reporting even when it
  // ran, so the trial line must say what Windows found: each process
  // created still suspended, then ended and seen ended.
  const size_t trial = text.find("\ntrial:");
  const std::string trial_line =
      trial == std::string::npos
          ? ""
          : text.substr(trial + 1, text.find_first_of("\r\n", trial + 1) - trial - 1);
  if (trial_line.find(" may ") != std::string::npos ||
      (!scene.explain_reads_only && expected != e2e::Started::kNothing &&
       trial_line.find("none of its code ran") == std::string::npos)) {
    return "kavrel-explain's trial line: " + (trial_line.empty() ? "(absent)" : trial_line);
  }
  if (verdict == static_cast<DWORD>(expected)) return std::string();
  text = text.substr(0, text.find_last_not_of("\r\n") + 1);
  return "kavrel-explain exit code " + std::to_string(verdict) + ", " +
         text.substr(text.rfind('\n') + 1);
}

HANDLE MakeInheritableHandle(const std::wstring& work_folder) {
  const std::wstring path = Join(work_folder, L"inherited.txt");
  WriteWholeFile(path, kHandleContent);
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, &inheritable,
                                  OPEN_EXISTING, 0, nullptr);
  SetEnvironmentVariableW(
      L"KAVREL_E2E_HANDLE",
      std::to_wstring(static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(file))).c_str());
  return file;
}
