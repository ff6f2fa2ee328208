// Fuzzes the required-version gate: any command line (no arguments, many,
// arguments of any length and any UTF-16 units) against any installed
// version, checked against the C library's own strtol; and the version
// parser alone on any 8-bit text.
#include <fuzzer/FuzzedDataProvider.h>
#include <stddef.h>
#include <stdint.h>

#include <algorithm>
#include <string>
#include <vector>

#include "launcher/version_gate.h"
#include "tests/fake_platform/fake_platform.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

std::string Describe(const fake::World& world, uint32_t installed, uint32_t required) {
  std::string text = "installed " + std::to_string(installed) + ", expected required " +
                     std::to_string(required) + (world.split_fails ? ", splitting fails" : "") +
                     "\narguments:";
  for (const std::wstring& argument : world.arguments) text += "\n  " + fuzz::Quoted(argument);
  return text;
}

void CheckParser(const std::string& text) {
  const std::string c_text = text.substr(0, text.find('\0'));
  const int32_t parsed = ParseRequiredVersion(c_text.c_str());
  FUZZ_CHECK(parsed == fuzz::StrtolClamped(c_text),
             "text " + fuzz::Quoted(c_text) + " parsed as " + std::to_string(parsed) +
                 ", strtol says " + std::to_string(fuzz::StrtolClamped(c_text)));
}

// Each unit's low byte: texts of any length, also past 260 bytes.
std::string LowBytes(const std::wstring& argument) {
  std::string bytes(argument.size(), '\0');
  std::transform(argument.begin(), argument.end(), bytes.begin(),
                 [](wchar_t unit) { return static_cast<char>(unit & 0xFF); });
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  fake::Reset();
  fake::World& world = fake::TheWorld();
  world.split_fails = input.ConsumeIntegralInRange<int>(0, 31) == 31;
  world.arguments = fuzz::ArgumentsFrom(input, 8);
  const uint32_t required = fuzz::ExpectedRequiredVersion(world.arguments, world.split_fails);
  const uint32_t installed = fuzz::InstalledVersionNear(input, required);

  const bool below = IsInstalledVersionBelowRequired(installed);

  const std::string context = Describe(world, installed, required);
  FUZZ_CHECK(below == (installed < required), context);
  FUZZ_CHECK(world.command_line_reads == 1 && world.splits == 1, context);
  FUZZ_CHECK(world.split_got_own_command_line, context);
  // The vector handed out is released, once; a failed split has none.
  FUZZ_CHECK(world.frees <= 1 && !world.vector_outstanding, context);
  FUZZ_CHECK(world.vectors_released == (world.split_fails ? 0 : 1), context);

  for (const std::wstring& argument : world.arguments) CheckParser(LowBytes(argument));
  CheckParser(input.ConsumeRemainingBytesAsString());
  return 0;
}
