// Times kavrel against its floor, under the same conditions, in alternating
// rounds, and prints the medians:
//   bench_timer KAVREL.EXE FLOOR.EXE RUNS [KAVREL_SYSTEM_CODE_PAGE.EXE]
// It installs FLOOR.EXE as the application (a complete installation record
// with version 5) so that kavrel takes its usual road, and measures
//   - kavrel's own run, from its start until it has ended;
//   - the floor program's run, likewise;
//   - the floor program's run when it starts the application itself, as
//     kavrel does, until it has ended: what one process start costs;
//   - the application's run through kavrel, until kavrel and the
//     application have both ended;
//   - the application started directly, until it has ended;
//   - given the fourth argument, the run of that copy of kavrel whose
//     manifest leaves out the UTF-8 code page: kavrel against it is what the
//     code page costs at each start.
// Every program runs in a job object of its own, so that the timer knows
// when everything it started, directly or not, has ended. Each round runs
// every measure once; besides the ratio of the medians, the table gives the
// rounds' own ratios (the two runs of one round, a moment apart, divided):
// their median, which a load that comes and goes disturbs less, and their
// middle half, which shows how far a shared, busy machine spreads them.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

double Now() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

[[noreturn]] void Fail(const char *what) {
  std::fprintf(stderr, "bench_timer: %s failed (error %lu)\n", what, GetLastError());
  ExitProcess(2);
}

void WriteInstallationRecord(const std::string &folder, const std::string &file) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Merolt_01\\Pimbalo", 0, nullptr, 0,
                      KEY_WRITE | KEY_WOW64_32KEY, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    Fail("creating the installation key");
  }
  const DWORD version = 5;
  RegSetValueExA(key, "setuppath", 0, REG_SZ, reinterpret_cast<const BYTE *>(folder.c_str()),
                 static_cast<DWORD>(folder.size() + 1));
  RegSetValueExA(key, "appfile", 0, REG_SZ, reinterpret_cast<const BYTE *>(file.c_str()),
                 static_cast<DWORD>(file.size() + 1));
  RegSetValueExA(key, "version", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&version),
                 sizeof version);
  RegCloseKey(key);
}

// One program started inside a fresh job object.
class JobRun {
 public:
  explicit JobRun(const std::string &program, const std::string &argument = "") {
    job_ = CreateJobObjectA(nullptr, nullptr);
    port_ = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    if (job_ == nullptr || port_ == nullptr) Fail("creating a job");
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {job_, port_};
    if (!SetInformationJobObject(job_, JobObjectAssociateCompletionPortInformation, &association,
                                 sizeof association)) {
      Fail("watching a job");
    }
    std::string command_line = "\"" + program + "\"";
    if (!argument.empty()) command_line += " \"" + argument + "\"";
    STARTUPINFOA startup_info = {};
    startup_info.cb = sizeof startup_info;
    PROCESS_INFORMATION process = {};
    started_ = Now();
    if (!CreateProcessA(program.c_str(), &command_line[0], nullptr, nullptr, FALSE,
                        CREATE_SUSPENDED, nullptr, nullptr, &startup_info, &process)) {
      Fail("starting a program");
    }
    AssignProcessToJobObject(job_, process.hProcess);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    process_ = process.hProcess;
  }

  ~JobRun() {
    WaitUntilJobEmpty();
    CloseHandle(process_);
    CloseHandle(port_);
    CloseHandle(job_);
  }

  // Milliseconds from the start until the started program itself ended.
  double UntilProcessEnded() {
    if (WaitForSingleObject(process_, 30000) != WAIT_OBJECT_0) Fail("waiting for a program");
    return Now() - started_;
  }

  // Milliseconds from the start until every program in the job ended.
  double UntilJobEmpty() {
    WaitUntilJobEmpty();
    return Now() - started_;
  }

 private:
  void WaitUntilJobEmpty() {
    while (!empty_) {
      DWORD message = 0;
      ULONG_PTR completion_key = 0;
      OVERLAPPED *overlapped = nullptr;
      if (!GetQueuedCompletionStatus(port_, &message, &completion_key, &overlapped, 30000)) {
        Fail("waiting for a job");
      }
      empty_ = message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO;
    }
  }

