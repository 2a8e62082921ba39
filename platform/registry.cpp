#include "platform/registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/paths.h"
#include "platform/writeall.h"

namespace {

constexpr std::string_view FirstLine = "#sonivert-registry 1";
constexpr std::string_view LastLine = "#end";

std::atomic<int> FailWrites{0};
std::atomic<int> FailReads{0};

struct StoredValue {
  std::string Name;
  uint32_t Type = REG_NONE;
  std::string Data;
};

struct StoredKey {
  std::string Path;
  std::vector<StoredValue> Values;
};

// The whole store as read from its file.
struct Store {
  std::vector<StoredKey> Keys;
};

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// Bytes that never appear raw in the file: the escape itself, the syntax characters, control
// bytes (a newline would end the line) and everything outside ASCII.
bool MustEscape(unsigned char c) {
  return c < 0x20 || c >= 0x7F || c == '%' || c == '"' || c == '=' || c == '[' || c == ']' || c == '#';
}

void AppendEscaped(std::string& out, std::string_view text) {
  static const char Hex[] = "0123456789ABCDEF";
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (MustEscape(c)) {
      out += '%';
      out += Hex[c >> 4];
      out += Hex[c & 15];
    } else {
      out += ch;
    }
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// False when the text holds a raw byte that must be escaped or a broken escape.
bool Unescape(std::string_view text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '%') {
      if (i + 2 >= text.size()) return false;
      const int hi = HexDigit(text[i + 1]);
      const int lo = HexDigit(text[i + 2]);
      if (hi < 0 || lo < 0) return false;
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else if (MustEscape(c)) {
      return false;
    } else {
      out += static_cast<char>(c);
    }
  }
  return true;
}

StoredKey* FindKey(Store& store, std::string_view path) {
  for (StoredKey& k : store.Keys)
    if (SameName(k.Path, path)) return &k;
  return nullptr;
}

// A key exists when it has a section of its own or is the parent of one that has.
bool KeyExists(const Store& store, std::string_view path) {
  for (const StoredKey& k : store.Keys) {
    if (SameName(k.Path, path)) return true;
    if (k.Path.size() > path.size() && k.Path[path.size()] == '\\' &&
        SameName(std::string_view(k.Path).substr(0, path.size()), path))
      return true;
  }
  return false;
}

StoredValue* FindValue(StoredKey& key, std::string_view name) {
  for (StoredValue& v : key.Values)
    if (SameName(v.Name, name)) return &v;
  return nullptr;
}

bool ParseDword(std::string_view text, std::string& data) {
  if (text.size() != 8) return false;
  uint32_t v = 0;
  for (char c : text) {
    const int d = HexDigit(c);
    if (d < 0) return false;
    v = v * 16 + static_cast<uint32_t>(d);
  }
  data.resize(4);
  for (int i = 0; i < 4; ++i) data[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return true;
}

bool ParseValueLine(std::string_view line, StoredValue& value) {
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos || eq == 0) return false;
  if (!Unescape(line.substr(0, eq), value.Name) || value.Name.empty()) return false;
  const std::string_view rest = line.substr(eq + 1);
  if (rest.starts_with("dword:")) {
    value.Type = REG_DWORD;
    return ParseDword(rest.substr(6), value.Data);
  }
  if (rest.starts_with("sz:\"") && rest.size() >= 5 && rest.back() == '"') {
    value.Type = REG_SZ;
    return Unescape(rest.substr(4, rest.size() - 5), value.Data);
  }
  return false;
}

// Parses the file text; false when it breaks any rule of the format.
bool ParseStore(std::string_view text, Store& store) {
  store.Keys.clear();
  size_t pos = 0;
  bool first = true;
  bool ended = false;
  while (pos < text.size()) {
    const size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) return false;  // the last line lacks its line end: cut off
    const std::string_view line = text.substr(pos, nl - pos);
    pos = nl + 1;
    if (ended) return false;  // anything after the end line
    if (first) {
      if (line != FirstLine) return false;
      first = false;
      continue;
    }
    if (line == LastLine) {
      ended = true;
      continue;
    }
    if (line.empty()) continue;
    if (line.front() == '[') {
      if (line.size() < 3 || line.back() != ']') return false;
      StoredKey key;
      if (!Unescape(line.substr(1, line.size() - 2), key.Path)) return false;
      if (FindKey(store, key.Path)) return false;
      store.Keys.push_back(std::move(key));
      continue;
    }
    if (store.Keys.empty()) return false;  // a value outside any key
    StoredValue value;
    if (!ParseValueLine(line, value)) return false;
    if (FindValue(store.Keys.back(), value.Name)) return false;
    store.Keys.back().Values.push_back(std::move(value));
  }
  return ended;
}

