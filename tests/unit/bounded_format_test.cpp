#include "launcher/bounded_format.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(JoinPath, JoinsFolderAndNameByOneBackslash) {
  char out[kPathCapacity];
  ASSERT_TRUE(JoinPath(out, sizeof out, "C:\\Apps\\X", "run.exe"));
  EXPECT_STREQ(out, "C:\\Apps\\X\\run.exe");
  ASSERT_TRUE(JoinPath(out, sizeof out, "E:", ""));
  EXPECT_STREQ(out, "E:\\");
  ASSERT_TRUE(JoinPath(out, sizeof out, "", "100% %s"));  // no format is read
  EXPECT_STREQ(out, "\\100% %s");
}

// The boundary: 259 bytes of text and the NUL fit a path text, 260 do not,
// and a result that does not fit is never left behind cut.
TEST(JoinPath, RefusesAResultThatDoesNotFitAndLeavesNothingCut) {
  struct Case {
    size_t left;
    size_t right;
    bool fits;
  };
  const Case cases[] = {{129, 129, true}, {129, 130, false}, {258, 0, true},
                        {259, 0, false},  {0, 258, true},    {300, 300, false}};
  for (const Case& c : cases) {
    const std::string left(c.left, 'a');
    const std::string right(c.right, 'b');
    char out[kPathCapacity + 8];
    memset(out, 'Z', sizeof out);
    const bool fits = JoinPath(out, kPathCapacity, left.c_str(), right.c_str());
    EXPECT_EQ(fits, c.fits) << c.left << "+" << c.right;
    EXPECT_EQ(std::string(out), c.fits ? left + "\\" + right : "");
    EXPECT_EQ(out[kPathCapacity], 'Z') << "wrote past the buffer";
  }
}

TEST(NarrowText, NarrowsUtf16UnitByUnitOrNotAtAll) {
  struct Case {
    const wchar_t* wide;
    std::string narrowed;
  };
  const Case cases[] = {
      {L"42", "42"},
      {L"\u00e95\u00a0",
       "\xe9"
       "5\xa0"},  // below 256: the same byte
      {L"\u00ff", "\xff"},
      {L"12\u03a934", ""},  // Greek: the whole text is dropped
      {L"\u0100", ""},
      {L"", ""},
  };
  for (const Case& c : cases) {
    char out[kPathCapacity];
    EXPECT_TRUE(NarrowText(out, sizeof out, c.wide));
    EXPECT_EQ(std::string(out), c.narrowed);
  }
  char out[kPathCapacity];
  const std::wstring too_long(kPathCapacity, L'7');
  EXPECT_FALSE(NarrowText(out, sizeof out, too_long.c_str()));
  EXPECT_STREQ(out, "");
}

}  // namespace
