// UTF-8 for what the end-to-end programs print and report, so that paths and
// arguments beyond Latin-1 come through whole.
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

#endif  // KAVREL_TESTS_E2E_UTF8_H_
