// Settings: defaults, loading rules, saving, the source directory.
#include "model/settings.h"

#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/foundation/store_fixture.h"

namespace {

class SettingsTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    oldCwd_ = cwd;
    startDir_ = home_ + "/start";
    std::filesystem::create_directory(startDir_);
    ASSERT_EQ(chdir(startDir_.c_str()), 0);
    SetDefaultSettings();
  }
  void TearDown() override {
    ASSERT_EQ(chdir(oldCwd_.c_str()), 0);
    StoreTest::TearDown();
  }

  // Stores raw values the way another program (or an older version) might have left them.
  void StoreText(const char* name, const std::string& text) {
    RegKey key;
    ASSERT_EQ(RegCreateKey(SettingsKeyPath, key), RegOk);
    ASSERT_EQ(RegSetValue(key, name, REG_SZ, text.data(), static_cast<uint32_t>(text.size())), RegOk);
    RegCloseKey(key);
  }
  void StoreNumber(const char* name, uint32_t v) {
    RegKey key;
    ASSERT_EQ(RegCreateKey(SettingsKeyPath, key), RegOk);
    ASSERT_EQ(RegSetValue(key, name, REG_DWORD, &v, 4), RegOk);
    RegCloseKey(key);
  }
  bool Stored(const char* name, uint32_t& type, std::string& data) {
    RegKey key;
    if (RegOpenKey(SettingsKeyPath, key) != RegOk) return false;
    char buffer[4096];
    uint32_t size = sizeof buffer;
    const bool ok = RegQueryValue(key, name, &type, buffer, &size) == RegOk;
    if (ok) data.assign(buffer, size);
    RegCloseKey(key);
    return ok;
  }
  void ExpectDefaults() {
    EXPECT_STREQ(AppSettings.TompgDir, (startDir_ + "/").c_str());
    EXPECT_EQ(AppSettings.DestinationDir, startDir_ + "/");
    EXPECT_EQ(AppSettings.Layer, 2);
    EXPECT_EQ(AppSettings.ChannelMode, 1);
    EXPECT_EQ(AppSettings.Bitrate, 5);
    EXPECT_EQ(AppSettings.Flags, 1u);
  }

  std::string oldCwd_;
  std::string startDir_;
};

}  // namespace

TEST_F(SettingsTest, FirstRunKeepsDefaultsAndWritesNothing) {
  ExpectDefaults();
  std::string source = "untouched";
  EXPECT_FALSE(LoadSettings(source));
  EXPECT_EQ(source, "untouched");
  ExpectDefaults();
  EXPECT_FALSE(FileExists(config_)) << "loading must not create the store";
}

TEST_F(SettingsTest, DefaultsOfAStartDirectoryTooLongForTompgDirAreNotCutOff) {
  std::string deep = startDir_;
  while (deep.size() < 320) deep += "/" + std::string(40, 'd');
  std::filesystem::create_directories(deep);
  ASSERT_EQ(chdir(deep.c_str()), 0);
  SetDefaultSettings();
  EXPECT_STREQ(AppSettings.TompgDir, "");
  EXPECT_EQ(AppSettings.DestinationDir, deep + "/");
  // The root directory keeps its single slash.
  ASSERT_EQ(chdir("/"), 0);
  SetDefaultSettings();
  EXPECT_STREQ(AppSettings.TompgDir, "/");
  EXPECT_EQ(AppSettings.DestinationDir, "/");
}

