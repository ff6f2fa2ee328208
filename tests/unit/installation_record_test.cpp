#include "launcher/installation_record.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/fake_platform/fake_platform.h"

namespace {

using fake::Bytes;

class InstallationRecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    world.open_status = platform::kSuccess;
    world.values = {{"setuppath", fake::Text("C:\\Apps\\X")},
                    {"appfile", fake::Text("run.exe")},
                    {"version", fake::Dword(5)}};
  }

  bool Read() {
    memset(&record, 0x5A, sizeof record);  // whatever the stack held before
    key = nullptr;
    return ReadInstallationRecord(&record, &key, &key_opened);
  }

  fake::World& world = fake::TheWorld();
  InstallationRecord record;
  platform::RegistryKey key = nullptr;
  bool key_opened = false;
};

TEST_F(InstallationRecordTest, OpensTheKeyForReadingInThe32BitView) {
  ASSERT_TRUE(Read());
  ASSERT_EQ(world.opens.size(), 1u);
  EXPECT_EQ(world.opens[0].root, platform::RegistryRoot::kLocalMachine);
  EXPECT_EQ(world.opens[0].subkey, "Software\\Merolt_01\\Pimbalo");
  EXPECT_EQ(world.opens[0].options, 0u);
  // KEY_READ; a 64-bit build adds the flag that selects the 32-bit view.
  const uint32_t access = world.opens[0].access;
  EXPECT_EQ(access & ~platform::kKeyWow64_32Key, platform::kKeyRead);
  EXPECT_EQ((access & platform::kKeyWow64_32Key) != 0, sizeof(void*) > 4);
  EXPECT_TRUE(key_opened);
  EXPECT_EQ(key, fake::OpenedKey());
}

TEST_F(InstallationRecordTest, ReadsTheThreeValuesInOrderEachBoundedByItsDestination) {
  ASSERT_TRUE(Read());
  ASSERT_EQ(world.queries.size(), 3u);
  const char* names[] = {"setuppath", "appfile", "version"};
  const uint32_t sizes[] = {260, 260, 4};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(world.queries[i].name, names[i]);
    EXPECT_EQ(world.queries[i].size_given, sizes[i]);
    EXPECT_EQ(world.queries[i].key, fake::OpenedKey());
    EXPECT_TRUE(world.queries[i].reserved_is_null);
  }
  EXPECT_STREQ(record.setuppath, "C:\\Apps\\X");
  EXPECT_STREQ(record.appfile, "run.exe");
  EXPECT_EQ(record.version, 5u);
}

