// What both fuzz targets share: turning fuzzer bytes into kavrel's command
// line, an independent reckoning of the required version it asks for, and
// a check that stops the run with a readable account of what went wrong.
#ifndef KAVREL_TESTS_FUZZ_FUZZ_SUPPORT_H_
#define KAVREL_TESTS_FUZZ_FUZZ_SUPPORT_H_

#include <fuzzer/FuzzedDataProvider.h>
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace fuzz {

// Up to `max_count` arguments (the program name first, when there is one)
// of UTF-16 code units 0..0xFFFF, from a palette that favours what the
// version parser cares about, with runs long enough to cross 260 units.
std::vector<std::wstring> ArgumentsFrom(FuzzedDataProvider& input, size_t max_count);

// The required version, reckoned apart from the launcher: the first
// argument after the program name (as a C text, up to a NUL), empty when
// any unit is above 0xFF or it has 260 or more units, else narrowed unit by
// unit; then the C library's strtol in the "C" locale, clamped to 32 bits.
// 0 without such an argument or when the command line could not be split.
uint32_t ExpectedRequiredVersion(const std::vector<std::wstring>& arguments, bool split_fails);

// strtol(text, nullptr, 10) in the "C" locale, clamped to [INT32_MIN, INT32_MAX].
int32_t StrtolClamped(const std::string& text);

// An installed version that is often right at the required one: equal, one
// below or one above it, else any 32-bit number.
uint32_t InstalledVersionNear(FuzzedDataProvider& input, uint32_t required);

// Makes the "C" locale current, so that the library's strtol is the reference.
void UseCLocale();

// Quotes a text for a failure report, escaping every byte outside printable ASCII.
std::string Quoted(const std::string& text);
std::string Quoted(const std::wstring& text);

// Reports a failed check with what was expected and what happened, and aborts
// so that libFuzzer keeps the input.
[[noreturn]] void Fail(const char* file, int line, const char* condition,
                       const std::string& context);

}  // namespace fuzz

// A macro for the text of the condition and the place of the check. The
// condition is held in a variable first, so that what a check negates is
// never the condition as written (which clang-tidy would offer to rewrite).
// NOLINTNEXTLINE(cppcoreguidelines-macro-usage)
#define FUZZ_CHECK(condition, context)                                          \
  do {                                                                          \
    const bool fuzz_check_holds = (condition);                                  \
    if (!fuzz_check_holds) fuzz::Fail(__FILE__, __LINE__, #condition, context); \
  } while (false)

#endif  // KAVREL_TESTS_FUZZ_FUZZ_SUPPORT_H_
