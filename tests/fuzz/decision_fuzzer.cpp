// Fuzzes the whole launch decision: any installation record (key missing or
// not, each value missing, forced to fail, or of any bytes and length), any
// outcome of the process start, any own module path and way of failing to
// get it, any command line. Every run is compared with an independent
// reckoning of what kavrel must have done, call for call.
#include <fuzzer/FuzzedDataProvider.h>
#include <stddef.h>
#include <stdint.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "launcher/launch_decision.h"
#include "tests/fake_platform/fake_platform.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr size_t kTextCapacity = 260;  // bytes of a path text, its NUL included
constexpr size_t kLongestPath = 259;   // the most bytes a started path may have
constexpr char kInstaller[] = "instaluj_pimbalo.exe";
constexpr const char* kValueNames[] = {"setuppath", "appfile", "version"};

// Bytes of a given length, often right at an edge: a repeated pattern with
// up to three single bytes (NUL, backslash, space or any) set at chosen places.
std::string BytesFrom(FuzzedDataProvider& input, size_t length_hint,
                      std::initializer_list<size_t> position_hints) {
  constexpr size_t kEdges[] = {0, 1, 2, 3, 4, 5, 258, 259, 260, 261};
  const uint8_t choice = input.ConsumeIntegral<uint8_t>();
  size_t length = 0;
  if (choice < 100) {
    length = kEdges[choice % 10];
  } else if (choice < 160) {
    length = length_hint + choice % 5 >= 2 ? length_hint + choice % 5 - 2 : 0;
  } else {
    length = input.ConsumeIntegralInRange<size_t>(0, 600);
  }
  std::string pattern = input.ConsumeBytesAsString(input.ConsumeIntegralInRange<size_t>(1, 8));
  if (pattern.empty()) pattern = "a";
  std::string bytes;
  bytes.reserve(length);
  while (bytes.size() < length) bytes.push_back(pattern[bytes.size() % pattern.size()]);
  if (length == 0) return bytes;

  const size_t marks = input.ConsumeIntegralInRange<size_t>(0, 3);
  for (size_t i = 0; i < marks; ++i) {
    const size_t where = input.ConsumeIntegralInRange<size_t>(0, position_hints.size() + 2);
    size_t position = length - 1;
    if (where == 1) {
      position = input.ConsumeIntegralInRange<size_t>(0, length - 1);
    } else if (where >= 2) {
      position = position_hints.begin()[where - 2 < position_hints.size() ? where - 2 : 0];
    }
    if (position >= length) continue;
    constexpr char kMarks[] = {'\0', '\\', ' ', '\t'};
    const uint8_t mark = input.ConsumeIntegral<uint8_t>();
    bytes[position] = mark < 128 ? kMarks[mark % 4] : static_cast<char>(mark);
  }
  return bytes;
}

platform::Status StatusFrom(FuzzedDataProvider& input) {
  constexpr platform::Status kStatuses[] = {platform::kSuccess, platform::kErrorFileNotFound,
                                            platform::kErrorMoreData, 5, 6};
  const uint8_t choice = input.ConsumeIntegral<uint8_t>();
  if (choice < 200) return kStatuses[choice % 5];
  return input.ConsumeIntegral<platform::Status>();
}

// What the launcher must have read for one value.
struct ExpectedText {
  bool ok = false;
  std::string text;
};
struct ExpectedVersion {
  bool ok = false;
  uint32_t value = 0;
};

ExpectedText ExpectText(const fake::World& world, const std::string& name) {
  const auto forced = world.query_status.find(name);
  if (forced != world.query_status.end()) return {forced->second == platform::kSuccess, ""};
  const auto value = world.values.find(name);
  if (value == world.values.end() || value->second.size() > kTextCapacity) return {};
  const std::string bytes(value->second.begin(), value->second.end());
  const size_t nul = bytes.find('\0');
  // All 260 bytes without a NUL may be a cut text: never used.
  if (nul == std::string::npos && bytes.size() == kTextCapacity) return {};
  return {true, bytes.substr(0, nul)};
}

