// The store's file. Reads take no lock: the file is only ever replaced whole by rename, so a
// reader sees one complete version. Writes lock, read, change and replace.
#include "platform/registry_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "platform/atomicfile.h"
#include "platform/paths.h"
#include "platform/writeall.h"

namespace {

std::atomic<int> FailWrites{0};
std::atomic<int> FailReads{0};
std::atomic<unsigned long> StoreReads{0};

// Creates the directory and its missing parents (user-only access for new ones).
bool MakeDirs(const std::string& dir) {
  struct stat st {};
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const std::string parent = DirectoryOf(dir);
  if (parent != dir && !MakeDirs(parent)) return false;
  return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

// Writes the store through the program's one writer, so readers see either the old or the new
// store, never a mixture. Mode 0600 through the umask: settings are private to the user.
bool SaveStore(const std::string& file, const Store& store) {
  if (file.empty()) return false;
  const std::string text = SerializeStore(store);
  if (text.size() > RegMaxFileSize) return false;
  std::string temp;
  int cleanupSlot = -1;
  const int fd = CreateTemporaryFile(file, 0600, temp, cleanupSlot);
  if (fd < 0) return false;
  bool ok;
  if (FailWrites.load() > 0) {
    FailWrites.fetch_sub(1);
    WriteAll(fd, text.data(), text.size() / 2);
    close(fd);
    ok = false;
    errno = ENOSPC;  // as a full disk would say
  } else {
    ok = WriteAll(fd, text.data(), text.size());
    if (!SyncAndCloseTemporaryFile(fd, nullptr)) ok = false;
  }
  if (ok && ReplaceWithTemporaryFile(temp, cleanupSlot, file)) return true;
  RemoveTemporaryFile(temp, cleanupSlot);
  return false;
}

// Moves a damaged store aside to `.damaged` beside it before it is replaced, so the user can
// still read it; where one is kept already, to `.damaged.2`, `.damaged.3` and so on, never over
// another. Readers see no difference meanwhile: a damaged store reads as no keys, as a missing
// one does.
bool KeepDamagedStore(const std::string& target) {
  for (int n = 1; n <= 1000; ++n) {
    std::string aside = target + ".damaged";
    if (n > 1) aside.append(1, '.').append(std::to_string(n));
    if (RenameWithoutReplacing(target, aside)) return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

// Holds the exclusive advisory lock on the lock file beside the store. Waits for another
// process's save for at most RegLockWaitMs: a writer that hangs with the lock must not hang us.
// -1 with errno EWOULDBLOCK when the lock stayed taken.
int LockStore(const std::string& file) {
  const std::string lockFile = file + ".lock";
  const int fd = open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
  if (fd < 0) return -1;
  int pauseMs = 1;
  for (int waitedMs = 0; waitedMs <= RegLockWaitMs; waitedMs += pauseMs) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    usleep(static_cast<useconds_t>(pauseMs) * 1000);
    if (pauseMs < 16) pauseMs *= 2;
  }
  const int error = errno;
  close(fd);
  errno = error;
  return -1;
}

// A store that cannot be read: closes it, leaving errno at the reason.
StoreState Unreadable(int fd, int error) {
  close(fd);
  errno = error;
  return StoreUnreadable;
}

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

StoreState LoadStore(const std::string& file, Store& store) {
  store.Keys.clear();
  if (file.empty()) return StoreMissing;
  StoreReads.fetch_add(1);
  // Non-blocking, so that a FIFO put in the store's place cannot hang the program.
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? StoreMissing : StoreUnreadable;
  struct stat st {};
  if (fstat(fd, &st) != 0) return Unreadable(fd, errno);
  // Not a file: errno tells a user why it is never read nor replaced.
  if (!S_ISREG(st.st_mode) || st.st_size < 0) return Unreadable(fd, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
  StoreState state = StoreLoaded;
  if (static_cast<uint64_t>(st.st_size) > RegMaxFileSize) state = StoreDamaged;
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
      if (n < 0) return Unreadable(fd, errno);
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

// A symbolic link at the store's name is written through: its target is replaced, the link stays.
// A store that cannot be read is never replaced; a damaged one is kept aside first.
RegResult ModifyStore(const std::string& file, const std::function<bool(Store&)>& change) {
  if (file.empty() || !MakeDirs(DirectoryOf(file))) return RegWriteFailed;
  const int lock = LockStore(file);
  if (lock < 0) return errno == EWOULDBLOCK ? RegBusy : RegWriteFailed;
  const std::string target = FollowLinks(file);
  if (target != file && !MakeDirs(DirectoryOf(target))) {
    close(lock);
    return RegWriteFailed;
  }
  // With the lock held, every temporary file of the store is a killed writer's.
  RemoveEveryLeftoverTemporaryFile(file);
  if (target != file) RemoveEveryLeftoverTemporaryFile(target);
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
  const int error = errno;
  close(lock);  // releases the lock
  errno = error;
  return result;
}

void RegFailNextWrites(int count) { FailWrites.store(count < 0 ? 0 : count); }

void RegFailNextReads(int count) { FailReads.store(count < 0 ? 0 : count); }

unsigned long RegStoreReads() { return StoreReads.load(); }
