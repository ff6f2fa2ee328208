// The end-to-end table's driver: the real kavrel.exe, started the way a
// caller starts it, in each situation of the table (rows.h), under Wine or,
// in the release's check kit, on a Windows machine.
//
//   e2e_driver [--throwaway-machine] [--log FILE] run KAVREL_EXE WORK_FOLDER SPARE_DRIVE SAMPLE_REG
//       runs the table. WORK_FOLDER (say C:\kavrel-e2e) must not exist yet:
//       the driver makes it, writable only by administrators and SYSTEM
//       (permissions.h), uses it for the rows' files and removes it at the
//       end. SPARE_DRIVE (say K:) is a drive whose root a row puts kavrel
//       in; SAMPLE_REG is the sample installation record, which a row has
//       reg.exe import. First the kit checks its own footing on this
//       machine and prints a "kit:" line for each assumption (footing.h);
//       then row 00, its own refusal to run; then one line per row ("ok",
//       "FAIL", or "skip" with the reason); last "N passed, M failed, K
//       skipped" over the kavrel rows, followed, when a check of the kit's
//       own failed, by "kit: J of its own checks failed: the kit, not
//       kavrel, is at fault there". Exit 0 when none failed, one passed and
//       no check of the kit's own failed; 1 when a kavrel row failed or none
//       passed; 4 when a check of the kit's own failed and no kavrel row
//       did.
//   e2e_driver [--throwaway-machine] [--log FILE] demo KAVREL_EXE
//       runs kavrel in three everyday situations and tells what started
//       (demo.h).
//   e2e_driver [--throwaway-machine] folder NEW_FOLDER
//       makes NEW_FOLDER, which must not exist yet, as WORK_FOLDER is made:
//       the check kit's folder for the spare drive.
//   e2e_driver can-run MACHINE
//       exit 0 when this Windows runs programs for MACHINE (x86, x64 or
//       arm64), 1 with one line saying why not (machine.h).
//   e2e_driver sandbox-config KIT_FOLDER RESULT_FOLDER
//       writes RESULT_FOLDER\kavrel-check.wsb for Windows Sandbox
//       (sandbox_config.h).
//
// --log FILE: every line printed to standard output also goes into FILE,
// which is made new (output.h); when it cannot be made so, one line says
// why and the driver exits with 2, having changed nothing. Usage errors
// exit with 2 too.
//
// `run`, `demo` and `folder` change the machine they run on: they write and
// delete the installation record HKLM\Software\Merolt_01\Pimbalo in both
// registry views and empty the folders they work in. So they run only under
// Wine (in the throwaway prefix of tests/e2e/run and scripts/demo), or on a
// Windows machine that may lose all that when the caller says so with
// --throwaway-machine; otherwise the driver refuses and exits with 3
// (refusal.h). `can-run` and `sandbox-config` change nothing of the machine
// and need no flag.
//
// Where Wine parts from Windows: an application whose manifest asks for
// administrator rights. Windows refuses to create it for a caller without
// them (ERROR_ELEVATION_REQUIRED) and kavrel starts the installer program
// instead; Wine elevates without asking and starts it. Asking Windows,
// kavrel-explain's verdict is Wine's here; reading the files alone
// (--no-trial), it must be Windows' one, as it must be on Windows. Nor can
// a text value that fills its whole 260 bytes without a NUL be told apart
// here from one that is merely too long: either way the joined path would
// not fit, and the installer program starts.
//
// The rows with characters outside the code page also run a copy of
// kavrel.exe and kavrel-explain.exe whose manifests lack the element that
// makes UTF-8 their code page (programs.h), as a Windows before 10 version
// 1903 reads them; they expect code page 1252. On such a Windows the
// manifest's UTF-8 is ignored for the shipped copies too, and their rows
// expect what the copies without it do; a code page other than 1252 fails
// those rows, with the code page named.
#include <stdio.h>
#include <wctype.h>
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/demo.h"
#include "tests/e2e/files.h"
#include "tests/e2e/footing.h"
#include "tests/e2e/handle.h"
#include "tests/e2e/machine.h"
#include "tests/e2e/output.h"
#include "tests/e2e/permissions.h"
#include "tests/e2e/programs.h"
#include "tests/e2e/refusal.h"
#include "tests/e2e/rows.h"
#include "tests/e2e/sandbox_config.h"
#include "tests/e2e/scene.h"
#include "tests/e2e/table.h"
#include "tests/e2e/utf8.h"