ExpectedVersion ExpectVersion(const fake::World& world) {
  const auto forced = world.query_status.find("version");
  if (forced != world.query_status.end()) return {forced->second == platform::kSuccess, 0};
  const auto value = world.values.find("version");
  if (value == world.values.end() || value->second.size() > 4) return {};
  uint32_t number = 0;
  for (size_t i = 0; i < value->second.size(); ++i) {
    number |= static_cast<uint32_t>(value->second[i]) << (8 * i);
  }
  return {true, number};
}

std::string Describe(const fake::World& world) {
  std::string text = "open status " + std::to_string(world.open_status);
  for (const char* name : kValueNames) {
    text += std::string("\n") + name + ": ";
    const auto forced = world.query_status.find(name);
    if (forced != world.query_status.end()) {
      text += "forced " + std::to_string(forced->second) + ", ";
    }
    const auto value = world.values.find(name);
    text += value == world.values.end()
                ? "absent"
                : fuzz::Quoted(std::string(value->second.begin(), value->second.end()));
  }
  text += "\nprocess start answers " + std::to_string(world.create_process_result);
  text += "\nmodule path " + fuzz::Quoted(world.module_path) +
          (world.module_call_fails ? ", call fails" : "") +
          (world.module_cut == fake::ModuleCut::kWithoutNul ? ", cut without NUL" : "");
  text += std::string("\narguments") + (world.split_fails ? " (splitting fails)" : "") + ":";
  for (const std::wstring& argument : world.arguments) text += "\n  " + fuzz::Quoted(argument);
  text += "\ncalls: " + std::to_string(world.opens.size()) + " open, " +
          std::to_string(world.queries.size()) + " query, " + std::to_string(world.closes.size()) +
          " close, " + std::to_string(world.creates.size()) + " create, " +
          std::to_string(world.module_calls.size()) + " module, " +
          std::to_string(world.shell_executes.size()) + " shell";
  for (const fake::CreateProcessCall& call : world.creates) {
    text += "\n  created " + fuzz::Quoted(call.application_name);
  }
  for (const fake::ShellExecuteCall& call : world.shell_executes) {
    text += "\n  shell " + fuzz::Quoted(call.file) + " in " + fuzz::Quoted(call.directory);
  }
  return text;
}

void Arrange(FuzzedDataProvider& input, fake::World& world) {
  world.open_status =
      input.ConsumeIntegralInRange<int>(0, 7) == 7 ? StatusFrom(input) : platform::kSuccess;
  size_t setuppath_length = 0;
  for (const char* name : kValueNames) {
    const bool version = name == kValueNames[2];
    // The appfile length that makes the joined path exactly 259 bytes.
    const size_t hint = version ? 4
                        : name == kValueNames[1] && setuppath_length < kLongestPath
                            ? kLongestPath - 1 - setuppath_length
                            : kLongestPath;
    if (input.ConsumeIntegralInRange<int>(0, 15) != 0) {
      const std::string bytes = BytesFrom(input, hint, {hint, hint - 1});
      world.values[name] = fake::Bytes(bytes.begin(), bytes.end());
      if (name == kValueNames[0]) setuppath_length = bytes.substr(0, bytes.find('\0')).size();
    }
    if (input.ConsumeIntegralInRange<int>(0, 15) == 15)
      world.query_status[name] = StatusFrom(input);
  }
  world.create_process_result = input.ConsumeIntegralInRange<int>(0, 3) == 3 ? 0 : 1;

  // The installer path is 259 bytes when the module's last backslash is at 238.
  world.module_path = BytesFrom(input, kLongestPath, {238, 239, 240, 257, 258});
  world.module_call_fails = input.ConsumeIntegralInRange<int>(0, 15) == 15;
  world.module_cut = input.ConsumeBool() ? fake::ModuleCut::kWithNul : fake::ModuleCut::kWithoutNul;
  world.shell_execute_result = input.ConsumeBool() ? 42 : 2;

  world.split_fails = input.ConsumeIntegralInRange<int>(0, 31) == 31;
  world.arguments = fuzz::ArgumentsFrom(input, 4);
  // Often a required version right at the installed one.
  const auto version = world.values.find("version");
  if (version != world.values.end() && input.ConsumeBool()) {
    const ExpectedVersion installed = ExpectVersion(world);
    const uint32_t required = installed.value + input.ConsumeIntegralInRange<uint32_t>(0, 2) - 1;
    const std::string text = std::to_string(static_cast<int32_t>(required));
    if (world.arguments.size() < 2) world.arguments.resize(2, L"kavrel.exe");
    world.arguments[1] = std::wstring(text.begin(), text.end());
  }
}