TEST_F(SettingsTest, SaveThenLoadRoundTripsEveryField) {
  std::strcpy(AppSettings.TompgDir, "/opt/tompg dir/\xC3\xA9/");
  AppSettings.DestinationDir = "/srv/out \"x\"=y\n/";
  AppSettings.Layer = 0;
  AppSettings.ChannelMode = 3;
  AppSettings.Bitrate = 11;
  AppSettings.Flags = 2;
  SaveSettings();
  const Settings saved = AppSettings;

  SetDefaultSettings();
  std::string source;
  EXPECT_FALSE(LoadSettings(source)) << "SaveSettings does not write SourceDir";
  EXPECT_STREQ(AppSettings.TompgDir, saved.TompgDir);
  EXPECT_EQ(AppSettings.DestinationDir, saved.DestinationDir);
  EXPECT_EQ(AppSettings.Layer, 0);
  EXPECT_EQ(AppSettings.ChannelMode, 3);
  EXPECT_EQ(AppSettings.Bitrate, 11);
  EXPECT_EQ(AppSettings.Flags, 2u);

  // Stored with their types and texts without a terminating zero.
  uint32_t type = 0;
  std::string data;
  ASSERT_TRUE(Stored("TompgDir", type, data));
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(data, std::string(saved.TompgDir));
  ASSERT_TRUE(Stored("Layer", type, data));
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(data, std::string("\0\0\0\0", 4));
  ASSERT_TRUE(Stored("Flags", type, data));
  EXPECT_EQ(data, std::string("\2\0\0\0", 4));
  EXPECT_FALSE(Stored("SourceDir", type, data));
}

TEST_F(SettingsTest, ValuesOfTheWrongTypeAreIgnored) {
  StoreText("Layer", "1");
  StoreText("ChannelMode", "0");
  StoreText("Bitrate", "3");
  StoreText("Flags", "0");
  StoreNumber("TompgDir", 0x2F);  // "/" as a number
  StoreNumber("DestinationDir", 0x2F);
  StoreNumber("SourceDir", 0x2F);
  std::string source;
  EXPECT_FALSE(LoadSettings(source));
  ExpectDefaults();
  // One good value among wrong ones still loads.
  StoreNumber("Bitrate", 7);
  EXPECT_FALSE(LoadSettings(source));
  EXPECT_EQ(AppSettings.Bitrate, 7);
  EXPECT_EQ(AppSettings.Layer, 2);
}

TEST_F(SettingsTest, TextsLoadOnlyWhenTheyFitWithTheirTerminatingZero) {
  struct Row {
    const char* name;
    size_t length;
    bool loads;
  };
  const std::vector<Row> rows = {
      {"DestinationDir", 0, true},     {"DestinationDir", 499, true}, {"DestinationDir", 500, false},
      {"DestinationDir", 5000, false}, {"TompgDir", 299, true},       {"TompgDir", 300, false},
      {"TompgDir", 499, false},        {"TompgDir", 500, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.name) + " of " + std::to_string(row.length));
    SetDefaultSettings();
    const std::string value = row.length == 0 ? "" : "/" + std::string(row.length - 1, 'x');
    StoreText(row.name, value);
    std::string source;
    LoadSettings(source);
    const std::string got = std::strcmp(row.name, "TompgDir") == 0 ? std::string(AppSettings.TompgDir)
                                                                   : AppSettings.DestinationDir;
    EXPECT_EQ(got, row.loads ? value : startDir_ + "/");
    std::filesystem::remove_all(config_);
  }
  // A DestinationDir longer than TompgDir: both load.
  SetDefaultSettings();
  StoreText("TompgDir", "/t/");
  StoreText("DestinationDir", "/" + std::string(450, 'd') + "/");
  std::string source;
  LoadSettings(source);
  EXPECT_STREQ(AppSettings.TompgDir, "/t/");
  EXPECT_EQ(AppSettings.DestinationDir.size(), 452u);
}

TEST_F(SettingsTest, NumbersOutsideTheirTablesAreNotLoaded) {
  struct Row {
    const char* name;
    uint32_t stored;
    int32_t expected;  // what the field holds afterwards
  };
  const std::vector<Row> rows = {
      {"Layer", 0, 0},
      {"Layer", 2, 2},
      {"Layer", 3, 2},
      {"Layer", 0xFFFFFFFF, 2},
      {"ChannelMode", 3, 3},
      {"ChannelMode", 4, 1},
      {"ChannelMode", 0x80000000, 1},
      {"Bitrate", 0, 0},
      {"Bitrate", 11, 11},
      {"Bitrate", 12, 5},
      {"Bitrate", 0xFFFFFFF5, 5},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.name) + " = " + std::to_string(row.stored));
    SetDefaultSettings();
    StoreNumber(row.name, row.stored);
    std::string source;
    LoadSettings(source);
    const int32_t got = std::strcmp(row.name, "Layer") == 0         ? AppSettings.Layer
                        : std::strcmp(row.name, "ChannelMode") == 0 ? AppSettings.ChannelMode
                                                                    : AppSettings.Bitrate;
    EXPECT_EQ(got, row.expected);
  }
}

