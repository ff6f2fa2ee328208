#include "launcher/starts.h"

#include <gtest/gtest.h>

#include <string>

#include "launcher/bounded_format.h"
#include "tests/fake_platform/fake_platform.h"

namespace {

class StartsTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::Reset(); }
  fake::World& world = fake::TheWorld();
};

TEST_F(StartsTest, ApplicationPathNullCommandLineAndWorkingDirectory) {
  struct Case {
    const char* setuppath;
    const char* appfile;
    const char* application_name;
  };
  const Case cases[] = {
      {"C:\\Apps\\X", "run.exe", "C:\\Apps\\X\\run.exe"},
      {"C:\\Apps\\X", "bin\\run.exe", "C:\\Apps\\X\\bin\\run.exe"},
      {"C:\\Apps\\X\\", "run.exe", "C:\\Apps\\X\\\\run.exe"},
      {"C:\\Apps\\X", "", "C:\\Apps\\X\\"},
      {"", "run.exe", "\\run.exe"},
      {"C:\\", "run.exe", "C:\\\\run.exe"},
      {"C:\\Program Files\\X", "my app.exe", "C:\\Program Files\\X\\my app.exe"},
  };
  for (const Case& c : cases) {
    fake::Reset();
    EXPECT_TRUE(StartApplication(c.setuppath, c.appfile));
    ASSERT_EQ(world.creates.size(), 1u);
    const fake::CreateProcessCall& call = world.creates[0];
    EXPECT_EQ(call.application_name, c.application_name);
    // Windows makes the command line from the path, in double quotes.
    EXPECT_TRUE(call.command_line_is_null) << c.application_name;
    EXPECT_EQ(call.current_directory, c.setuppath);
  }
}

TEST_F(StartsTest, ApplicationGetsKavrelsEnvironmentHandlesAndNoShowRequest) {
  EXPECT_TRUE(StartApplication("C:\\Apps\\X", "run.exe"));
  ASSERT_EQ(world.creates.size(), 1u);
  const fake::CreateProcessCall& call = world.creates[0];
  EXPECT_TRUE(call.process_attributes_is_null);
  EXPECT_TRUE(call.thread_attributes_is_null);
  EXPECT_EQ(call.inherit_handles, 1);
  EXPECT_EQ(call.creation_flags, 0u);
  EXPECT_TRUE(call.environment_is_null);
  EXPECT_TRUE(call.process_information_given);

  // All zero but the size; no flags, so no request about the window.
  const platform::StartupInfo& info = call.startup_info;
  EXPECT_EQ(info.size, sizeof(platform::StartupInfo));
  EXPECT_EQ(info.x | info.y | info.x_size | info.y_size | info.x_count_chars | info.y_count_chars |
                info.fill_attribute | info.flags,
            0u);
  EXPECT_EQ(info.show_window | info.reserved2_size, 0);
  EXPECT_TRUE(info.reserved == nullptr && info.desktop == nullptr && info.title == nullptr &&
              info.reserved2 == nullptr && info.std_input == nullptr &&
              info.std_output == nullptr && info.std_error == nullptr);
}

// Windows refuses for many reasons: a missing file, not a program, or one
// that asks for rights kavrel does not have (ERROR_ELEVATION_REQUIRED). Each
// is a failed start and nothing else.
TEST_F(StartsTest, ApplicationStartReportsExactlyWhatWindowsAnswered) {
  world.create_process_result = 0;
  EXPECT_FALSE(StartApplication("C:\\Apps\\X", "run.exe"));
  world.create_process_result = -1;
  EXPECT_TRUE(StartApplication("C:\\Apps\\X", "run.exe"));
}

TEST_F(StartsTest, ApplicationPathOver259BytesIsAFailedStartNotACutOne) {
  const std::string setuppath(200, 'd');
  EXPECT_TRUE(StartApplication(setuppath.c_str(), std::string(58, 'f').c_str()));  // 259
  ASSERT_EQ(world.creates.size(), 1u);
  EXPECT_EQ(world.creates[0].application_name.size(), 259u);
  EXPECT_FALSE(StartApplication(setuppath.c_str(), std::string(59, 'f').c_str()));  // 260
  EXPECT_FALSE(StartApplication(setuppath.c_str(), std::string(259, 'f').c_str()));
  EXPECT_EQ(world.creates.size(), 1u) << "a cut path was started";
}

