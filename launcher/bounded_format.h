// Bounded formatting: every text kavrel builds (a joined path, a folder with
// its closing backslash, the narrowed version argument) is written into a
// fixed buffer by one of these functions. Each takes typed arguments, so the
// compiler checks every use.
//
// Each writes into `destination`, which holds `capacity` bytes (at least 1),
// NUL-terminates it and returns true when the whole result fits. When it
// does not fit, nothing is kept: `destination` is left empty and the result
// is false, so a text that was cut can never be used.
#ifndef KAVREL_LAUNCHER_BOUNDED_FORMAT_H_
#define KAVREL_LAUNCHER_BOUNDED_FORMAT_H_

#include <stddef.h>
#include <stdint.h>

// The size of every path text: MAX_PATH bytes, so at most 259 bytes of text
// and the terminating NUL.
constexpr size_t kPathCapacity = 260;

// The most that kavrel lets Windows write of its own path, in bytes or
// UTF-16 units: one less than the buffer, whose last element so stays a
// terminating NUL. A path that fills the whole limit may have been cut.
constexpr uint32_t kModulePathLimit = kPathCapacity - 1;

// `folder`, a backslash and `name`, byte for byte. An empty `name` gives the
// folder with a closing backslash.
bool JoinPath(char* destination, size_t capacity, const char* folder, const char* name);

// `text` narrowed unit by unit: a UTF-16 code unit below 256 becomes the
// byte of the same value. If any unit is 256 or above, the result is empty
// (the text is not cut at that character) and still counts as fitting.
bool NarrowText(char* destination, size_t capacity, const wchar_t* text);

#endif  // KAVREL_LAUNCHER_BOUNDED_FORMAT_H_