namespace {

constexpr int kUsageStatus = 2;
constexpr int kKitFaultStatus = 4;

constexpr char kUsage[] =
    "usage: e2e_driver [--throwaway-machine] [--log FILE] run KAVREL_EXE WORK_FOLDER "
    "SPARE_DRIVE SAMPLE_REG\n"
    "       e2e_driver [--throwaway-machine] [--log FILE] demo KAVREL_EXE\n"
    "       e2e_driver [--throwaway-machine] folder NEW_FOLDER\n"
    "       e2e_driver can-run x86|x64|arm64\n"
    "       e2e_driver sandbox-config KIT_FOLDER RESULT_FOLDER\n";

// Makes the folder `folder`, new and the driver's own; tells why not, or
// nothing.
std::string MakeOwnFolder(const std::wstring& folder) {
  if (!BelowDriveRoot(folder)) return "is not a folder below a drive root";
  return MakeNewFolder(folder, false);
}

bool IsDrive(const std::wstring& drive) {
  return drive.size() == 2 && iswalpha(drive[0]) && drive[1] == L':';
}

int RunTable(const std::wstring& kavrel, const std::wstring& work_folder,
             const std::wstring& spare_drive, const std::wstring& sample_record) {
  const bool wine = UnderWine();
  const std::string unusable = MakeOwnFolder(work_folder);
  if (!unusable.empty()) {
    Say("the work folder " + Utf8(work_folder) + " " + unusable + "; nothing is done");
    return 1;
  }

  Footing footing;
  Bench bench;
  bench.probe = Join(OwnFolder(), L"e2e_probe.exe");
  CheckFooting(work_folder, spare_drive, bench.probe, wine, &footing);
  bench.filtered = footing.here.token == e2e::Token::kFiltered ? &footing.filtered : nullptr;
  bench.another_processor = footing.another_processor;
  int kit_failed = footing.failed;

  Sums sums;
  if (footing.rows_may_run) {
    const std::vector<std::string> refused =
        CheckRefusal(L"run \"" + kavrel + L"\" \"" + work_folder + L"\" \"" + spare_drive +
                         L"\" \"" + sample_record + L"\"",
                     work_folder);
    std::string line = std::string(refused.empty() ? "ok   " : "FAIL ") +
                       "00 outside Wine, without " + Utf8(kThrowawayFlag) + ", nothing is done";
    for (size_t i = 0; i < refused.size(); ++i) line += (i == 0 ? ": " : "; ") + refused[i];
    Say(line);
    (refused.empty() ? sums.passed : sums.failed) += 1;

    Programs programs = {kavrel, Join(Parent(kavrel), L"kavrel-explain.exe"),
                         Join(work_folder, L"legacy\\kavrel.exe"),
                         Join(work_folder, L"legacy\\kavrel-explain.exe")};
    std::string uncopied = CopyWithoutUtf8CodePage(programs.kavrel, programs.legacy_kavrel);
    if (uncopied.empty()) {
      uncopied = CopyWithoutUtf8CodePage(programs.explain, programs.legacy_explain);
    }
    if (!uncopied.empty()) {
      KitLine(false, "copies", uncopied + "; no row runs");
      ++kit_failed;
    } else {
      Handle inherited(MakeInheritableHandle(work_folder));
      // Where the REG_EXPAND_SZ row's text would point, were it expanded.
      SetEnvironmentVariableW(L"KAVREL_E2E_FOLDER", L"Pimbalo");
      RunRows(Cases(spare_drive, sample_record, footing.another_processor), work_folder, footing,
              bench, programs, TakesUtf8FromManifest(wine), &sums);
    }
  }

  DeleteRecord(KEY_WOW64_32KEY);
  DeleteRecord(KEY_WOW64_64KEY);
  // The next run needs the folder gone: it uses only a new one.
  std::vector<std::string> left;
  if (!RemoveTree(work_folder, &left)) {
    KitLine(false, "removal",
            "the work folder " + Utf8(work_folder) + " was not removed whole within " +
                std::to_string(kRemovalRetryMs / 1000) + " s: left " + Named(left) +
                "; remove it before the next run");
    ++kit_failed;
  }
  Say(std::to_string(sums.passed) + " passed, " + std::to_string(sums.failed) + " failed, " +
      std::to_string(sums.skipped) + " skipped");
  if (kit_failed > 0) {
    Say("kit: " + std::to_string(kit_failed) +
        " of its own checks failed: the kit, not kavrel, is at fault there");
  }
  if (sums.failed > 0) return 1;
  if (kit_failed > 0) return kKitFaultStatus;
  return sums.passed > 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> words(argv + 1, argv + argc);
  const bool throwaway = !words.empty() && words.front() == kThrowawayFlag;
  if (throwaway) words.erase(words.begin());
  std::wstring log;
  if (words.size() >= 2 && words.front() == L"--log") {
    log = words[1];
    words.erase(words.begin(), words.begin() + 2);
  }
  const std::wstring mode = words.empty() ? L"" : words.front();
  const size_t count = words.size();
  const bool changes = (mode == L"run" && count == 5 && IsDrive(words[3])) ||
                       (mode == L"demo" && count == 2) || (mode == L"folder" && count == 2);
  const bool asks = (mode == L"can-run" && count == 2) || (mode == L"sandbox-config" && count == 3);
  if ((!changes && !asks) || (!log.empty() && mode != L"run" && mode != L"demo")) {
    fputs(kUsage, stderr);
    return kUsageStatus;
  }
  if (mode == L"can-run") return CanRunMode(words[1]);
  if (mode == L"sandbox-config") return SandboxConfigMode(words[1], words[2]);

  if (!throwaway && !UnderWine()) {
    fputs(kRefusal, stderr);
    return kRefusedStatus;
  }
  if (!log.empty()) {
    const std::string refused = OpenLog(log);
    if (!refused.empty()) {
      Say(refused);
      return kUsageStatus;
    }
  }
  int status = 0;
  if (mode == L"run") {
    status = RunTable(words[1], words[2], words[3], words[4]);
  } else if (mode == L"demo") {
    status = RunDemo(words[1]);
  } else {
    const std::string unusable = MakeOwnFolder(words[1]);
    if (!unusable.empty()) Say(Utf8(words[1]) + " " + unusable);
    status = unusable.empty() ? 0 : 1;
  }
  const std::string unwhole = LogFault();
  if (!unwhole.empty()) fprintf(stderr, "%s\n", unwhole.c_str());
  return status;
}
