#include "launcher/exact_text.h"

#include <stdint.h>
#include <wchar.h>

#include "launcher/bounded_format.h"

namespace {

// The units before the first NUL among the first `units`.
size_t LengthWithin(const wchar_t* text, size_t units) {
  size_t length = 0;
  while (length < units && text[length] != L'\0') ++length;
  return length;
}

}  // namespace

bool IsConvertedType(uint32_t type) {
  return type == platform::kRegSz || type == platform::kRegExpandSz ||
         type == platform::kRegMultiSz;
}

bool ConvertsBackTo(const char* text, const wchar_t* wide, size_t wide_length) {
  // Every code page takes at least one byte per UTF-16 unit, so an exact
  // text of at most 259 bytes never needs more units than this.
  wchar_t converted[kPathCapacity];
  // No flags: the conversion is then defined for every code page, and a
  // byte that means nothing there becomes a character that differs.
  const int32_t units = platform::MultiByteToWide(platform::kActiveCodePage, 0, text, -1, converted,
                                                  static_cast<int32_t>(kPathCapacity));
  // The count includes the NUL; 0 is a failed or cut conversion.
  if (units <= 0) return false;
  const auto length = static_cast<size_t>(units - 1);
  return length == wide_length && wmemcmp(converted, wide, length) == 0;
}

bool IsExactRegistryText(platform::RegistryKey key, const wchar_t* name, const char* text) {
  wchar_t held[kPathCapacity];
  uint32_t type = 0;
  uint32_t size = sizeof held;
  if (platform::QueryRegistryValueWide(key, name, nullptr, &type, held, &size) !=
      platform::kSuccess) {
    return false;
  }
  if (!IsConvertedType(type)) return true;
  // The 8-bit call converts the value up to its first NUL, as kavrel uses it.
  return ConvertsBackTo(text, held, LengthWithin(held, size / sizeof held[0]));
}

bool IsExactModulePath(const char* module_path) {
  wchar_t held[kPathCapacity];
  const uint32_t length = platform::GetOwnModuleFileNameWide(held, kModulePathLimit);
  if (length == 0 || length >= kModulePathLimit) return false;
  return ConvertsBackTo(module_path, held, length);
}
