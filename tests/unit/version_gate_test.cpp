#include "launcher/version_gate.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "tests/fake_platform/fake_platform.h"

namespace {

TEST(ParseRequiredVersion, FollowsStrtolInTheCLocaleClampedTo32Bits) {
  struct Case {
    const char* text;
    int32_t expected;
  };
  const Case cases[] = {
      {"5", 5},
      {"  5", 5},
      {"+5", 5},
      {"5abc", 5},
      {"05", 5},
      {"\t\n\v\f\r 5", 5},
      {"abc", 0},
      {"x5", 0},
      {"0x10", 0},
      {"", 0},
      {"+", 0},
      {"-", 0},
      {"+-5", 0},
      {"- 5", 0},
      {"\xa0"
       "5",
       0},
      {"-1", -1},
      {"-0", 0},
      {"2147483647", 2147483647},
      {"2147483648", 2147483647},
      {"99999999999", 2147483647},
      {"-2147483648", INT32_MIN},
      {"-2147483649", INT32_MIN},
      {"-99999999999999999999999", INT32_MIN},
      {"000000000000000000000000000012", 12},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseRequiredVersion(c.text), c.expected) << '"' << c.text << '"';
  }
}

class VersionGateTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
  fake::World& world = fake::TheWorld();

  bool Below(uint32_t installed, std::vector<std::wstring> arguments) {
    world.arguments = std::move(arguments);
    return IsInstalledVersionBelowRequired(installed);
  }
};

TEST_F(VersionGateTest, ComparesInstalledAgainstFirstArgumentAsUnsigned) {
  struct Case {
    uint32_t installed;
    std::vector<std::wstring> arguments;
    bool below;
  };
  const Case cases[] = {
      {0, {L"kavrel"}, false},
      {UINT32_MAX, {L"kavrel"}, false},
      {1, {L"kavrel", L"2"}, true},
      {2, {L"kavrel", L"2"}, false},
      {3, {L"kavrel", L"2"}, false},
      {3, {L"kavrel", L"4"}, true},
      {4, {L"kavrel", L"  5"}, true},
      {4, {L"kavrel", L"5abc"}, true},
      {0, {L"kavrel", L"abc"}, false},
      {0, {L"kavrel", L""}, false},
      {0, {L"kavrel", L"-1"}, true},
      {4294967294u, {L"kavrel", L"-1"}, true},
      {UINT32_MAX, {L"kavrel", L"-1"}, false},
      {UINT32_MAX, {L"kavrel", L"-2147483648"}, false},
      {2147483647u, {L"kavrel", L"-2147483648"}, true},
      {2147483646u, {L"kavrel", L"99999999999"}, true},
      {2147483647u, {L"kavrel", L"99999999999"}, false},
      {5, {L"kavrel", L"1", L"9"}, false},     // only the first argument counts
      {0, {L"kavrel", L"12\u03a934"}, false},  // cannot be narrowed: 0
      {0, {L"kavrel", L"\u00a07"}, false},     // no-break space is no space
      {0, {L"kavrel", L"7\u00e9"}, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Below(c.installed, c.arguments), c.below)
        << c.installed << " vs argument count " << c.arguments.size();
    EXPECT_EQ(world.splits, 1);
    EXPECT_TRUE(world.split_got_own_command_line);
    EXPECT_FALSE(world.vector_outstanding) << "argument vector not released";
    fake::Reset();
  }
}

// An argument of 260 or more code units does not fit the narrowed text. It
// is not cut and parsed (a cut number is another number): it counts as an
// argument that cannot be used, which gives 0.
TEST_F(VersionGateTest, ArgumentTooLongToNarrowGivesZero) {
  const std::wstring digits259(259, L'9');
  const std::wstring padded = std::wstring(258, L' ') + L"7";
  EXPECT_TRUE(Below(0, {L"kavrel", padded}));  // 259 units: still used
  EXPECT_TRUE(Below(2147483646u, {L"kavrel", digits259}));
  EXPECT_FALSE(Below(0, {L"kavrel", std::wstring(259, L' ') + L"7"}));
  EXPECT_FALSE(Below(0, {L"kavrel", std::wstring(5000, L'9')}));
  EXPECT_FALSE(world.vector_outstanding);
}

TEST_F(VersionGateTest, FailedSplitAnswersNoAndReleasesNothingHarmful) {
  world.split_fails = true;
  EXPECT_FALSE(Below(0, {L"kavrel", L"9"}));
  EXPECT_EQ(world.frees, 1);  // LocalFree(null) is harmless
  EXPECT_EQ(world.vectors_released, 0);
}

}  // namespace
