// UTF-8 for what the end-to-end programs print and report, so that paths and
// arguments beyond Latin-1 come through whole.
//
//   Utf8(text)             the UTF-8 of `text`; a lone surrogate becomes
//                          U+FFFD, which is fine for what is only read by
//                          people
//   Utf8Exact(text, out)   the same, but refuses (false) a text that has no
//                          exact UTF-8, for what a program reads back
#ifndef KAVREL_TESTS_E2E_UTF8_H_
#define KAVREL_TESTS_E2E_UTF8_H_

#include <windows.h>

#include <string>

inline std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size,
                      nullptr, nullptr);
  return result;
}

inline bool Utf8Exact(const std::wstring& text, std::string* utf8) {
  utf8->clear();
  if (text.empty()) return true;
  const int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(),
                                       static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (size <= 0) return false;
  utf8->resize(static_cast<size_t>(size));
  return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(),
                             static_cast<int>(text.size()), &(*utf8)[0], size, nullptr,
                             nullptr) == size;
}

#endif  // KAVREL_TESTS_E2E_UTF8_H_
