#include "launcher/version_gate.h"

#include "launcher/bounded_format.h"
#include "platform/platform.h"

namespace {

bool IsCLocaleSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int32_t ParseRequiredVersion(const char* text) {
  while (IsCLocaleSpace(*text)) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') {
    negative = *text == '-';
    ++text;
  }
  // The magnitude saturates one past INT32_MAX, which is enough to tell
  // both clamps apart: -2147483648 is representable, +2147483648 is not.
  constexpr int64_t kLimit = int64_t{INT32_MAX} + 1;
  int64_t magnitude = 0;
  for (; IsDigit(*text); ++text) {
    magnitude = magnitude * 10 + (*text - '0');
    if (magnitude > kLimit) magnitude = kLimit;
  }
  if (negative) return static_cast<int32_t>(-magnitude);
  return magnitude > INT32_MAX ? INT32_MAX : static_cast<int32_t>(magnitude);
}

bool IsInstalledVersionBelowRequired(uint32_t installed_version) {
  int32_t count = 0;
  wchar_t** arguments = platform::SplitWideCommandLine(platform::GetWideCommandLine(), &count);

  bool below = false;
  if (arguments != nullptr && count >= 2) {
    // An argument of 260 or more code units does not fit the narrowed
    // buffer. It is not cut to 259 (that could change its value); it counts
    // as unusable, like one that cannot be narrowed, and gives version 0.
    char narrowed[kPathCapacity];
    NarrowText(narrowed, sizeof narrowed, arguments[1]);
    const uint32_t required = static_cast<uint32_t>(ParseRequiredVersion(narrowed));
    below = installed_version < required;
  }

  platform::FreeLocalMemory(arguments);
  return below;
}
