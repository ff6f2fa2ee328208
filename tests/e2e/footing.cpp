#include "tests/e2e/footing.h"

#include <stdio.h>
#include <windows.h>
// winioctl.h needs what windows.h declares.
#include <winioctl.h>

#include <utility>
#include <vector>

#include "tests/e2e/files.h"
#include "tests/e2e/machine.h"
#include "tests/e2e/output.h"
#include "tests/e2e/permissions.h"
#include "tests/e2e/record.h"
#include "tests/e2e/scene.h"
#include "tests/e2e/utf8.h"

namespace {

constexpr char kFilteredRowsSkipped[] = "the rows with filtered rights are skipped";

void Fail(Footing* footing, const char* subject, const std::string& found) {
  KitLine(false, subject, found);
  ++footing->failed;
}

std::string Hex(unsigned number) {
  char text[11];
  snprintf(text, sizeof text, "0x%X", number);
  return text;
}

// Starts a copy of the probe in `folder` with `rights` (the driver's own
// when null), its standard output a file, as kavrel-explain's is, and reads
// its report. Tells what went wrong, or nothing.
std::string ReportOfProbe(const FilteredRights* rights, const std::wstring& folder,
                          const std::wstring& probe, Report* report) {
  const std::wstring program = Join(folder, L"probe.exe");
  const std::wstring reports = Join(folder, L"reports");
  if (!CopyProgram(probe, program)) {
    return "the probe cannot be copied: error " + std::to_string(GetLastError());
  }
  const std::string unmade = MakeNewFolder(reports, true);
  if (!unmade.empty()) return Utf8(reports) + " " + unmade;
  SetEnvironmentVariableW(L"KAVREL_E2E_REPORTS", reports.c_str());
  SetEnvironmentVariableW(L"KAVREL_E2E_MARK", L"kit");
  SetEnvironmentVariableW(L"KAVREL_E2E_HOLD", nullptr);
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  const Handle output(CreateFileW(Extended(Join(folder, L"output.txt")).c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ, &inheritable, CREATE_NEW, 0, nullptr));
  Job job;
  if (!output.valid() || !MakeJob(&job)) return "cannot lay out the probe's start";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = output.get();
  PROCESS_INFORMATION process = {};
  if (!StartProgram(rights, program, L"\"" + program + L"\"", folder, CREATE_SUSPENDED, &startup,
                    &process)) {
    return "the probe cannot be started with them: error " + std::to_string(GetLastError());
  }
  const Handle started(process.hProcess);
  const Handle thread(process.hThread);
  if (!AssignProcessToJobObject(job.job.get(), started.get())) {
    TerminateProcess(started.get(), 1);
    return "the probe started with them cannot be put in a job object: error " +
           std::to_string(GetLastError());
  }
  ResumeThread(thread.get());
  if (!WaitUntilJobEmpty(job, GetTickCount64() + kCaseTimeoutMs)) {
    TerminateJobObject(job.job.get(), 1);
    return "the probe started with them did not end";
  }
  const std::vector<std::wstring> names = List(reports, L"*.report");
  if (names.size() != 1) {
    return "the probe started with them wrote " + std::to_string(names.size()) +
           " reports, not one";
  }
  *report = ParseReport(ReadWholeFile(Join(reports, names.front())));
  return std::string();
}

// What is wrong with the report of a probe started in `folder` with
// filtered rights, or nothing: it must have run with a Limited token of the
// driver's own user, and had what the rows hand kavrel and kavrel-explain,
// the driver's environment, the folder and a file as standard output.
std::string Unfiltered(const Report& report, const std::wstring& folder) {
  const auto field = [&report](const char* key) {
    const auto it = report.find(key);
    return it != report.end() ? it->second : std::string("(absent)");
  };
  const std::string user = Utf8(OwnUserSid());
  if (field("elevation") != "Limited" || field("user") != user) {
    return "it reported a " + field("elevation") + " token of " + field("user") +
           ", not a Limited one of the driver's user " + user;
  }
  if (field("mark") != "kit") return "it did not have the driver's environment";
  if (!SamePath(field("cwd"), folder)) return "it ran in " + field("cwd") + ", not in its folder";
  if (field("stdout") != "file") {
    return "its standard output was " + field("stdout") + ", not the file it was given";
  }
  return std::string();
}

void CheckToken(const std::wstring& kit_folder, const std::wstring& probe, bool wine,
                Footing* footing) {
  const Elevation own = OwnElevation();
  const std::string kind = std::string("the driver's is ") + ElevationName(own);
  if (own == Elevation::kDefault) {
    KitLine(true, "token",
            kind +
                " (UAC off, the built-in Administrator, or a hosted runner): no filtered token is "
                "linked to it; " +
                kFilteredRowsSkipped);
    return;
  }
  if (own != Elevation::kFull && !(wine && own == Elevation::kLimited)) {
    footing->token_fault = kind + ", not an elevated administrator's";
    Fail(footing, "token", footing->token_fault + "; " + kFilteredRowsSkipped);
    return;
  }
  FilteredRights& rights = footing->filtered;
  if (own == Elevation::kFull) {
    FindFilteredRights(wine, &rights);
  } else {
    TakeWineOwnToken(&rights);
  }
  const std::string how = own == Elevation::kFull ? " (elevated, UAC on)" : " (under Wine)";
  if (rights.way == FilteredRights::Way::kNone) {
    KitLine(true, "token", kind + how + ", but " + rights.found + "; " + kFilteredRowsSkipped);
    return;
  }
  std::string problem;
  if (rights.way == FilteredRights::Way::kFailed) {
    problem = rights.found;
  } else {
    Report report;
    problem = ReportOfProbe(&rights, kit_folder, probe, &report);
    if (problem.empty()) problem = Unfiltered(report, kit_folder);
    if (!problem.empty()) problem = rights.found + ", but of a probe started so: " + problem;
  }
  if (!problem.empty()) {
    rights.way = FilteredRights::Way::kFailed;
    footing->token_fault = "its filtered rights did not hold (the kit: token line says why)";
    Fail(footing, "token",
         kind + how + ", but its filtered rights did not hold: " + problem + "; " +
             kFilteredRowsSkipped);
    return;
  }
  footing->here.token = e2e::Token::kFiltered;
  KitLine(true, "token",
          kind + how + "; filtered rights: " + rights.found +
              "; a probe started so reported a Limited token of the driver's user, and had the "
              "driver's environment, its folder and a file as standard output");
}

void CheckMachine(Footing* footing) {
  const MachineFacts facts = ReadMachine();
  footing->here.native = facts.native;
  footing->here.x64 = facts.x64;
  const uint16_t stamp = e2e::AnotherProcessor(facts.native);
  footing->another_processor = stamp;
  std::string runs;
  std::string not_runs;
  for (const auto& [machine, asked] : {std::make_pair(e2e::Machine::kX86, facts.x86),
                                       std::make_pair(e2e::Machine::kX64, facts.x64),
                                       std::make_pair(e2e::Machine::kArm64, facts.arm64)}) {
    std::string& list = e2e::CannotRun(machine, facts.native, asked).empty() ? runs : not_runs;
    list += (list.empty() ? "" : " ") + std::string(e2e::MachineName(machine));
  }
  const std::string found =
      "native " + std::string(e2e::MachineName(facts.native)) + " (" + Hex(facts.native_code) +
      ", by " + facts.native_by + "); programs that run: " + (runs.empty() ? "none" : runs) +
      (not_runs.empty() ? "" : "; that do not: " + not_runs) + " (" + facts.runs_by +
      "); the another-processor row stamps " + (stamp == e2e::kMachineIa64 ? "Itanium" : "ARM64") +
      " (" + Hex(stamp) + ")";
  if (facts.native == e2e::Machine::kOther) {
    footing->machine_fault =
        "the native machine " + Hex(facts.native_code) + " is none the kit knows";
  } else if (AskWindows(stamp, facts.native_code) == e2e::Asked::kRuns) {
    footing->machine_fault = "Windows says it runs programs for " + Hex(stamp);
  }
  if (footing->machine_fault.empty()) {
    KitLine(true, "machine", found);
    return;
  }
  Fail(footing, "machine", found + ", but " + footing->machine_fault + "; that row is skipped");
}

void CheckRegistry(Footing* footing) {
  const int views = e2e::RegistryViews(footing->here.native);
  DeleteRecord(KEY_WOW64_32KEY);
  DeleteRecord(KEY_WOW64_64KEY);
  // This process's own number, which no earlier record holds by chance.
  const DWORD mark = GetCurrentProcessId();
  if (!WriteRecord(KEY_WOW64_64KEY, {Dword(L"version", mark)})) {
    footing->rows_may_run = false;
    Fail(footing, "registry",
         "the installation record cannot be written (error " + std::to_string(GetLastError()) +
             "); no row runs");
    return;
  }
  const int seen = RecordVersionIs(mark) ? 1 : 2;
  DeleteRecord(KEY_WOW64_64KEY);
  DeleteRecord(KEY_WOW64_32KEY);
  if (seen != views) {
    footing->registry_fault = "a record written into the 64-bit view shows " +
                              std::to_string(seen) + " view(s), where a " +
                              e2e::MachineName(footing->here.native) + " Windows has " +
                              std::to_string(views);
    Fail(footing, "registry",
         footing->registry_fault + "; the rows that need two views are skipped");
    return;
  }
  KitLine(true, "registry",
          views == 2 ? "two views: a record written into the 64-bit view is not seen in the "
                       "32-bit one"
                     : "one view, as on a 32-bit Windows: a record written into the 64-bit view "
                       "is the 32-bit one; the rows that need two views are skipped");
}

void CheckFolders(const std::wstring& work_folder, const std::wstring& spare_drive, bool wine,
                  Footing* footing) {
  std::string read_back;
  const std::string differs = DifferFromMade(work_folder, false, &read_back);
  const std::string work = Utf8(work_folder);
  if (differs.empty()) {
    KitLine(true, "folders",
            work +
                " reads back as made: owned by the Administrators group, full control for "
                "administrators and SYSTEM, read and execute for the driver's user, nothing "
                "inherited");
  } else if (wine) {
    KitLine(true, "folders",
            work +
                " is not compared under Wine, which keeps no permissions and shows those of "
                "the Unix file's mode (read back " +
                read_back + ")");
  } else {
    footing->rows_may_run = false;
    Fail(footing, "folders",
         work + " does not read back as made: " + differs + " (" + read_back + "); no row runs");
  }

  const std::wstring root = spare_drive + L"\\";
  const std::string drive = Utf8(root);
  const std::string file_system = FileSystemOf(root);
  const std::string open = OpenToOthers(root, &read_back);
  if (file_system != "NTFS") {
    footing->rows_may_run = false;
    Fail(footing, "folders",
         drive + (!file_system.empty() && file_system[0] == '(' ? " cannot be read " : " is on ") +
             file_system +
             ", not NTFS, whose permissions keep other users from changing what the kit starts "
             "there; no row runs");
  } else if (open.empty()) {
    KitLine(true, "folders",
            drive +
                " is on NTFS, and only administrators and SYSTEM can change it or what is "
                "copied into it");
  } else if (wine) {
    KitLine(true, "folders",
            drive +
                " is on NTFS to Windows programs; who may change it is not judged under "
                "Wine, which keeps no permissions and shows those of the Unix file's mode "
                "(read back " +
                read_back + ")");
  } else {
    footing->rows_may_run = false;
    Fail(footing, "folders",
         drive + " is not a spare drive only administrators can change: " + open + " (" +
             read_back + "); no row runs");
  }
}

// Makes `link`, a new folder, a junction to the folder `target`. Tells
// Windows' error, or ERROR_SUCCESS.
DWORD MakeJunction(const std::wstring& link, const std::wstring& target) {
  if (!CreateDirectoryW(Extended(link).c_str(), nullptr)) return GetLastError();
  const Handle folder(CreateFileW(Extended(link).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
  if (!folder.valid()) return GetLastError();
  // A mount point's reparse data, which only Windows' driver headers
  // declare: the tag, the data's length, a reserved word, then the offsets
  // and lengths (in bytes) of the target's NT path and of its printed name
  // in the buffer that follows, each ended by a NUL.
  const std::wstring nt_path = L"\\??\\" + target;
  std::vector<WORD> data = {0, static_cast<WORD>(nt_path.size() * sizeof(wchar_t)),
                            static_cast<WORD>((nt_path.size() + 1) * sizeof(wchar_t)),
                            static_cast<WORD>(target.size() * sizeof(wchar_t))};
  data.insert(data.end(), nt_path.begin(), nt_path.end());
  data.push_back(0);
  data.insert(data.end(), target.begin(), target.end());
  data.push_back(0);
  const DWORD data_size = static_cast<DWORD>(data.size() * sizeof(WORD));
  std::vector<BYTE> buffer(8 + data_size);
  const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  memcpy(&buffer[0], &tag, 4);
  buffer[4] = static_cast<BYTE>(data_size & 0xFF);
  buffer[5] = static_cast<BYTE>(data_size >> 8);
  memcpy(&buffer[8], data.data(), data_size);
  DWORD returned = 0;
  if (!DeviceIoControl(folder.get(), FSCTL_SET_REPARSE_POINT, buffer.data(),
                       static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr)) {
    return GetLastError();
  }
  return ERROR_SUCCESS;
}

void CheckRemoval(const std::wstring& kit_folder, bool wine, Footing* footing) {
  const std::wstring tree = Join(kit_folder, L"tree");
  const std::wstring kept = Join(kit_folder, L"kept");
  const std::wstring marker = Join(kept, L"marker.txt");
  const std::wstring read_only = Join(tree, L"read-only.txt");
  const std::wstring link = Join(tree, L"link");
  std::string problem;
  if (!WriteWholeFile(marker, "kept\r\n") || !WriteWholeFile(read_only, "read-only\r\n") ||
      !SetFileAttributesW(Extended(read_only).c_str(), FILE_ATTRIBUTE_READONLY)) {
    problem = "cannot lay out the tree to remove: error " + std::to_string(GetLastError());
  }
  const DWORD junction = problem.empty() ? MakeJunction(link, kept) : ERROR_SUCCESS;
  const bool through_junction = problem.empty() && junction == ERROR_SUCCESS;
  if (problem.empty() && junction != ERROR_SUCCESS && !wine) {
    problem = "cannot make a junction to try it on: error " + std::to_string(junction);
  }
  if (through_junction && List(link, L"marker.txt").size() != 1) {
    problem = "the junction made to try it on does not show the folder it names";
  }
  std::vector<std::string> left;
  if (problem.empty() && !RemoveTree(tree, &left)) {
    problem = "the tree was not removed whole: left " + Named(left);
  }
  if (problem.empty() && through_junction && !Exists(marker)) {
    problem = "it followed the junction: the file in the folder the junction named is gone";
  }
  if (!problem.empty()) {
    footing->rows_may_run = false;
    Fail(footing, "removal", problem + "; no row runs");
    return;
  }
  KitLine(true, "removal",
          through_junction
              ? "a tree holding a read-only file and a junction to a folder outside it was "
                "removed whole, and the folder the junction named kept its file"
              : "a tree holding a read-only file was removed whole; not tried through a "
                "junction: Wine makes none (FSCTL_SET_REPARSE_POINT: error " +
                    std::to_string(junction) + ")");
}

}  // namespace

void CheckFooting(const std::wstring& work_folder, const std::wstring& spare_drive,
                  const std::wstring& probe, bool wine, Footing* footing) {
  footing->here.wine = wine;
  // The kit's own scratch folder, in the work folder.
  const std::wstring kit_folder = Join(work_folder, L"kit");
  const std::string unmade = MakeNewFolder(kit_folder, false);
  if (!unmade.empty()) {
    footing->rows_may_run = false;
    Fail(footing, "folders", Utf8(kit_folder) + " " + unmade + "; no row runs");
    return;
  }
  CheckToken(kit_folder, probe, wine, footing);
  CheckMachine(footing);
  CheckRegistry(footing);
  CheckFolders(work_folder, spare_drive, wine, footing);
  CheckRemoval(kit_folder, wine, footing);
  std::vector<std::string> left;
  if (!RemoveTree(kit_folder, &left)) {
    footing->rows_may_run = false;
    Fail(footing, "removal",
         "its own folder " + Utf8(kit_folder) + " was not removed whole: left " + Named(left) +
             "; no row runs");
  }
}