TEST_F(InstallationRecordTest, TextValuesAreTakenAsStoredOrRefusedWhenTheyMayBeCut) {
  struct Case {
    Bytes stored;
    bool complete;
    std::string read;
    // What Windows holds in UTF-16, when not the bytes. The initializer keeps
    // GCC from warning about the rows that leave it out.
    std::wstring held{};  // NOLINT(readability-redundant-member-init)
    uint32_t type = platform::kRegSz;
  };
  const Case cases[] = {
      {fake::Text("D:\\Pimbalo"), true, "D:\\Pimbalo"},
      // A look-alike that the code page put for a character it lacks.
      {fake::Text("D:\\Michal"), false, "", L"D:\\Micha\u0142"},
      // A value of another type is not converted, so it is taken as it is.
      {fake::Text("D:\\Michal"), true, "D:\\Michal", L"D:\\Micha\u0142", 3 /* REG_BINARY */},
      // A multi-string is converted too.
      {fake::Text("D:\\Michal"), false, "", L"D:\\Micha\u0142", platform::kRegMultiSz},
      // Converted back, only the beginning of what Windows holds.
      {fake::Text("D:\\Micha"), false, "", L"D:\\Micha\u0142"},
      {fake::TextWithoutNul("D:\\Pimbalo"), true, "D:\\Pimbalo"},
      {fake::Text(""), true, ""},
      {Bytes{}, true, ""},
      {fake::Text("%ProgramFiles%\\P"), true, "%ProgramFiles%\\P"},  // not expanded
      {fake::Text(std::string(259, 'a')), true, std::string(259, 'a')},
      {fake::TextWithoutNul(std::string(259, 'a')), true, std::string(259, 'a')},
      {fake::TextWithoutNul(std::string(260, 'a')), false, ""},  // fills it, no NUL
      {fake::Text(std::string(260, 'a')), false, ""},            // 261 bytes
      {fake::Text(std::string(4000, 'a')), false, ""},
      {Bytes{'a', 0, 'b', 0}, true, "a"},
  };
  for (const Case& c : cases) {
    for (const char* name : {"setuppath", "appfile"}) {
      SetUp();
      world.values[name] = c.stored;
      if (!c.held.empty()) world.held[name] = c.held;
      world.types[name] = c.type;
      EXPECT_EQ(Read(), c.complete) << name << " of " << c.stored.size() << " bytes";
      const bool setuppath = std::string(name) == "setuppath";
      const char* text = setuppath ? record.setuppath : record.appfile;
      if (c.complete) {
        EXPECT_EQ(std::string(text), c.read);
      }
      // The status kavrel-explain tells: refused as not exact, or as cut.
      const platform::Status refused =
          c.held.empty() ? platform::kErrorMoreData : platform::kErrorNoUnicodeTranslation;
      EXPECT_EQ(setuppath ? record.setuppath_status : record.appfile_status,
                c.complete ? platform::kSuccess : refused)
          << name;
      EXPECT_EQ(world.queries.size(), 3u);
    }
  }
}

TEST_F(InstallationRecordTest, VersionIsALittleEndianNumberOfUpToFourBytes) {
  struct Case {
    Bytes stored;
    bool complete;
    uint32_t version;
  };
  const Case cases[] = {
      {fake::Dword(0), true, 0},
      {fake::Dword(0xFFFFFFFF), true, 0xFFFFFFFF},
      {fake::Dword(0x01020304), true, 0x01020304},
      {Bytes{0x34, 0x12}, true, 0x1234},
      {Bytes{0x07}, true, 7},
      {Bytes{0x01, 0x02, 0x03}, true, 0x030201},
      {Bytes{}, true, 0},
      {Bytes{1, 0, 0, 0, 0, 0, 0, 0}, false, 0},  // a QWORD does not fit
      {fake::Text("5"), true, '5'},               // the type is not examined
  };
  for (const Case& c : cases) {
    SetUp();
    world.values["version"] = c.stored;
    EXPECT_EQ(Read(), c.complete) << c.stored.size() << " bytes";
    if (c.complete) {
      EXPECT_EQ(record.version, c.version);
    }
  }
}

// Every read is made, whatever happened to the one before, and the record is
// complete only when all three succeeded.
TEST_F(InstallationRecordTest, AllThreeReadsAreMadeWhateverTheEarlierOutcome) {
  const char* names[] = {"setuppath", "appfile", "version"};
  const platform::Status failures[] = {platform::kErrorFileNotFound, 5 /* access denied */,
                                       platform::kErrorMoreData};
  for (size_t i = 0; i < 3; ++i) {
    const char* name = names[i];
    for (platform::Status failure : failures) {
      SetUp();
      world.query_status[name] = failure;
      EXPECT_FALSE(Read()) << name << " " << failure;
      const platform::Status statuses[] = {record.setuppath_status, record.appfile_status,
                                           record.version_status};
      EXPECT_EQ(statuses[i], failure) << name;
      EXPECT_EQ(world.queries.size(), 3u);
      EXPECT_TRUE(key_opened);
    }
  }
}

TEST_F(InstallationRecordTest, MissingKeyIsReportedAndNothingIsRead) {
  for (platform::Status status : {platform::kErrorFileNotFound, 5}) {
    SetUp();
    world.open_status = status;
    EXPECT_FALSE(Read());
    EXPECT_FALSE(key_opened);
    EXPECT_TRUE(world.queries.empty());
  }
}

}  // namespace
