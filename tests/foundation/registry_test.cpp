// The per-user key-value store: types, buffer sizes, damaged files, atomic writes.
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/foundation/store_fixture.h"

namespace {

constexpr const char* Key = "SOFTWARE\\Sonivert";

RegResult SetText(const RegKey& key, const char* name, const std::string& text) {
  return RegSetValue(key, name, REG_SZ, text.data(), static_cast<uint32_t>(text.size()));
}

RegResult SetDword(const RegKey& key, const char* name, uint32_t v) {
  return RegSetValue(key, name, REG_DWORD, &v, 4);  // little-endian machine, as the callers' buffers
}

// Reads a value completely: its type and bytes.
RegResult Query(const RegKey& key, const char* name, uint32_t& type, std::string& data) {
  uint32_t size = 0;
  RegResult r = RegQueryValue(key, name, &type, nullptr, &size);
  if (r != RegOk) return r;
  data.assign(size, '\0');
  return RegQueryValue(key, name, &type, data.data(), &size);
}

// A valid store holding one key with a text and a number.
std::string ValidStore() {
  return "#sonivert-registry "
         "1\n[SOFTWARE\\Sonivert]\nTompgDir=sz:\"/opt/tompg/\"\nLayer=dword:00000001\n#end\n";
}

}  // namespace

TEST_F(StoreTest, StoreFileFollowsXdgConfigHomeAndFallsBackToHomeConfig) {
  EXPECT_EQ(RegistryStoreFile(), config_ + "/sonivert/registry.reg");
  setenv("XDG_CONFIG_HOME", (config_ + "///").c_str(), 1);
  EXPECT_EQ(RegistryStoreFile(), config_ + "/sonivert/registry.reg");
  // The XDG rules ignore a relative or empty value.
  for (const char* ignored : {"relative/dir", ""}) {
    setenv("XDG_CONFIG_HOME", ignored, 1);
    EXPECT_EQ(RegistryStoreFile(), home_ + "/.config/sonivert/registry.reg") << ignored;
  }
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(RegistryStoreFile(), home_ + "/.config/sonivert/registry.reg");
}

TEST_F(StoreTest, OpeningAMissingKeyFailsAndCreatesNothing) {
  RegKey key;
  EXPECT_EQ(RegOpenKey(Key, key), RegNotFound);
  EXPECT_FALSE(key.Open);
  EXPECT_FALSE(FileExists(config_)) << "an open must not create the store or its directory";

  ASSERT_EQ(RegCreateKey("SOFTWARE\\Other", key), RegOk);
  RegCloseKey(key);
  EXPECT_EQ(RegOpenKey(Key, key), RegNotFound) << "another key of the same store";
  EXPECT_EQ(RegOpenKey("SOFTWARE", key), RegOk) << "the parent of a stored key exists";
  RegCloseKey(key);
  EXPECT_EQ(RegOpenKey("SOFT", key), RegNotFound) << "a prefix of a key name is not its parent";
  EXPECT_EQ(RegOpenKey("", key), RegInvalidArgument);
}