TEST_F(StartsTest, InstallerIsFoundBesideKavrelAndStartedHidden) {
  struct Case {
    std::string module_path;
    std::string installer;  // empty: nothing may be started
    std::string directory;
  };
  const std::string long_dir = "C:\\" + std::string(230, 'L');  // 233 bytes
  const Case cases[] = {
      {"E:\\setup\\kavrel.exe", "E:\\setup\\instaluj_pimbalo.exe", "E:\\setup\\"},
      {"E:\\kavrel.exe", "E:\\instaluj_pimbalo.exe", "E:\\"},
      {"\\\\server\\share\\kavrel.exe", "\\\\server\\share\\instaluj_pimbalo.exe",
       "\\\\server\\share\\"},
      {"C:\\a b\\k.exe", "C:\\a b\\instaluj_pimbalo.exe", "C:\\a b\\"},
      {"kavrel.exe", "", ""},  // no folder to look in
      {"", "", ""},
      // 233 + "\" + 20 = 254 bytes fit; a folder 6 bytes longer would not.
      {long_dir + "\\k.exe", long_dir + "\\instaluj_pimbalo.exe", long_dir + "\\"},
      {long_dir + "LLLLLL\\k.exe", "", ""},
  };
  for (const Case& c : cases) {
    fake::Reset();
    world.module_path = c.module_path;
    StartInstaller();
    ASSERT_EQ(world.module_calls.size(), 1u);
    EXPECT_EQ(world.module_calls[0], kPathCapacity - 1);
    if (c.installer.empty()) {
      EXPECT_TRUE(world.shell_executes.empty()) << c.module_path;
      continue;
    }
    ASSERT_EQ(world.shell_executes.size(), 1u) << c.module_path;
    const fake::ShellExecuteCall& call = world.shell_executes[0];
    EXPECT_EQ(call.file, c.installer);
    EXPECT_EQ(call.directory, c.directory);
    EXPECT_TRUE(call.operation_is_null);
    EXPECT_TRUE(call.parameters_is_null);
    EXPECT_EQ(call.show_command, platform::kShowHide);
  }
}

// A module path that was cut ends in a folder that is not kavrel's (its last
// backslash may belong to a parent folder), where another program of the
// same name could lie. Neither Windows' way of cutting is trusted.
TEST_F(StartsTest, InstallerIsNotStartedFromACutOrMissingModulePath) {
  const std::string fits = "C:\\" + std::string(200, 'p') + "\\" + std::string(54, 'k');
  ASSERT_EQ(fits.size(), 258u);
  const std::string cut = "C:\\x\\" + std::string(300, 'p') + "\\kavrel.exe";
  struct Case {
    std::string module_path;
    bool fails;
    fake::ModuleCut how;
    bool started;
    // The path as Windows holds it, when not the bytes. The initializer keeps
    // GCC from warning about the rows that leave it out.
    std::wstring held{};  // NOLINT(readability-redundant-member-init)
  };
  const Case cases[] = {
      {fits, false, fake::ModuleCut::kWithNul, true},
      {fits + "k", false, fake::ModuleCut::kWithNul, false},
      {fits + "k", false, fake::ModuleCut::kWithoutNul, false},
      {cut, false, fake::ModuleCut::kWithNul, false},
      {cut, false, fake::ModuleCut::kWithoutNul, false},
      {"C:\\setup\\kavrel.exe", true, fake::ModuleCut::kWithNul, false},
      // The code page put a look-alike in: another folder.
      {"C:\\Michal\\kavrel.exe", false, fake::ModuleCut::kWithNul, false,
       L"C:\\Micha\u0142\\kavrel.exe"},
  };
  for (const Case& c : cases) {
    fake::Reset();
    world.module_path = c.module_path;
    world.module_call_fails = c.fails;
    world.module_cut = c.how;
    world.module_path_held = c.held;
    StartInstaller();
    EXPECT_EQ(world.shell_executes.size(), c.started ? 1u : 0u) << c.module_path.size();
  }
}

}  // namespace
