// Bounded formatting: every text kavrel builds (a joined path, the narrowed
// version argument) is formatted into a fixed buffer by this one function.
#ifndef KAVREL_LAUNCHER_BOUNDED_FORMAT_H_
#define KAVREL_LAUNCHER_BOUNDED_FORMAT_H_

#include <stddef.h>

// The size of every path text: MAX_PATH bytes, so at most 259 bytes of text
// and the terminating NUL.
constexpr size_t kPathCapacity = 260;

// Formats `format` into `destination`, which holds `capacity` bytes, and
// NUL-terminates it. Understands three conversions:
//   %s   an 8-bit text, copied byte for byte;
//   %ws  a UTF-16 text narrowed unit by unit: a code unit below 256 becomes
//        the byte of the same value; if any unit is 256 or above, the whole
//        conversion produces nothing (it is not cut at that character);
//   %%   a percent sign.
// Returns true when the whole result fits. When it does not fit, nothing is
// kept: `destination` is left empty and the result is false, so a text that
// was cut can never be used. `capacity` must be at least 1.
bool FormatBounded(char* destination, size_t capacity, const char* format, ...);

#endif  // KAVREL_LAUNCHER_BOUNDED_FORMAT_H_