  HANDLE job_ = nullptr;
  HANDLE port_ = nullptr;
  HANDLE process_ = nullptr;
  double started_ = 0;
  bool empty_ = false;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The median of the rounds' ratios of one measure to another, and their
// first to third quartile (nearest rank): "MEDIAN (Q1 to Q3)".
std::string RoundRatios(const std::vector<double> &measured, const std::vector<double> &base) {
  std::vector<double> ratios;
  for (size_t round = 0; round < measured.size() && round < base.size(); ++round) {
    ratios.push_back(measured[round] / base[round]);
  }
  if (ratios.empty()) return "";
  std::sort(ratios.begin(), ratios.end());
  const size_t last = ratios.size() - 1;
  char text[64];
  std::snprintf(text, sizeof text, "%.3f (%.3f to %.3f)", Median(ratios), ratios[last / 4],
                ratios[last - last / 4]);
  return text;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr,
                 "usage: bench_timer KAVREL.EXE FLOOR.EXE RUNS "
                 "[KAVREL_SYSTEM_CODE_PAGE.EXE]\n");
    return 2;
  }
  char kavrel[MAX_PATH];
  char floor[MAX_PATH];
  char system_code_page[MAX_PATH] = "";
  GetFullPathNameA(argv[1], MAX_PATH, kavrel, nullptr);
  GetFullPathNameA(argv[2], MAX_PATH, floor, nullptr);
  const int runs = std::atoi(argv[3]);
  if (runs < 1) {
    std::fprintf(stderr, "bench_timer: RUNS must be a number above 0, not %s\n", argv[3]);
    return 2;
  }
  if (argc == 5) GetFullPathNameA(argv[4], MAX_PATH, system_code_page, nullptr);
  const std::string floor_path = floor;
  const size_t slash = floor_path.rfind('\\');
  WriteInstallationRecord(floor_path.substr(0, slash), floor_path.substr(slash + 1));

  enum Measure {
    kKavrel,
    kFloor,
    kFloorStarting,
    kThroughKavrel,
    kDirect,
    kSystemCodePage,
    kAllMeasures
  };
  const int measures = system_code_page[0] != '\0' ? kAllMeasures : kSystemCodePage;
  auto measure = [&](int which) {
    switch (which) {
      case kKavrel:
        return JobRun(kavrel).UntilProcessEnded();
      case kFloor:
        return JobRun(floor).UntilProcessEnded();
      case kFloorStarting:
        return JobRun(floor, floor).UntilProcessEnded();
      case kThroughKavrel:
        return JobRun(kavrel).UntilJobEmpty();
      case kSystemCodePage:
        return JobRun(system_code_page).UntilProcessEnded();
      default:
        return JobRun(floor).UntilJobEmpty();
    }
  };

  for (int which = 0; which < measures; ++which) measure(which);  // warm the caches
  std::vector<double> times[kAllMeasures];
  for (int round = 0; round < runs; ++round) {
    // Rotate the order, so that no measure always follows the same one.
    for (int step = 0; step < measures; ++step) {
      const int which = (round + step) % measures;
      times[which].push_back(measure(which));
    }
  }

  const double kavrel_ms = Median(times[kKavrel]);
  const double floor_ms = Median(times[kFloor]);
  const double floor_starting_ms = Median(times[kFloorStarting]);
  const double through_ms = Median(times[kThroughKavrel]);
  const double direct_ms = Median(times[kDirect]);
  std::printf(
      "| measure (median of %d runs each) | ms | ratio | rounds' "
      "ratios: median (middle half) |\n",
      runs);
  std::printf("|---|---:|---:|---|\n");
  std::printf("| kavrel run, complete record | %.2f | %.3f of floor | %s |\n", kavrel_ms,
              kavrel_ms / floor_ms, RoundRatios(times[kKavrel], times[kFloor]).c_str());
  std::printf("| floor program run | %.2f | 1 | |\n", floor_ms);
  std::printf(
      "| floor program starting the application | %.2f | %.3f of floor "
      "| %s |\n",
      floor_starting_ms, floor_starting_ms / floor_ms,
      RoundRatios(times[kFloorStarting], times[kFloor]).c_str());
  std::printf("| kavrel run against the starting floor | | %.3f | %s |\n",
              kavrel_ms / floor_starting_ms,
              RoundRatios(times[kKavrel], times[kFloorStarting]).c_str());
  if (measures == kAllMeasures) {
    const double system_code_page_ms = Median(times[kSystemCodePage]);
    std::printf(
        "| kavrel in the system's code page, complete record | %.2f | "
        "%.3f of floor | %s |\n",
        system_code_page_ms, system_code_page_ms / floor_ms,
        RoundRatios(times[kSystemCodePage], times[kFloor]).c_str());
    std::printf(
        "| kavrel run against kavrel in the system's code page | | "
        "%.3f | %s |\n",
        kavrel_ms / system_code_page_ms,
        RoundRatios(times[kKavrel], times[kSystemCodePage]).c_str());
  }
  std::printf("| application run through kavrel | %.2f | %.3f of direct | %s |\n", through_ms,
              through_ms / direct_ms, RoundRatios(times[kThroughKavrel], times[kDirect]).c_str());
  std::printf("| application started directly | %.2f | 1 | |\n", direct_ms);
  return 0;
}