std::string SerializeStore(const Store& store) {
  std::string out;
  out += FirstLine;
  out += '\n';
  for (const StoredKey& key : store.Keys) {
    out += '[';
    AppendEscaped(out, key.Path);
    out += "]\n";
    for (const StoredValue& v : key.Values) {
      AppendEscaped(out, v.Name);
      if (v.Type == REG_DWORD) {
        static const char Hex[] = "0123456789ABCDEF";
        uint32_t n = 0;
        for (int i = 3; i >= 0; --i)
          n = (n << 8) | static_cast<unsigned char>(v.Data[static_cast<size_t>(i)]);
        out += "=dword:";
        for (int shift = 28; shift >= 0; shift -= 4) out += Hex[(n >> shift) & 15];
      } else {
        out += "=sz:\"";
        AppendEscaped(out, v.Data);
        out += '"';
      }
      out += '\n';
    }
  }
  out += LastLine;
  out += '\n';
  return out;
}

// What a read of the store found.
enum StoreState {
  StoreLoaded,      // a valid store, parsed
  StoreMissing,     // no file: a new store may be made
  StoreDamaged,     // a file that breaks the format or is too large: read as no keys
  StoreUnreadable,  // a file that cannot be read (its permissions, an I/O error, not a
                    // regular file): read as no keys, and never replaced, so nothing is lost
};

// Reads and parses the store file. Anything but StoreLoaded leaves the store empty.
StoreState LoadStore(const std::string& file, Store& store) {
  store.Keys.clear();
  if (file.empty()) return StoreMissing;
  // Non-blocking, so that a FIFO put in the store's place cannot hang the program.
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? StoreMissing : StoreUnreadable;
  struct stat st {};
  StoreState state = StoreLoaded;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0)
    state = StoreUnreadable;
  else if (static_cast<uint64_t>(st.st_size) > RegMaxFileSize)
    state = StoreDamaged;
  std::string text;
  if (state == StoreLoaded) {
    text.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < text.size()) {
      ssize_t n = read(fd, text.data() + got, text.size() - got);
      if (FailReads.load() > 0) {
        FailReads.fetch_sub(1);
        n = -1;
        errno = EIO;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        state = StoreUnreadable;
        break;
      }
      if (n == 0) break;
      got += static_cast<size_t>(n);
    }
    // A file that changed size while being read is taken as what was read; the parser then
    // sees a complete store or a cut-off one.
    text.resize(got);
  }
  close(fd);
  if (state == StoreLoaded && !ParseStore(text, store)) state = StoreDamaged;
  if (state != StoreLoaded) store.Keys.clear();  // nothing of a damaged store is used
  return state;
}

