#include "explain/explain_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/e2e/expectation.h"

namespace {

TEST(ExplainText, NamesStatusesAndTypesAndSaysWhenItCannot) {
  EXPECT_EQ(explain::DescribeStatus(0), "0 ERROR_SUCCESS");
  EXPECT_EQ(explain::DescribeStatus(2), "2 ERROR_FILE_NOT_FOUND");
  EXPECT_EQ(explain::DescribeStatus(5), "5 ERROR_ACCESS_DENIED");
  EXPECT_EQ(explain::DescribeStatus(234), "234 ERROR_MORE_DATA");
  EXPECT_EQ(explain::DescribeStatus(-1), "-1 (no name known to kavrel-explain)");
  EXPECT_EQ(explain::RegistryTypeName(1), "REG_SZ");
  EXPECT_EQ(explain::RegistryTypeName(11), "REG_QWORD");
  EXPECT_EQ(explain::RegistryTypeName(12), "type 12");
  // The trial says that none of a program's code ran only when Windows
  // found its thread suspended and the process ended.
  struct Trial {
    uint32_t suspend_count;
    bool terminated;
    bool seen_ended;
    const char* ending;
  };
  const Trial trials[] = {
      {1, true, true, "and saw it end: none of its code ran"},
      {0, true, true,
       "(SuspendThread gave 0), ended it (TerminateProcess) and saw it end: its code "
       "may have run"},
      {1, false, false, "(TerminateProcess failed: 5 ERROR_ACCESS_DENIED): it may still be there"},
      {1, true, false, "did not see it end within 5 s: it may still be there"},
  };
  for (const Trial& t : trials) {
    explain::Answer answer;
    answer.created = true;
    answer.suspend_count = t.suspend_count;
    answer.terminated = t.terminated;
    answer.terminate_error = t.terminated ? 0 : 5;
    answer.seen_ended = t.seen_ended;
    const std::string text = explain::DescribeTrial("the application", answer);
    const std::string ending = t.ending;
    EXPECT_EQ(text.substr(text.size() - std::min(text.size(), ending.size())), ending) << text;
  }
}

// Whatever a value or an argument holds, what is shown reads back whole:
// nothing unprintable reaches the console, and the escapes cannot be
// mistaken for text.
TEST(ExplainText, EscapesWhatIsNotPrintableAndWhatCouldBeMistakenForAnEscape) {
  const char bytes[] = "C:\\P\xE9\x01<\"\x7F";
  EXPECT_EQ(explain::QuoteBytes(bytes, sizeof bytes - 1), "\"C:\\P<E9><01><3C><22><7F>\"");
  EXPECT_EQ(explain::QuoteBytes("a\0b", 3), "\"a<00>b\"");
  EXPECT_EQ(explain::QuoteWide(L"5\u00e9\u03bb \"<"), "\"5<U+00E9><U+03BB> <U+0022><U+003C>\"");
  EXPECT_EQ(explain::DecimalAndHex(4294967295u), "4294967295 (0xFFFFFFFF)");
}

TEST(ExplainText, LeavesEverythingAfterItsOwnOptionsToKavrel) {
  struct Case {
    std::vector<std::wstring> line;
    std::wstring beside;
    size_t kavrel_arguments;
    bool error;
    bool trial = true;
  };
  const Case cases[] = {
      {{L"x"}, L"", 1, false},
      {{L"x", L"7", L"--beside"}, L"", 1, false},
      {{L"x", L"--beside", L"C:\\k", L"-1"}, L"C:\\k", 3, false},
      {{L"x", L"--beside", L"C:\\k", L"--", L"--help"}, L"C:\\k", 4, false},
      {{L"x", L"--beside"}, L"", 1, true},
      {{L"x", L"--besides", L"C:\\k"}, L"", 1, true},  // mistyped, not kavrel's argument
      {{L"x", L"--no-trial", L"--beside", L"C:\\k\\k.exe", L"5"}, L"C:\\k\\k.exe", 4, false, false},
  };
  for (const Case& c : cases) {
    const explain::Options options = explain::ParseOptions(c.line);
    EXPECT_EQ(options.beside, c.beside);
    EXPECT_EQ(options.kavrel_arguments, c.kavrel_arguments);
    EXPECT_EQ(options.error.empty(), !c.error);
    EXPECT_EQ(options.trial, c.trial);
    EXPECT_FALSE(options.help);
  }
}

// kavrel-explain explains only a kavrel that is there: where it looks and
// finds no program file, it says so instead of a verdict.
TEST(ExplainText, FindsKavrelOnlyWhereAProgramFileIs) {
  // C:\k holds kavrel.exe; C:\e holds a folder named kavrel.exe.
  const auto found = [](const std::wstring& path) {
    if (path == L"C:\\" || path == L"C:\\k" || path == L"C:\\k\\" || path == L"C:\\e\\" ||
        path == L"C:\\e\\kavrel.exe") {
      return explain::Found::kFolder;
    }
    return path == L"C:\\k\\kavrel.exe" || path == L"C:\\k\\renamed.exe" ? explain::Found::kFile
                                                                         : explain::Found::kNothing;
  };
  struct Case {
    std::wstring named;
    bool beside;
    std::wstring kavrel;  // empty: none, and `missing` is in the line that says so
    std::string missing;
  };
  const Case cases[] = {
      {L"C:\\k\\", false, L"C:\\k\\kavrel.exe", ""},
      {L"C:\\k", true, L"C:\\k\\kavrel.exe", ""},
      {L"C:\\k\\renamed.exe", true, L"C:\\k\\renamed.exe", ""},
      {L"C:\\", false, L"", "\"C:\\kavrel.exe\" is not there (beside kavrel-explain"},
      {L"C:\\gone", true, L"", "\"C:\\gone\" is not there (from --beside)"},
      {L"C:\\e\\", true, L"", "\"C:\\e\\kavrel.exe\" is a folder (from --beside)"},
  };
  for (const Case& c : cases) {
    std::string missing;
    EXPECT_EQ(explain::FindKavrel(c.named, c.beside, found, &missing), c.kavrel);
    EXPECT_NE(missing.find(c.missing), std::string::npos) << missing;
    EXPECT_EQ(missing.empty(), !c.kavrel.empty()) << missing;
  }
}

// What the end-to-end table expects of kavrel and kavrel-explain for an
// application that asks for administrator rights, by where the driver runs;
// and what the driver chooses from the machine: the machine type the
// "another processor" row stamps, whether x64 programs run, and whether
// the rows that need two registry views run.
TEST(ExplainText, EndToEndExpectationsFollowTheDriversTokenAndMachine) {
  using e2e::Asked;
  using e2e::Machine;
  using e2e::Started;
  using e2e::Token;
  const Started app = Started::kApplication;
  const Started installer = Started::kInstaller;
  const e2e::Row own_rights = {app, std::nullopt, false, false, false};
  const e2e::Row filtered = {app, installer, true, false, false};
  const e2e::Row filtered_read_alone = {app, installer, true, true, false};
  const e2e::Row in_both_views = {app, std::nullopt, false, false, true};
  const e2e::Here uac_on = {false, Token::kFiltered, Machine::kX64, Asked::kNotAsked};
  const e2e::Here uac_off = {false, Token::kNoFilteredToken, Machine::kX64, Asked::kNotAsked};
  const e2e::Here wine = {true, Token::kFiltered, Machine::kX64, Asked::kNotAsked};
  struct Case {
    e2e::Row row;
    e2e::Here here;
    bool skipped;
    Started kavrel;
    Started explain;
    uint16_t another_processor;
    bool x64_runs;
  };
  const Case cases[] = {
      // The driver's own rights: Windows creates it, UAC on or off.
      {own_rights, uac_on, false, app, app, e2e::kMachineArm64, true},
      {own_rights, uac_off, false, app, app, e2e::kMachineArm64, true},
      // Filtered rights: Windows refuses it (740) and kavrel starts the
      // installer; Wine elevates without asking; read alone, Windows' verdict.
      {filtered, uac_on, false, installer, installer, e2e::kMachineArm64, true},
      {filtered, wine, false, app, app, e2e::kMachineArm64, true},
      {filtered_read_alone, wine, false, app, installer, e2e::kMachineArm64, true},
      {filtered_read_alone, uac_on, false, installer, installer, e2e::kMachineArm64, true},
      // No filtered token to run with: skipped, not failed.
      {filtered, uac_off, true, app, app, e2e::kMachineArm64, true},
      {filtered_read_alone, uac_off, true, app, app, e2e::kMachineArm64, true},
      // ARM64 runs ARM64 programs, so another processor is one no Windows
      // of today runs; Windows 11 there says it emulates x64.
      {own_rights,
       {false, Token::kFiltered, Machine::kArm64, Asked::kRuns},
       false,
       app,
       app,
       e2e::kMachineIa64,
       true},
      // Windows 10 on ARM64 emulates x86 alone.
      {own_rights,
       {false, Token::kFiltered, Machine::kArm64, Asked::kDoesNotRun},
       false,
       app,
       app,
       e2e::kMachineIa64,
       false},
      // A 32-bit Windows: one registry view, no x64 programs.
      {in_both_views,
       {false, Token::kFiltered, Machine::kX86, Asked::kNotAsked},
       true,
       app,
       app,
       e2e::kMachineArm64,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    const e2e::Expectation got = e2e::Expect(c.row, c.here);
    EXPECT_EQ(e2e::AnotherProcessor(c.here.native), c.another_processor);
    EXPECT_EQ(e2e::CannotRun(Machine::kX64, c.here.native, c.here.x64).empty(), c.x64_runs);
    EXPECT_EQ(got.skipped != nullptr, c.skipped);
    if (got.skipped != nullptr) continue;
    EXPECT_EQ(got.kavrel, c.kavrel);
    EXPECT_EQ(got.explain, c.explain);
  }
}

}  // namespace
