// libFuzzer entry for the settings store's parser: the input bytes are the contents of a store
// file. A store that parses must write back (as a save would) to a text that parses to the same
// store, else a load and save would change the user's settings. A store that parses is also put
// in place as the user's store file and read the way the settings are loaded: the key opened as a
// snapshot, each value queried into the loader's buffers; the sizes reported must agree with the
// results, and a key opened to read the file at each query must answer exactly as the snapshot.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/registry.h"

namespace {

void Fail(const char* what) {
  fprintf(stderr, "settings store: %s\n", what);
  abort();
}

std::string Home;

// The store leaves its lock file (and may leave a kept damaged copy) beside itself, so the whole
// folder goes.
void RemoveHome() {
  std::error_code ignored;
  std::filesystem::remove_all(Home, ignored);
}

// A configuration folder of this process's own, so the user's store is never touched.
const std::string& StoreFile() {
  static const std::string file = [] {
    char dir[] = "/tmp/registry-fuzz-XXXXXX";
    if (!mkdtemp(dir)) abort();
    Home = dir;
    atexit(RemoveHome);
    if (setenv("XDG_CONFIG_HOME", dir, 1) != 0 || mkdir((Home + "/sonivert").c_str(), 0700) != 0) abort();
    return RegistryStoreFile();
  }();
  return file;
}

// One query into a loader's buffer of `capacity` bytes, with a guard byte past it that shows a
// write beyond the size offered.
struct Answer {
  RegResult Result;
  uint32_t Type;
  uint32_t Size;
  unsigned char Bytes[501];
};

Answer Query(const RegKey& key, const char* name, uint32_t capacity) {
  Answer a{};
  memset(a.Bytes, 0xA5, sizeof a.Bytes);
  a.Type = 0xFFFF;
  a.Size = capacity;
  a.Result = RegQueryValue(key, name, &a.Type, a.Bytes, &a.Size);
  if (a.Bytes[capacity] != 0xA5) Fail("a query wrote past the buffer it was given");
  return a;
}

void LoadLikeTheSettings(const std::string& text) {
  const std::string& file = StoreFile();
  FILE* f = fopen(file.c_str(), "wb");
  if (!f || fwrite(text.data(), 1, text.size(), f) != text.size() || fclose(f) != 0) abort();
  RegKey key, live;
  const RegResult opened = RegOpenKeySnapshot("SOFTWARE\\Sonivert", key);
  if (opened != RegOpenKey("SOFTWARE\\Sonivert", live)) Fail("a snapshot and a key opened differently");
  if (opened != RegOk) return;
  static const char* const Names[] = {"TompgDir",    "DestinationDir", "SourceDir", "Layer",
                                      "ChannelMode", "Bitrate",        "Flags"};
  for (int i = 0; i < 7; i++) {
    const uint32_t capacity = i < 3 ? 500 : 4;
    const Answer a = Query(key, Names[i], capacity);
    const RegResult r = a.Result;
    if (r == RegOk && (a.Size > capacity || (a.Type != REG_SZ && a.Type != REG_DWORD) ||
                       (a.Type == REG_DWORD && a.Size != 4)))
      Fail("a query succeeded with an impossible size or type");
    if (r == RegMoreData && a.Size <= capacity) Fail("more data reported for a value that fits");
    if (r != RegOk && r != RegMoreData && r != RegNotFound)
      Fail("a query of a readable store failed otherwise");
    const Answer b = Query(live, Names[i], capacity);
    if (b.Result != r || (r != RegNotFound && (b.Type != a.Type || b.Size != a.Size)) ||
        memcmp(a.Bytes, b.Bytes, sizeof a.Bytes) != 0)
      Fail("a snapshot answered otherwise than the store file");
  }
  RegCloseKey(key);
  RegCloseKey(live);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string canonical;
  if (!RegParseStoreText(text, canonical)) {
    if (!canonical.empty()) Fail("a damaged store gave a text back");
    return 0;
  }
  if (canonical.size() > text.size()) Fail("the written store is longer than the one read");
  std::string again;
  if (!RegParseStoreText(canonical, again)) Fail("a store as written does not read back");
  if (again != canonical) Fail("a store read back and written again changed");
  LoadLikeTheSettings(text);
  return 0;
}
