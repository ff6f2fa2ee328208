#include "tests/fuzz/fuzz_support.h"

#include <locale.h>
#include <stdio.h>
#include <stdlib.h>

namespace fuzz {
namespace {

// Units the parser and the narrowing care about: digits, the six "C"
// white-space characters, signs, the last 8-bit unit and the first beyond
// it, white space and digits of other scripts, and a lone surrogate.
constexpr wchar_t kPalette[] = {L'0',   L'1',   L'2',   L'3',  L'4',   L'7',   L'8',   L'9',
                                L' ',   L'\t',  L'\n',  L'\v', L'\f',  L'\r',  L'+',   L'-',
                                L'x',   L'a',   L'.',   L'e',  0x80,   0x85,   0xA0,   0xB2,
                                0xFF,   0x100,  0x130,  0x660, 0x2000, 0x3000, 0xD800, 0xFEFF,
                                0xFF10, 0xFF11, 0xFFFF, L'0',  L'1',   L'9',   L' ',   L'-'};
constexpr size_t kPaletteSize = sizeof kPalette / sizeof kPalette[0];

// An argument of at least this many units does not fit kavrel's buffer.
constexpr size_t kUnusableLength = 260;

std::wstring ArgumentFrom(FuzzedDataProvider& input) {
  std::wstring argument;
  const size_t runs = input.ConsumeIntegralInRange<size_t>(0, 12);
  for (size_t i = 0; i < runs; ++i) {
    const uint8_t kind = input.ConsumeIntegral<uint8_t>();
    const wchar_t unit = kind < 224 ? kPalette[kind % kPaletteSize]
                                    : static_cast<wchar_t>(input.ConsumeIntegral<uint16_t>());
    const uint8_t repeat = input.ConsumeIntegral<uint8_t>();
    size_t count = 1;
    if (repeat >= 192) {
      count = 250 + (repeat - 192u);  // 250..313: across the 260-unit edge
    } else if (repeat >= 128) {
      count = repeat - 126u;  // 2..65
    }
    argument.append(count, unit);
  }
  return argument;
}

}  // namespace

std::vector<std::wstring> ArgumentsFrom(FuzzedDataProvider& input, size_t max_count) {
  std::vector<std::wstring> arguments(input.ConsumeIntegralInRange<size_t>(0, max_count));
  for (std::wstring& argument : arguments) argument = ArgumentFrom(input);
  return arguments;
}

int32_t StrtolClamped(const std::string& text) {
  const long value = strtol(text.c_str(), nullptr, 10);
  if (value < INT32_MIN) return INT32_MIN;
  if (value > INT32_MAX) return INT32_MAX;
  return static_cast<int32_t>(value);
}

uint32_t ExpectedRequiredVersion(const std::vector<std::wstring>& arguments, bool split_fails) {
  if (split_fails || arguments.size() < 2) return 0;
  const std::wstring argument = arguments[1].substr(0, arguments[1].find(L'\0'));
  std::string narrowed;
  if (argument.size() < kUnusableLength) {
    for (const wchar_t unit : argument) {
      if (static_cast<uint32_t>(unit) > 0xFF) {
        narrowed.clear();
        break;
      }
      narrowed.push_back(static_cast<char>(static_cast<unsigned char>(unit)));
    }
  }
  return static_cast<uint32_t>(StrtolClamped(narrowed));
}

uint32_t InstalledVersionNear(FuzzedDataProvider& input, uint32_t required) {
  switch (input.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
      return required;
    case 1:
      return required - 1;
    case 2:
      return required + 1;
    default:
      return input.ConsumeIntegral<uint32_t>();
  }
}

void UseCLocale() {
  // Called once, before the fuzzer starts any work.
  (void)setlocale(LC_ALL, "C");  // NOLINT(concurrency-mt-unsafe)
}

std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\') {
      quoted.push_back(c);
    } else {
      char escape[8];
      (void)snprintf(escape, sizeof escape, "\\x%02X", byte);
      quoted += escape;
    }
  }
  return quoted + "\" (" + std::to_string(text.size()) + " bytes)";
}

std::string Quoted(const std::wstring& text) {
  std::string quoted = "L\"";
  for (const wchar_t unit : text) {
    if (unit >= 0x20 && unit < 0x7F && unit != L'"' && unit != L'\\') {
      quoted.push_back(static_cast<char>(unit));
    } else {
      char escape[12];
      (void)snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(unit));
      quoted += escape;
    }
  }
  return quoted + "\" (" + std::to_string(text.size()) + " units)";
}

void Fail(const char* file, int line, const char* condition, const std::string& context) {
  (void)fprintf(stderr, "\n%s:%d: check failed: %s\n%s\n", file, line, condition, context.c_str());
  abort();
}

}  // namespace fuzz

// Every target compares against the C library in the "C" locale.
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  fuzz::UseCLocale();
  return 0;
}