// The record: the key is opened once, all three values are read when it
// opened, and it is closed exactly when it was opened.
void CheckRegistry(const fake::World& world, const std::string& context) {
  const bool opened = world.open_status == platform::kSuccess;
  FUZZ_CHECK(world.opens.size() == 1, context);
  FUZZ_CHECK(world.queries.size() == (opened ? 3u : 0u), context);
  for (size_t i = 0; i < world.queries.size(); ++i) {
    FUZZ_CHECK(world.queries[i].name == kValueNames[i], context);
    FUZZ_CHECK(world.queries[i].key == fake::OpenedKey(), context);
  }
  FUZZ_CHECK(world.closes.size() == (opened ? 1u : 0u), context);
  FUZZ_CHECK(world.closes.empty() || world.closes[0] == fake::OpenedKey(), context);
}

// The application: started only from a whole record that is recent enough,
// by its whole path. Returns whether it was started.
bool CheckApplication(const fake::World& world, const std::string& context) {
  const ExpectedText setuppath = ExpectText(world, "setuppath");
  const ExpectedText appfile = ExpectText(world, "appfile");
  const ExpectedVersion version = ExpectVersion(world);
  const bool complete =
      world.open_status == platform::kSuccess && setuppath.ok && appfile.ok && version.ok;

  // The command line is looked at only for a complete record.
  FUZZ_CHECK(world.splits == (complete ? 1 : 0), context);
  FUZZ_CHECK(!world.vector_outstanding && world.frees == world.splits, context);
  const uint32_t required = fuzz::ExpectedRequiredVersion(world.arguments, world.split_fails);
  const bool below = complete && version.value < required;

  std::string application = setuppath.text;
  application += '\\';
  application += appfile.text;
  const bool tried = complete && !below && application.size() <= kLongestPath;
  FUZZ_CHECK(world.creates.size() == (tried ? 1u : 0u),
             context + "\nexpected application " + fuzz::Quoted(application) +
                 (below ? " (installed version below required)" : ""));
  if (!tried) return false;
  const fake::CreateProcessCall& call = world.creates[0];
  FUZZ_CHECK(call.application_name == application && call.application_name.size() <= kLongestPath,
             context);
  FUZZ_CHECK(call.current_directory == setuppath.text, context);
  FUZZ_CHECK(call.command_line_is_null, context);
  return world.create_process_result != 0;
}

// The installer: after any failure, at most once, from kavrel's own folder
// when its own path came back whole and the installer path fits.
void CheckInstaller(const fake::World& world, bool application_started,
                    const std::string& context) {
  FUZZ_CHECK(world.module_calls.size() == (application_started ? 0u : 1u), context);
  std::string folder;
  bool installer_fits = false;
  if (!world.module_call_fails && !world.module_path.empty() &&
      world.module_path.size() < kLongestPath) {
    const std::string own_path = world.module_path.substr(0, world.module_path.find('\0'));
    const size_t last_backslash = own_path.rfind('\\');
    if (last_backslash != std::string::npos) {
      folder = own_path.substr(0, last_backslash + 1);
      installer_fits = folder.size() + sizeof kInstaller - 1 <= kLongestPath;
    }
  }
  const bool installer = !application_started && installer_fits;
  FUZZ_CHECK(world.shell_executes.size() == (installer ? 1u : 0u),
             context + "\nexpected folder " + fuzz::Quoted(folder));
  if (!installer) return;
  const fake::ShellExecuteCall& call = world.shell_executes[0];
  FUZZ_CHECK(call.file == folder + kInstaller && call.file.size() <= kLongestPath, context);
  FUZZ_CHECK(call.directory == folder, context);
  FUZZ_CHECK(call.operation_is_null && call.parameters_is_null, context);
  FUZZ_CHECK(call.show_command == platform::kShowHide, context);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  fake::Reset();
  fake::World& world = fake::TheWorld();
  Arrange(input, world);
  const int result = wWinMain(nullptr, nullptr, nullptr, 0);
  const std::string context = Describe(world);
  FUZZ_CHECK(result == 0, context);
  CheckRegistry(world, context);
  CheckInstaller(world, CheckApplication(world, context), context);
  return 0;
}
