// What one row of the end-to-end table expects, and the choices the driver
// makes from what it finds on the machine it runs on: Wine or Windows, the
// kind of token it has, the native machine. No Windows header, so that the
// unit tests check every choice natively.
//
//   Expect(row, here)          skipped (and why), or what kavrel and
//                              kavrel-explain must start
//   RegistryViews(native)      1 on a 32-bit Windows, else 2
//   AnotherProcessor(native)   the machine type the "another processor"
//                              row stamps: one this machine cannot run
//   CannotRun(program, native, asked)
//                              why programs for `program` cannot run here,
//                              or empty when they can
#ifndef KAVREL_TESTS_E2E_EXPECTATION_H_
#define KAVREL_TESTS_E2E_EXPECTATION_H_

#include <stdint.h>

#include <optional>
#include <string>

namespace e2e {

// In the order of kavrel-explain's exit codes for them.
enum class Started { kApplication, kInstaller, kNothing };

// Whether the rows that need an administrator's filtered rights can have
// them here.
enum class Token {
  // The driver is an administrator elevated with UAC on
  // (TokenElevationTypeFull), and a token of the same user with filtered
  // rights was had, and a program started with it reported Limited.
  kFiltered,
  // No such token: UAC off, the built-in Administrator, hosted CI runners
  // (TokenElevationTypeDefault), or none to be had the way Windows documents.
  kNoFilteredToken,
};

inline const char* Describe(Started started) {
  switch (started) {
    case Started::kApplication:
      return "application";
    case Started::kInstaller:
      return "installer";
    case Started::kNothing:
      break;
  }
  return "nothing";
}

// A machine as Windows names it in a program's header.
enum class Machine { kX86, kX64, kArm64, kOther };

// The machine types of a program's header (IMAGE_FILE_MACHINE_*).
constexpr uint16_t kMachineX86 = 0x014C;
constexpr uint16_t kMachineX64 = 0x8664;
constexpr uint16_t kMachineArm64 = 0xAA64;
// Itanium: no Windows of today runs it (Windows Server 2008 R2 was the last
// for it), so it is what an ARM64 machine, which runs ARM64 programs, is
// given for "another processor".
constexpr uint16_t kMachineIa64 = 0x0200;

inline Machine MachineOf(uint16_t code) {
  switch (code) {
    case kMachineX86:
      return Machine::kX86;
    case kMachineX64:
      return Machine::kX64;
    case kMachineArm64:
      return Machine::kArm64;
    default:
      return Machine::kOther;
  }
}

inline const char* MachineName(Machine machine) {
  switch (machine) {
    case Machine::kX86:
      return "x86";
    case Machine::kX64:
      return "x64";
    case Machine::kArm64:
      return "ARM64";
    case Machine::kOther:
      break;
  }
  return "another machine";
}

// What Windows answered when asked whether it runs programs for a machine
// (GetMachineTypeAttributes, or IsWow64GuestMachineSupported), where it
// could be asked.
enum class Asked { kNotAsked, kRuns, kDoesNotRun };

// What the driver found on the machine it runs on.
struct Here {
  bool wine;
  Token token;
  Machine native;
  // What Windows said of x64 programs: it matters on ARM64, where Windows
  // 11 emulates x64 and Windows 10 does not.
  Asked x64;
};

struct Row {
  // What starts under Wine, and on Windows where `on_windows` is not given.
  Started expected;
  // What Windows starts by its documentation, where Wine parts from it.
  std::optional<Started> on_windows;
  // Whether kavrel and kavrel-explain run with an administrator's filtered
  // rights, as when a user starts kavrel, rather than with the driver's own.
  bool filtered;
  // Whether kavrel-explain only reads the files (--no-trial): its verdict
  // is then Windows' one, also under Wine.
  bool explain_reads_only;
  // Whether the row writes a record into the 64-bit registry view, which
  // must be apart from the 32-bit one.
  bool needs_two_views;
};

struct Expectation {
  const char* skipped;  // why the row cannot run here; null when it runs
  Started kavrel;       // what kavrel must start
  Started explain;      // what kavrel-explain's verdict must name
};

// 32-bit Windows has one registry view, which KEY_WOW64_64KEY names too;
// 64-bit Windows, x64 or ARM64, has two.
inline int RegistryViews(Machine native) { return native == Machine::kX86 ? 1 : 2; }

inline uint16_t AnotherProcessor(Machine native) {
  return native == Machine::kArm64 ? kMachineIa64 : kMachineArm64;
}

inline std::string CannotRun(Machine program, Machine native, Asked asked) {
  if (asked == Asked::kRuns) return std::string();
  const std::string cannot = std::string(MachineName(program)) + " programs cannot run here: ";
  if (asked == Asked::kNotAsked) {
    if (program == native) return std::string();
    // Every 64-bit Windows of today runs x86 programs (WOW64).
    if (program == Machine::kX86 && (native == Machine::kX64 || native == Machine::kArm64)) {
      return std::string();
    }
  }
  if (native == Machine::kX86) return cannot + "this Windows is 32-bit (x86)";
  if (program == Machine::kX64 && native == Machine::kArm64) {
    return cannot + "Windows 10 on ARM64 emulates only x86";
  }
  if (program == Machine::kX86) {
    return cannot + "this " + MachineName(native) + " Windows has no 32-bit x86 support (WOW64)";
  }
  return cannot + "this Windows is for " + MachineName(native);
}

inline Expectation Expect(const Row& row, const Here& here) {
  if (row.filtered && here.token != Token::kFiltered) {
    return {
        "needs an administrator's filtered rights, and there is no filtered token of the "
        "driver's user here (UAC off, the built-in Administrator, or none to be had; see the "
        "kit: token line)",
        row.expected, row.expected};
  }
  if (row.needs_two_views && RegistryViews(here.native) == 1) {
    return {
        "needs the 64-bit registry view apart from the 32-bit one, and a 32-bit Windows has "
        "one view",
        row.expected, row.expected};
  }
  const Started on_windows = row.on_windows.value_or(row.expected);
  // Asked by kavrel-explain, Wine answers as it starts; read alone, a file
  // gets Windows' verdict.
  return {nullptr, here.wine ? row.expected : on_windows,
          here.wine && !row.explain_reads_only ? row.expected : on_windows};
}

}  // namespace e2e

#endif  // KAVREL_TESTS_E2E_EXPECTATION_H_
