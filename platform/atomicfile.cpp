#include "platform/atomicfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "platform/outputsignals.h"
#include "platform/paths.h"

namespace {

constexpr char TempInfix[] = ".tmp-";
constexpr size_t TempDigits = 6;
// The process id takes the digits above the two bits of attempt.
constexpr unsigned PidMask = 0x3FFFFF;

// Removes the leftovers beside finalPath: of the writer with `pid`, or of every writer.
int RemoveLeftovers(const std::string& finalPath, bool everyWriter, unsigned pid) {
  const size_t slash = finalPath.rfind('/');
  const std::string name = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
  const std::string prefix = name + TempInfix;
  DIR* dir = opendir(DirectoryOf(finalPath).c_str());
  if (dir == nullptr) return 0;
  int removed = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string candidate = entry->d_name;
    // Exactly the names CreateTemporaryFile gives; nothing else of that name is touched.
    if (candidate.size() != prefix.size() + TempDigits || candidate.compare(0, prefix.size(), prefix) != 0)
      continue;
    if (candidate.find_first_not_of("0123456789abcdef", prefix.size()) != std::string::npos) continue;
    const unsigned digits = static_cast<unsigned>(std::strtoul(candidate.c_str() + prefix.size(), nullptr, 16));
    if (!everyWriter && digits >> 2 != (pid & PidMask)) continue;
    struct stat st {};
    if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    if (unlinkat(dirfd(dir), entry->d_name, 0) == 0) ++removed;
  }
  closedir(dir);
  return removed;
}

}  // namespace

int CreateTemporaryFile(const std::string& finalPath, mode_t mode, std::string& tempPath,
                        int& cleanupSlot) {
  // The name is remembered for the signal handlers before the file exists: a process-directed
  // signal may be handled by another thread at any moment, also just after the open; should
  // that open have failed, the file of the name is a leftover or this process's own, never
  // another's.
  static std::atomic<unsigned> counter{0};
  tempPath.clear();
  cleanupSlot = -1;
  const unsigned pid = static_cast<unsigned>(getpid());
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    unsigned digits = pid << 2 | attempt;
    if (attempt >= 4) {
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      digits = static_cast<unsigned>(now.tv_nsec) ^ pid * 2654435761u ^ counter.fetch_add(1) * 40503u;
    }
    char suffix[32];
    snprintf(suffix, sizeof suffix, "%s%06x", TempInfix, digits & 0xFFFFFF);
    const std::string temp = finalPath + suffix;
    int slot = ArmSignalCleanup(temp);
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
    if (fd >= 0) {
      tempPath = temp;
      cleanupSlot = slot;
      return fd;
    }
    const int error = errno;
    DisarmSignalCleanup(slot);
    errno = error;
    if (error != EEXIST) return -1;
  }
  return -1;
}

bool SyncAndCloseTemporaryFile(int fd, FILE* stream) {
  bool ok = stream == nullptr || fflush(stream) == 0;
  int error = errno;
  if (ok && fsync(fd) != 0) {
    ok = false;
    error = errno;
  }
  // A failed close can mean that written data never reached the disk (NFS, quotas).
  if ((stream != nullptr ? fclose(stream) : close(fd)) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok) errno = error;
  return ok;
}

namespace {

// The temporary file has its name: it is no longer ours to remove, and the name is made durable.
bool TemporaryFilePlaced(std::string& tempPath, int& cleanupSlot, const std::string& finalPath) {
  DisarmSignalCleanup(cleanupSlot);
  tempPath.clear();
  // The file is in place: a directory that cannot be flushed leaves the new name to the file
  // system's own schedule, and is no reason to report the file as not written.
  const int dir = open(DirectoryOf(finalPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

}  // namespace

bool ReplaceWithTemporaryFile(std::string& tempPath, int& cleanupSlot, const std::string& finalPath) {
  if (rename(tempPath.c_str(), finalPath.c_str()) != 0) return false;
  return TemporaryFilePlaced(tempPath, cleanupSlot, finalPath);
}

bool PlaceTemporaryFile(std::string& tempPath, int& cleanupSlot, const std::string& finalPath) {
  if (!RenameWithoutReplacing(tempPath, finalPath)) return false;
  return TemporaryFilePlaced(tempPath, cleanupSlot, finalPath);
}

void RemoveTemporaryFile(std::string& tempPath, int& cleanupSlot) {
  const int saved = errno;
  if (!tempPath.empty()) unlink(tempPath.c_str());
  DisarmSignalCleanup(cleanupSlot);
  tempPath.clear();
  errno = saved;
}

int RemoveLeftoverTemporaryFiles(const std::string& finalPath, int writerPid) {
  return RemoveLeftovers(finalPath, false, static_cast<unsigned>(writerPid));
}

int RemoveEveryLeftoverTemporaryFile(const std::string& finalPath) {
  return RemoveLeftovers(finalPath, true, 0);
}
