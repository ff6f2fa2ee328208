// Exact texts: a path that Windows converted for kavrel from UTF-16 into
// the active code page is used only if nothing was lost on the way. Where a
// character has no place in the code page, Windows writes a look-alike in
// its place ("best fit": l for l-stroke, z for z-dot) or a question mark,
// and the path then names another folder. Converted back from the code
// page, such a text differs from the UTF-16 text Windows holds; an exact
// one does not, in every code page, UTF-8 included.
#ifndef KAVREL_LAUNCHER_EXACT_TEXT_H_
#define KAVREL_LAUNCHER_EXACT_TEXT_H_

#include <stddef.h>
#include <stdint.h>

#include "platform/platform.h"

// Whether the 8-bit registry call converts a value of `type` from UTF-16:
// the string types, and only they.
bool IsConvertedType(uint32_t type);

// Whether `text`, converted from the active code page, is exactly the
// `wide_length` UTF-16 units at `wide`. A text whose conversion would not
// fit kavrel's path buffers is not exact.
bool ConvertsBackTo(const char* text, const wchar_t* wide, size_t wide_length);

// Whether `text`, read through the 8-bit call from the value `name` of
// `key`, is what the value holds. Only a value of a string type was
// converted; any other is taken byte for byte and so is exact. A value that
// cannot be read again, or whose UTF-16 text is longer than any exact text
// of kavrel's, is not.
bool IsExactRegistryText(platform::RegistryKey key, const wchar_t* name, const char* text);

// Whether `module_path`, kavrel's own path as the 8-bit call gave it, is the
// path Windows holds.
bool IsExactModulePath(const char* module_path);

#endif  // KAVREL_LAUNCHER_EXACT_TEXT_H_