// Creates the directory and its missing parents (user-only access for new ones).
bool MakeDirs(const std::string& dir) {
  struct stat st {};
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const std::string parent = DirectoryOf(dir);
  if (parent != dir && !MakeDirs(parent)) return false;
  return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

// Writes the store to a temporary file beside the store file, flushes it to disk and renames
// it over the store, so readers see either the old or the new store, never a mixture.
bool SaveStore(const std::string& file, const Store& store) {
  if (file.empty()) return false;
  const std::string text = SerializeStore(store);
  if (text.size() > RegMaxFileSize) return false;
  const std::string dir = DirectoryOf(file);
  std::string temp = file + ".tmp-XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok;
  if (FailWrites.load() > 0) {
    FailWrites.fetch_sub(1);
    WriteAll(fd, text.data(), text.size() / 2);
    ok = false;
  } else {
    ok = WriteAll(fd, text.data(), text.size()) && fsync(fd) == 0;
  }
  if (close(fd) != 0) ok = false;
  if (ok && rename(temp.c_str(), file.c_str()) != 0) ok = false;
  if (!ok) {
    unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable.
  const int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return true;
}

// Removes the temporary files that writers killed during a save left beside `file`. Called with
// the lock held, so no living writer's file is among them.
void RemoveDeadTemporaries(const std::string& file) {
  const std::string dir = DirectoryOf(file);
  const std::string prefix = file.substr(file.rfind('/') + 1) + ".tmp-";
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return;
  while (const dirent* e = readdir(d)) {
    const std::string_view name = e->d_name;
    // The names mkostemp makes: the prefix and six characters.
    if (name.size() == prefix.size() + 6 && name.starts_with(prefix)) unlinkat(dirfd(d), e->d_name, 0);
  }
  closedir(d);
}

// Moves a damaged store aside to `.damaged` beside it before it is replaced, so the user can
// still read it. Readers see no difference meanwhile: a damaged store reads as no keys, as a
// missing one does.
bool KeepDamagedStore(const std::string& target) {
  return rename(target.c_str(), (target + ".damaged").c_str()) == 0;
}

// Holds the exclusive advisory lock on the lock file beside the store. Waits for another
// process's save for at most a few seconds: a writer that hangs with the lock must not hang us.
int LockStore(const std::string& file) {
  const std::string lockFile = file + ".lock";
  const int fd = open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
  if (fd < 0) return -1;
  int pauseMs = 1;
  for (int waitedMs = 0; waitedMs < 5000; waitedMs += pauseMs) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    usleep(static_cast<useconds_t>(pauseMs) * 1000);
    if (pauseMs < 16) pauseMs *= 2;
  }
  close(fd);
  return -1;
}

// One read-modify-write of the store, under the lock: `change` edits the store read from disk
// and says whether there is anything to write. A symbolic link at the store's name is written
// through: its target is replaced, the link stays. A store that cannot be read is never
// replaced; a damaged one is kept aside first.
template <typename Change>
RegResult ModifyStore(const std::string& file, Change change) {
  if (file.empty() || !MakeDirs(DirectoryOf(file))) return RegWriteFailed;
  const int lock = LockStore(file);
  if (lock < 0) return RegWriteFailed;
  const std::string target = FollowLinks(file);
  if (target != file && !MakeDirs(DirectoryOf(target))) {
    close(lock);
    return RegWriteFailed;
  }
  RemoveDeadTemporaries(file);
  if (target != file) RemoveDeadTemporaries(target);
  Store store;
  const StoreState state = LoadStore(target, store);
  RegResult result = RegOk;
  if (state == StoreUnreadable) {
    result = RegWriteFailed;
  } else if (change(store)) {
    if (state == StoreDamaged && !KeepDamagedStore(target))
      result = RegWriteFailed;
    else if (!SaveStore(target, store))
      result = RegWriteFailed;
  }
  close(lock);  // releases the lock
  return result;
}

bool ValidName(const char* name) { return name != nullptr && name[0] != '\0'; }

}  // namespace

std::string RegistryStoreFile() {
  std::string base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    std::string h = (home != nullptr && home[0] == '/') ? home : "";
    if (h.empty()) {
      const passwd* pw = getpwuid(getuid());
      if (pw != nullptr && pw->pw_dir != nullptr && pw->pw_dir[0] == '/') h = pw->pw_dir;
    }
    if (h.empty()) return "";
    base = h + "/.config";
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  if (base == "/") base.clear();
  return base + "/sonivert/registry.reg";
}