TEST_F(SettingsTest, FlagsKeepBitsWithoutMeaning) {
  StoreNumber("Flags", 0xFFFF0002u);
  std::string source;
  LoadSettings(source);
  EXPECT_EQ(AppSettings.Flags, 0xFFFF0002u);
  StoreNumber("Flags", 0);
  LoadSettings(source);
  EXPECT_EQ(AppSettings.Flags, 0u);
}

TEST_F(SettingsTest, DamagedStoreGivesDefaults) {
  std::string binary;
  for (int i = 0; i < 1000; ++i) binary += static_cast<char>(i * 37);
  const std::string truncated =
      "#sonivert-registry 1\n[SOFTWARE\\Sonivert]\nLayer=dword:00000000\nBitrate=dword:0000";
  for (const std::string& content : {std::string("garbage\n"), truncated, binary}) {
    std::filesystem::create_directories(StoreDir());
    WriteFile(StorePath(), content);
    SetDefaultSettings();
    std::string source;
    EXPECT_FALSE(LoadSettings(source));
    ExpectDefaults();
  }
  // Saving replaces the damaged store with a good one.
  AppSettings.Layer = 1;
  SaveSettings();
  SetDefaultSettings();
  std::string source;
  LoadSettings(source);
  EXPECT_EQ(AppSettings.Layer, 1);
}

TEST_F(SettingsTest, SourceDirIsStoredWithOneTrailingSlash) {
  struct Row {
    std::string given;
    std::string stored;
  };
  const std::vector<Row> rows = {
      {startDir_, startDir_ + "/"},
      {startDir_ + "/", startDir_ + "/"},
      {"/", "/"},
      {"/no/such/dir", "/no/such/dir/"},
  };
  for (const Row& row : rows) {
    SaveSourceDir(row.given);
    uint32_t type = 0;
    std::string data;
    ASSERT_TRUE(Stored("SourceDir", type, data));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(data, row.stored) << row.given;
  }
  // An empty directory text is not stored.
  SaveSourceDir("");
  uint32_t type = 0;
  std::string data;
  ASSERT_TRUE(Stored("SourceDir", type, data));
  EXPECT_EQ(data, "/no/such/dir/");
  // Saving the source directory leaves the other settings alone, and SaveSettings leaves it.
  AppSettings.Bitrate = 9;
  SaveSettings();
  SaveSourceDir("/");
  std::string source;
  SetDefaultSettings();
  EXPECT_TRUE(LoadSettings(source));
  EXPECT_EQ(AppSettings.Bitrate, 9);
  EXPECT_EQ(source, "/");
}

TEST_F(SettingsTest, StoredSourceDirIsGivenOnlyWhileItExists) {
  const std::string music = home_ + "/music";
  std::filesystem::create_directory(music);
  SaveSourceDir(music);
  std::string source;
  EXPECT_TRUE(LoadSettings(source));
  EXPECT_EQ(source, music + "/");

  std::filesystem::remove(music);
  source = "untouched";
  EXPECT_FALSE(LoadSettings(source)) << "a directory that is gone is not applied";
  EXPECT_EQ(source, "untouched");

  WriteFile(music, "now a file");
  EXPECT_FALSE(LoadSettings(source)) << "a file is not a directory";
  EXPECT_EQ(source, "untouched");
}

// LoadSettings read the whole store file once per value, eight times for one load, and could mix
// two versions of it. It reads it once.
TEST_F(SettingsTest, LoadReadsTheStoreOnce) {
  SaveSettings();
  SaveSourceDir(startDir_);
  std::string source;
  const unsigned long before = RegStoreReads();
  EXPECT_TRUE(LoadSettings(source));
  EXPECT_EQ(RegStoreReads() - before, 1u);
}
