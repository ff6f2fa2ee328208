#include "launcher/launch_decision.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/fake_platform/fake_platform.h"

namespace {

void CompleteRecord(fake::World& world) {
  world.open_status = platform::kSuccess;
  world.values = {{"setuppath", fake::Text("C:\\Apps\\X")},
                  {"appfile", fake::Text("run.exe")},
                  {"version", fake::Dword(5)}};
}

// kavrel started with the required version VERSION as its argument.
void RequiredVersion(fake::World& world, const wchar_t* version) {
  world.arguments = {L"kavrel.exe", version};
}

// Each way to the application that can fail, and what kavrel must then do.
// On every road the DLL search is restricted first, before the key is
// opened, and whatever the restriction answers (also on a Windows without
// it) the road is the same.
TEST(LaunchDecision, EveryFailureLeadsToTheInstallerOnceAndTheKeyIsClosedIfOpened) {
  struct Case {
    const char* name;
    std::function<void(fake::World&)> arrange;
    bool application_tried;
    bool installer_started;
    bool key_opened;
    bool command_line_read;
  };
  const Case cases[] = {
      {"complete record, no argument", [](fake::World&) {}, true, false, true, true},
      {"no key", [](fake::World& w) { w.open_status = platform::kErrorFileNotFound; }, false, true,
       false, false},
      {"key not readable", [](fake::World& w) { w.open_status = 5; }, false, true, false, false},
      {"key without values", [](fake::World& w) { w.values.clear(); }, false, true, true, false},
      {"setuppath missing", [](fake::World& w) { w.values.erase("setuppath"); }, false, true, true,
       false},
      {"appfile missing", [](fake::World& w) { w.values.erase("appfile"); }, false, true, true,
       false},
      {"version missing", [](fake::World& w) { w.values.erase("version"); }, false, true, true,
       false},
      {"setuppath too long",
       [](fake::World& w) { w.values["setuppath"] = fake::Text(std::string(260, 'a')); }, false,
       true, true, false},
      {"version below required", [](fake::World& w) { RequiredVersion(w, L"6"); }, false, true,
       true, true},
      {"version equal to required", [](fake::World& w) { RequiredVersion(w, L"5"); }, true, false,
       true, true},
      {"application fails to start", [](fake::World& w) { w.create_process_result = 0; }, true,
       true, true, true},
      {"application and installer fail",
       [](fake::World& w) {
         w.create_process_result = 0;
         w.shell_execute_result = 2;
       },
       true, true, true, true},
  };
  const platform::DllSearch answers[] = {
      platform::DllSearch::kRestricted, platform::DllSearch::kRefused,
      platform::DllSearch::kUnavailable, platform::DllSearch::kSkippedOnVista};
  for (const platform::DllSearch answer : answers) {
    for (const Case& c : cases) {
      fake::Reset();
      fake::World& world = fake::TheWorld();
      CompleteRecord(world);
      c.arrange(world);
      world.dll_search = answer;
      const std::string name =
          std::string(c.name) + ", DLL search answer " + std::to_string(static_cast<int>(answer));

      EXPECT_EQ(wWinMain(nullptr, nullptr, nullptr, 0), 0) << name;

      EXPECT_EQ(world.dll_search_restrictions, 1) << name;
      EXPECT_EQ(world.calls_before_dll_restriction, 0) << name;

      EXPECT_EQ(world.creates.size(), c.application_tried ? 1u : 0u) << name;
      EXPECT_EQ(world.shell_executes.size(), c.installer_started ? 1u : 0u) << name;
      EXPECT_EQ(world.opens.size(), 1u) << name;
      ASSERT_EQ(world.closes.size(), c.key_opened ? 1u : 0u) << name;
      if (c.key_opened) {
        EXPECT_EQ(world.closes[0], fake::OpenedKey()) << name;
      }
      EXPECT_EQ(world.command_line_reads, c.command_line_read ? 1 : 0) << name;
      EXPECT_FALSE(world.vector_outstanding) << name;
    }
  }
}

TEST(LaunchDecision, StartsTheApplicationFromTheRecord) {
  fake::Reset();
  fake::World& world = fake::TheWorld();
  CompleteRecord(world);
  world.values["setuppath"] = fake::Text("D:\\Pimbalo 2");
  world.values["appfile"] = fake::Text("bin\\p.exe");
  EXPECT_EQ(wWinMain(nullptr, nullptr, nullptr, 0), 0);
  ASSERT_EQ(world.creates.size(), 1u);
  EXPECT_EQ(world.creates[0].application_name, "D:\\Pimbalo 2\\bin\\p.exe");
  EXPECT_EQ(world.creates[0].current_directory, "D:\\Pimbalo 2");
}

}  // namespace