bool RegParseStoreText(const std::string& text, std::string& canonical) {
  Store store;
  canonical.clear();
  if (text.size() > RegMaxFileSize || !ParseStore(text, store)) return false;
  canonical = SerializeStore(store);
  return true;
}

RegResult RegOpenKey(const char* path, RegKey& key) {
  key = RegKey{};
  if (!ValidName(path)) return RegInvalidArgument;
  const std::string file = RegistryStoreFile();
  Store store;
  if (LoadStore(file, store) != StoreLoaded || !KeyExists(store, path)) return RegNotFound;
  key.Open = true;
  key.StoreFile = file;
  key.Path = path;
  return RegOk;
}

RegResult RegCreateKey(const char* path, RegKey& key) {
  key = RegKey{};
  if (!ValidName(path)) return RegInvalidArgument;
  const std::string file = RegistryStoreFile();
  // A damaged store is replaced by a fresh one that holds only this key.
  const RegResult made = ModifyStore(file, [path](Store& store) {
    if (KeyExists(store, path)) return false;
    store.Keys.push_back(StoredKey{path, {}});
    return true;
  });
  if (made != RegOk) return made;
  key.Open = true;
  key.StoreFile = file;
  key.Path = path;
  return RegOk;
}

RegResult RegQueryValue(const RegKey& key, const char* name, uint32_t* type, void* data, uint32_t* size) {
  if (!key.Open || !ValidName(name) || size == nullptr) return RegInvalidArgument;
  Store store;
  if (LoadStore(key.StoreFile, store) != StoreLoaded) return RegNotFound;
  StoredKey* k = FindKey(store, key.Path);
  StoredValue* v = k ? FindValue(*k, name) : nullptr;
  if (v == nullptr) return RegNotFound;
  if (type != nullptr) *type = v->Type;
  const uint32_t capacity = *size;
  *size = static_cast<uint32_t>(v->Data.size());
  if (data == nullptr) return RegOk;
  if (v->Data.size() > capacity) return RegMoreData;
  std::memcpy(data, v->Data.data(), v->Data.size());
  return RegOk;
}

RegResult RegSetValue(const RegKey& key, const char* name, uint32_t type, const void* data, uint32_t size) {
  const RegValueWrite value{name, type, data, size};
  return RegSetValues(key, &value, 1);
}

RegResult RegSetValues(const RegKey& key, const RegValueWrite* values, int count) {
  if (!key.Open || values == nullptr || count < 1) return RegInvalidArgument;
  for (int i = 0; i < count; ++i) {
    const RegValueWrite& w = values[i];
    if (!ValidName(w.Name)) return RegInvalidArgument;
    if (w.Type != REG_SZ && w.Type != REG_DWORD) return RegInvalidArgument;
    if (w.Type == REG_DWORD && w.Size != 4) return RegInvalidArgument;
    if (w.Data == nullptr && w.Size != 0) return RegInvalidArgument;
    if (w.Size > RegMaxFileSize) return RegWriteFailed;
  }
  return ModifyStore(key.StoreFile, [&](Store& store) {
    StoredKey* k = FindKey(store, key.Path);
    if (k == nullptr) {
      // The key went away (store deleted or damaged meanwhile): the handle brings it back.
      store.Keys.push_back(StoredKey{key.Path, {}});
      k = &store.Keys.back();
    }
    for (int i = 0; i < count; ++i) {
      const RegValueWrite& w = values[i];
      StoredValue* v = FindValue(*k, w.Name);
      if (v == nullptr) {
        k->Values.push_back(StoredValue{w.Name, REG_NONE, {}});
        v = &k->Values.back();
      }
      v->Type = w.Type;
      if (w.Size == 0)
        v->Data.clear();
      else
        v->Data.assign(static_cast<const char*>(w.Data), w.Size);
    }
    return true;
  });
}

void RegCloseKey(RegKey& key) { key = RegKey{}; }

void RegFailNextWrites(int count) { FailWrites.store(count < 0 ? 0 : count); }

void RegFailNextReads(int count) { FailReads.store(count < 0 ? 0 : count); }