TEST_F(StoreTest, CreateMakesDirectoryAndFileAndThenOpenSucceeds) {
  RegKey key;
  ASSERT_EQ(RegCreateKey(Key, key), RegOk);
  EXPECT_TRUE(key.Open);
  RegCloseKey(key);
  EXPECT_FALSE(key.Open);
  RegCloseKey(key);  // closing twice is harmless
  ASSERT_TRUE(FileExists(StorePath()));
  struct stat st {};
  ASSERT_EQ(stat(StorePath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "settings are private to the user";
  EXPECT_EQ(RegOpenKey("software\\SONIVERT", key), RegOk) << "key names ignore ASCII case";
  RegCloseKey(key);
}

TEST_F(StoreTest, ValuesKeepTheirTypeAndEveryByte) {
  RegKey key;
  ASSERT_EQ(RegCreateKey(Key, key), RegOk);
  std::string every;
  for (int i = 0; i < 256; ++i) every += static_cast<char>(i);
  const std::vector<std::string> texts = {"",
                                          "/home/ann/music/",
                                          "a=b \"quoted\" [x] #hash %41 back\\slash",
                                          "line one\nline two\r\n",
                                          "Gr\xC3\xBC\xC3\x9F"
                                          "e/\xE6\x97\xA5\xE6\x9C\xAC/",
                                          every,
                                          std::string(100000, 'x') + every};
  for (const std::string& text : texts) {
    ASSERT_EQ(SetText(key, "Text", text), RegOk);
    uint32_t type = REG_NONE;
    std::string back;
    ASSERT_EQ(Query(key, "Text", type, back), RegOk);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(back, text);
  }
  for (uint32_t v : {0u, 1u, 0x80000000u, 0xFFFFFFFFu, 0x12345678u}) {
    ASSERT_EQ(SetDword(key, "Number", v), RegOk);
    uint32_t type = REG_NONE, out = 0, size = 4;
    ASSERT_EQ(RegQueryValue(key, "Number", &type, &out, &size), RegOk);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(out, v);
  }
  // A value changes type when it is set with another type.
  ASSERT_EQ(SetText(key, "Number", "7"), RegOk);
  uint32_t type = REG_NONE;
  std::string back;
  ASSERT_EQ(Query(key, "Number", type, back), RegOk);
  EXPECT_EQ(type, REG_SZ);
  // Value names with syntax characters and names that differ only in case.
  ASSERT_EQ(SetText(key, "odd=name[\"#%]", "v"), RegOk);
  ASSERT_EQ(Query(key, "odd=name[\"#%]", type, back), RegOk);
  EXPECT_EQ(back, "v");
  ASSERT_EQ(Query(key, "TEXT", type, back), RegOk);
  EXPECT_EQ(back, texts.back());
  RegCloseKey(key);
  // Everything survives re-opening through a new handle.
  ASSERT_EQ(RegOpenKey(Key, key), RegOk);
  ASSERT_EQ(Query(key, "Text", type, back), RegOk);
  EXPECT_EQ(back, texts.back());
  RegCloseKey(key);
}

TEST_F(StoreTest, QueryIntoASmallBufferFailsWithMoreDataAndLeavesItUntouched) {
  RegKey key;
  ASSERT_EQ(RegCreateKey(Key, key), RegOk);
  ASSERT_EQ(SetText(key, "Dir", "0123456789"), RegOk);
  char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  uint32_t type = REG_NONE, size = 9;
  EXPECT_EQ(RegQueryValue(key, "Dir", &type, buffer, &size), RegMoreData);
  EXPECT_EQ(size, 10u) << "the needed size";
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(16, '#'));
  size = 10;  // an exact fit: no terminating zero is added
  EXPECT_EQ(RegQueryValue(key, "Dir", &type, buffer, &size), RegOk);
  EXPECT_EQ(std::string(buffer, 11), "0123456789#");
  size = 4;
  EXPECT_EQ(RegQueryValue(key, "Missing", &type, buffer, &size), RegNotFound);
  RegCloseKey(key);
  EXPECT_EQ(RegQueryValue(key, "Dir", &type, buffer, &size), RegInvalidArgument) << "closed handle";
}

TEST_F(StoreTest, SetRejectsBadArguments) {
  RegKey key;
  ASSERT_EQ(RegCreateKey(Key, key), RegOk);
  const uint32_t v = 1;
  EXPECT_EQ(RegSetValue(key, "N", REG_DWORD, &v, 2), RegInvalidArgument) << "a DWORD is 4 bytes";
  EXPECT_EQ(RegSetValue(key, "N", 3 /* REG_BINARY */, &v, 4), RegInvalidArgument);
  EXPECT_EQ(RegSetValue(key, "", REG_DWORD, &v, 4), RegInvalidArgument);
  EXPECT_EQ(RegSetValue(key, "N", REG_SZ, nullptr, 3), RegInvalidArgument);
  const std::string huge(RegMaxFileSize, 'x');
  EXPECT_EQ(SetText(key, "Huge", huge), RegWriteFailed) << "a store too large to read back is not written";
  RegKey closed;
  EXPECT_EQ(RegSetValue(closed, "N", REG_DWORD, &v, 4), RegInvalidArgument);
  RegCloseKey(key);
}

// A damaged store reads as "no key": every open fails, nothing crashes, and creating the key
// again gives a fresh, working store.
TEST_F(StoreTest, DamagedStoreReadsAsNoKey) {
  const std::string valid = ValidStore();
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>((i * 7919 + 13) & 0xFF);
  struct Row {
    const char* name;
    std::string content;
  };
  const std::vector<Row> rows = {
      {"empty", ""},
      {"garbage text", "hello world\nthis is not a store\n"},
      {"binary", binary},
      {"missing end line", valid.substr(0, valid.size() - 5)},
      {"cut inside the end line", valid.substr(0, valid.size() - 2)},
      {"cut inside a value", valid.substr(0, 50)},
      {"missing first line", valid.substr(21)},
      {"wrong version", "#sonivert-registry 2\n[SOFTWARE\\Sonivert]\n#end\n"},
      {"text after the end", valid + "Layer=dword:00000001\n"},
      {"value outside a key", "#sonivert-registry 1\nLayer=dword:00000001\n[SOFTWARE\\Sonivert]\n#end\n"},
      {"short dword", "#sonivert-registry 1\n[SOFTWARE\\Sonivert]\nLayer=dword:0000001\n#end\n"},
      {"non-hex dword", "#sonivert-registry 1\n[SOFTWARE\\Sonivert]\nLayer=dword:0000000G\n#end\n"},
      {"unknown type", "#sonivert-registry 1\n[SOFTWARE\\Sonivert]\nLayer=binary:00\n#end\n"},
      {"broken escape", "#sonivert-registry 1\n[SOFTWARE\\Sonivert]\nDir=sz:\"a%4\"\n#end\n"},
      {"escape at the end", "#sonivert-registry 1\n[SOFTWARE\\Sonivert]\nDir=sz:\"a%\"\n#end\n"},
      {"raw quote in text", "#sonivert-registry 1\n[SOFTWARE\\Sonivert]\nDir=sz:\"a\"b\"\n#end\n"},
      {"raw non-ASCII", "#sonivert-registry 1\n[SOFTWARE\\Sonivert]\nDir=sz:\"\xC3\xA9\"\n#end\n"},
      {"unterminated text", "#sonivert-registry 1\n[SOFTWARE\\Sonivert]\nDir=sz:\"abc\n#end\n"},
      {"duplicate key", "#sonivert-registry 1\n[SOFTWARE\\Sonivert]\n[software\\sonivert]\n#end\n"},
      {"duplicate value", "#sonivert-registry 1\n[SOFTWARE\\Sonivert]\nA=sz:\"1\"\na=sz:\"2\"\n#end\n"},
      {"empty key name", "#sonivert-registry 1\n[]\n#end\n"},
      {"carriage returns", "#sonivert-registry 1\r\n[SOFTWARE\\Sonivert]\r\n#end\r\n"},
      {"zero bytes", "#sonivert-registry 1\n[SOFTWARE\\Sonivert]\n" + std::string(3, '\0') + "\n#end\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::filesystem::create_directories(StoreDir());
    WriteFile(StorePath(), row.content);
    RegKey key;
    EXPECT_EQ(RegOpenKey(Key, key), RegNotFound);
    ASSERT_EQ(RegCreateKey(Key, key), RegOk);
    ASSERT_EQ(SetDword(key, "Layer", 2), RegOk);
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKey(Key, key), RegOk);
    uint32_t type = 0, v = 0, size = 4;
    EXPECT_EQ(RegQueryValue(key, "Layer", &type, &v, &size), RegOk);
    EXPECT_EQ(v, 2u);
    size = 4;
    EXPECT_EQ(RegQueryValue(key, "TompgDir", &type, nullptr, &size), RegNotFound)
        << "nothing of the damaged store survives into the new one";
    RegCloseKey(key);
  }
  // Every cut-off prefix of a valid store is damaged, not a smaller store.
  for (size_t n = 0; n < valid.size(); ++n) {
    WriteFile(StorePath(), valid.substr(0, n));
    RegKey key;
    EXPECT_EQ(RegOpenKey(Key, key), RegNotFound) << "prefix of " << n << " bytes";
  }
  WriteFile(StorePath(), valid);
  RegKey key;
  EXPECT_EQ(RegOpenKey(Key, key), RegOk) << "the valid store itself";
}

TEST_F(StoreTest, StoreThatIsNotAReadableSmallFileReadsAsNoKey) {
  std::filesystem::create_directories(StoreDir());
  RegKey key;
  // Larger than the store may be, even with a valid start.
  WriteFile(StorePath(), ValidStore(), RegMaxFileSize + 1);
  EXPECT_EQ(RegOpenKey(Key, key), RegNotFound);
  std::filesystem::remove(StorePath());
  // A directory in its place.
  std::filesystem::create_directory(StorePath());
  EXPECT_EQ(RegOpenKey(Key, key), RegNotFound);
  EXPECT_NE(RegCreateKey(Key, key), RegOk) << "a directory cannot be replaced by the store";
  std::filesystem::remove(StorePath());
  // A FIFO must not block the reader.
  ASSERT_EQ(mkfifo(StorePath().c_str(), 0600), 0);
  EXPECT_EQ(RegOpenKey(Key, key), RegNotFound);
  std::filesystem::remove(StorePath());
  // A store directory that is a file.
  std::filesystem::remove_all(StoreDir());
  WriteFile(StoreDir(), "x");
  EXPECT_EQ(RegOpenKey(Key, key), RegNotFound);
  EXPECT_EQ(RegCreateKey(Key, key), RegWriteFailed);
}

TEST_F(StoreTest, WritesLeaveNoTemporaryFilesAndAFailedWriteKeepsTheOldStore) {
  RegKey key;
  ASSERT_EQ(RegCreateKey(Key, key), RegOk);
  for (uint32_t i = 0; i < 20; ++i) ASSERT_EQ(SetDword(key, "Layer", i % 3), RegOk);
  ASSERT_EQ(SetText(key, "Dir", "/old/"), RegOk);
  EXPECT_EQ(ListDir(StoreDir()), "registry.reg registry.reg.lock");
  const std::string before = ReadFile(StorePath());

  RegFailNextWrites(1);
  EXPECT_EQ(SetText(key, "Dir", "/new/"), RegWriteFailed);
  EXPECT_EQ(ListDir(StoreDir()), "registry.reg registry.reg.lock")
      << "the half-written temporary file is removed";
  EXPECT_EQ(ReadFile(StorePath()), before);
  uint32_t type = 0;
  std::string back;
  ASSERT_EQ(Query(key, "Dir", type, back), RegOk);
  EXPECT_EQ(back, "/old/");

  ASSERT_EQ(SetText(key, "Dir", "/new/"), RegOk) << "only the next write was to fail";
  ASSERT_EQ(Query(key, "Dir", type, back), RegOk);
  EXPECT_EQ(back, "/new/");
  RegCloseKey(key);

  // A failed create of a new store leaves nothing behind either.
  std::filesystem::remove_all(StoreDir());
  RegFailNextWrites(1);
  EXPECT_EQ(RegCreateKey(Key, key), RegWriteFailed);
  EXPECT_FALSE(key.Open);
  EXPECT_EQ(ListDir(StoreDir()), "registry.reg.lock");
}

// The settings are saved as one batch: a batch with one bad value, or one whose save fails,
// changes none of the stored values.
TEST_F(StoreTest, ABatchOfValuesIsWrittenWholeOrNotAtAll) {
  RegKey key;
  ASSERT_EQ(RegCreateKey(Key, key), RegOk);
  ASSERT_EQ(SetText(key, "Dir", "/old/"), RegOk);
  const std::string before = ReadFile(StorePath());
  const uint32_t two = 2;
  const RegValueWrite badSize[] = {{"Dir", REG_SZ, "/new/", 5}, {"Layer", REG_DWORD, &two, 3}};
  EXPECT_EQ(RegSetValues(key, badSize, 2), RegInvalidArgument);
  const RegValueWrite good[] = {{"Dir", REG_SZ, "/new/", 5}, {"Layer", REG_DWORD, &two, 4}};
  RegFailNextWrites(1);
  EXPECT_EQ(RegSetValues(key, good, 2), RegWriteFailed);
  EXPECT_EQ(ReadFile(StorePath()), before);

  ASSERT_EQ(RegSetValues(key, good, 2), RegOk);
  uint32_t type = 0, v = 0, size = 4;
  std::string back;
  ASSERT_EQ(Query(key, "Dir", type, back), RegOk);
  EXPECT_EQ(back, "/new/");
  ASSERT_EQ(RegQueryValue(key, "Layer", &type, &v, &size), RegOk);
  EXPECT_EQ(v, 2u);
}

TEST_F(StoreTest, HandleOutlivesADeletedStore) {
  RegKey key;
  ASSERT_EQ(RegCreateKey(Key, key), RegOk);
  ASSERT_EQ(SetDword(key, "Layer", 1), RegOk);
  std::filesystem::remove(StorePath());
  uint32_t type = 0, v = 0, size = 4;
  EXPECT_EQ(RegQueryValue(key, "Layer", &type, &v, &size), RegNotFound);
  ASSERT_EQ(SetDword(key, "Bitrate", 3), RegOk) << "a set through an open handle recreates its key";
  RegKey again;
  ASSERT_EQ(RegOpenKey(Key, again), RegOk);
  EXPECT_EQ(RegQueryValue(again, "Bitrate", &type, &v, &size), RegOk);
  EXPECT_EQ(v, 3u);
}

// A store that exists but cannot be read is never replaced: every write to it fails and the file
// stays as it was.
TEST_F(StoreTest, UnreadableStoreIsNeverReplaced) {
  RegKey key;
  ASSERT_EQ(RegCreateKey(Key, key), RegOk);
  WriteFile(StorePath(), ValidStore());
  RegFailNextReads(1000);  // an I/O error; permissions cannot be tested as root
  RegKey again;
  EXPECT_EQ(RegCreateKey(Key, again), RegWriteFailed);
  EXPECT_EQ(SetDword(key, "Layer", 2), RegWriteFailed);
  RegFailNextReads(0);
  EXPECT_EQ(ReadFile(StorePath()), ValidStore());
}

// A damaged store that a save replaces is first moved aside, where the user can still read it; a
// second one never replaces the first kept aside.
TEST_F(StoreTest, DamagedStoresAreKeptBesideItWhenReplacedEachUnderANameOfItsOwn) {
  std::filesystem::create_directories(StoreDir());
  for (const char* aside : {".damaged", ".damaged.2"}) {
    WriteFile(StorePath(), ValidStore().substr(0, 60) + aside);
    RegKey key;
    ASSERT_EQ(RegCreateKey(Key, key), RegOk);
    EXPECT_EQ(RegOpenKey(Key, key), RegOk);
  }
  EXPECT_EQ(ReadFile(StorePath() + ".damaged") + ReadFile(StorePath() + ".damaged.2"),
            ValidStore().substr(0, 60) + ".damaged" + ValidStore().substr(0, 60) + ".damaged.2");
}

// A store that is a symbolic link (as dotfile managers make it) is written through: writes go to
// the target, and the link stays.
TEST_F(StoreTest, StoreThatIsALinkIsWrittenThrough) {
  std::filesystem::create_directories(StoreDir());
  std::filesystem::create_directories(home_ + "/dotfiles");
  WriteFile(home_ + "/dotfiles/sonivert.reg", ValidStore());
  std::filesystem::create_symlink("../../dotfiles/sonivert.reg", StorePath());
  RegKey key;
  ASSERT_EQ(RegCreateKey(Key, key), RegOk);
  ASSERT_EQ(SetDword(key, "Bitrate", 7), RegOk);
  EXPECT_TRUE(std::filesystem::is_symlink(StorePath()));
  const std::string text = ReadFile(home_ + "/dotfiles/sonivert.reg");
  EXPECT_NE(text.find("Bitrate=dword:00000007"), std::string::npos) << text;
  EXPECT_NE(text.find("TompgDir="), std::string::npos) << text;
  EXPECT_EQ(ListDir(home_ + "/dotfiles"), "sonivert.reg") << "a temporary file was left beside the target";
}

// Two processes saving at once lose none of each other's updates: each sets its own values several
// times over, and the last value of every one of them is there.
TEST_F(StoreTest, ConcurrentSavesLoseNoUpdate) {
  RegKey key;
  ASSERT_EQ(RegCreateKey(Key, key), RegOk);
  auto name = [](int process, int i) {
    return std::string(1, static_cast<char>('A' + process)) + std::to_string(i);
  };
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    if ((children[c] = fork()) == 0) {
      bool ok = true;
      for (uint32_t round = 0; round < 3; ++round)
        for (int i = 0; i < 40; ++i) {
          const std::string value = name(c, i);
          RegResult r = RegBusy;  // a busy store is tried again, as the window does
          while (r == RegBusy) r = SetDword(key, value.c_str(), round * 100 + i);
          ok = r == RegOk && ok;
        }
      _exit(ok ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0) << "a save failed";
  }
  for (int c = 0; c < 2; ++c)
    for (int i = 0; i < 40; ++i) {
      uint32_t type = 0, v = 0, size = 4;
      RegQueryValue(key, name(c, i).c_str(), &type, &v, &size);
      EXPECT_EQ(v, 200u + i) << name(c, i) << " lost";
    }
}

// What a process killed during a save leaves behind (the temporary names every writer of the
// program gives) is removed at the next save, and nothing else is.
TEST_F(StoreTest, TemporaryFilesOfDeadWritersAreRemovedAtTheNextSave) {
  RegKey key;
  ASSERT_EQ(RegCreateKey(Key, key), RegOk);
  for (const char* name : {"registry.reg.tmp-a1b2c3", "registry.reg.tmp-notmine", "other.reg.tmp-a1b2c3"})
    WriteFile(StoreDir() + "/" + name, "half a store");
  ASSERT_EQ(SetDword(key, "Layer", 1), RegOk);
  EXPECT_EQ(ListDir(StoreDir()),
            "other.reg.tmp-a1b2c3 registry.reg registry.reg.lock registry.reg.tmp-notmine");
}

// A load queried seven values and read the whole store file for each. A snapshot key reads it
// once, when it is opened, and answers every query from that one version.
TEST_F(StoreTest, SnapshotKeyAnswersFromTheOneReadOfItsOpen) {
  RegKey key, snapshot;
  ASSERT_EQ(RegCreateKey(Key, key), RegOk);
  ASSERT_EQ(SetDword(key, "Layer", 1), RegOk);
  ASSERT_EQ(RegOpenKeySnapshot(Key, snapshot), RegOk);
  ASSERT_EQ(SetDword(key, "Layer", 2), RegOk);
  const unsigned long reads = RegStoreReads();
  uint32_t type = 0, v = 0, size = 4;
  EXPECT_EQ(RegQueryValue(snapshot, "layer", &type, &v, &size), RegOk);
  EXPECT_EQ(v, 1u) << "the value when the key was opened";
  EXPECT_EQ(RegQueryValue(snapshot, "Missing", &type, &v, &size), RegNotFound);
  EXPECT_EQ(RegStoreReads(), reads);
  EXPECT_EQ(RegQueryValue(key, "Layer", &type, &v, &size), RegOk);
  EXPECT_EQ(v, 2u) << "a key opened without a snapshot reads the store at each query";
  EXPECT_EQ(RegOpenKeySnapshot("SOFT", snapshot), RegNotFound);
}
