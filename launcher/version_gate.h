// The required-version gate: whether the installed application is too old
// to be started directly, judged against kavrel's first command-line
// argument.
#ifndef KAVREL_LAUNCHER_VERSION_GATE_H_
#define KAVREL_LAUNCHER_VERSION_GATE_H_

#include <stdint.h>

// Reads kavrel's own command line, splits it, narrows the first argument
// after the program name to 8-bit text and parses it as the required
// version. Answers true exactly when `installed_version` is below it, both
// compared as unsigned 32-bit numbers (so a required version of -1 means
// 4294967295). No argument, or an argument that cannot be used, gives the
// required version 0, so the answer is false. Arguments after the first are
// never looked at. The argument vector is released before returning.
bool IsInstalledVersionBelowRequired(uint32_t installed_version);

// Parses `text` as the standard strtol does in the "C" locale with base 10:
// leading white space (tab, line feed, vertical tab, form feed, carriage
// return, space) is skipped, one optional sign is taken, then decimal digits
// up to the first other character. No digits give 0; the result is clamped
// to the signed 32-bit range. No octal or hexadecimal prefixes.
int32_t ParseRequiredVersion(const char* text);

#endif  // KAVREL_LAUNCHER_VERSION_GATE_H_
