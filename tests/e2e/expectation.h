// What one row of the end-to-end table expects, given what the driver runs
// on: Wine, or Windows, and the kind of token the driver has. No Windows
// header, so that the unit tests check the choice natively.
#ifndef KAVREL_TESTS_E2E_EXPECTATION_H_
#define KAVREL_TESTS_E2E_EXPECTATION_H_

#include <optional>

namespace e2e {

// In the order of kavrel-explain's exit codes for them.
enum class Started { kApplication, kInstaller, kNothing };

// The driver's token, as GetTokenInformation(TokenElevationType) tells it.
enum class Token {
  // TokenElevationTypeFull: an administrator elevated with UAC on, whose
  // filtered token is linked to this one; also what Wine gives.
  kFilteredLinked,
  // TokenElevationTypeDefault (UAC off, the built-in Administrator, hosted
  // CI runners) or TokenElevationTypeLimited: no filtered token to run with.
  kNoFilteredToken,
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
};

struct Expectation {
  const char* skipped;  // why the row cannot run here; null when it runs
  Started kavrel;       // what kavrel must start
  Started explain;      // what kavrel-explain's verdict must name
};

inline Expectation Expect(const Row& row, bool wine, Token token) {
  if (row.filtered && token != Token::kFilteredLinked) {
    return {
        "needs an administrator's filtered rights, and no filtered token is linked to the "
        "driver's (UAC off, the built-in Administrator, or not elevated)",
        row.expected, row.expected};
  }
  const Started on_windows = row.on_windows.value_or(row.expected);
  // Asked by kavrel-explain, Wine answers as it starts; read alone, a file
  // gets Windows' verdict.
  return {nullptr, wine ? row.expected : on_windows,
          wine && !row.explain_reads_only ? row.expected : on_windows};
}

}  // namespace e2e

#endif  // KAVREL_TESTS_E2E_EXPECTATION_H_
