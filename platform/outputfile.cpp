// Outputs written under a temporary name in the destination's directory.
#include "platform/outputfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "platform/files.h"
#include "platform/outputsignals.h"
#include "platform/paths.h"

namespace {

// Removes the temporary file, keeping the errno of the failure that led here.
void RemoveTemp(PendingOutput& out) {
  const int saved = errno;
  if (!out.TempPath.empty()) {
    unlink(out.TempPath.c_str());
    DisarmSignalCleanup();
  }
  errno = saved;
}

// Closes the stream or the descriptor; false when the close (the last flush) failed.
bool CloseOutput(PendingOutput& out) {
  bool ok = true;
  if (out.Stream != nullptr) {
    ok = fclose(out.Stream) == 0;
  } else if (out.Fd >= 0) {
    ok = close(out.Fd) == 0;
  }
  out.Stream = nullptr;
  out.Fd = -1;
  return ok;
}

}  // namespace

bool CreatePendingOutput(const char* path, PendingOutput& out) {
  out = PendingOutput{};
  out.FinalPath = FollowLinks(path);
  struct stat st {};
  if (stat(out.FinalPath.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      errno = EISDIR;
      return false;
    }
    if (!S_ISREG(st.st_mode)) {
      // A device or a FIFO: written in place. Non-blocking open: a FIFO without a reader fails.
      out.Fd = open(out.FinalPath.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
      if (out.Fd < 0) return false;
      const int flags = fcntl(out.Fd, F_GETFL);
      if (flags >= 0) fcntl(out.Fd, F_SETFL, flags & ~O_NONBLOCK);
      return true;
    }
    // A write-protected output stays protected, as it did when it was opened for writing.
    if (faccessat(AT_FDCWD, out.FinalPath.c_str(), W_OK, AT_EACCESS) != 0) return false;
  }
  // Mode 0666 through the umask, as a file made by fopen gets. The name is six hexadecimal
  // digits, the form leftovers are recognised by: first the process id (below 2^22, the kernel's
  // limit) and two bits of attempt, so that no other running process of the machine (many
  // encoders at once on one folder) ever draws it. Such a name exists already only when an
  // ended process of the same id left it, or another thread of this process made the same output;
  // after four of those the digits mix the clock, the id and a counter instead. The name is
  // remembered for the signal handlers before the file exists: a process-directed signal may be
  // handled by another thread at any moment, also just after the open; should that open have
  // failed, the file of the name is a leftover or this process's own, never another's.
  static std::atomic<unsigned> counter{0};
  const unsigned pid = static_cast<unsigned>(getpid());
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    unsigned digits = pid << 2 | attempt;
    if (attempt >= 4) {
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      digits = static_cast<unsigned>(now.tv_nsec) ^ pid * 2654435761u ^ counter.fetch_add(1) * 40503u;
    }
    char suffix[32];
    snprintf(suffix, sizeof suffix, ".tmp-%06x", digits & 0xFFFFFF);
    const std::string temp = out.FinalPath + suffix;
    ArmSignalCleanup(temp);
    out.Fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (out.Fd >= 0) {
      out.TempPath = temp;
      return true;
    }
    const int error = errno;
    DisarmSignalCleanup();
    errno = error;
    if (error != EEXIST) return false;
  }
  return false;
}

bool OpenPendingOutputStream(PendingOutput& out) {
  if (out.Fd < 0) return false;
  out.Stream = fdopen(out.Fd, "wb");
  return out.Stream != nullptr;
}

bool CommitPendingOutput(PendingOutput& out) {
  bool ok = true;
  if (out.Stream != nullptr && fflush(out.Stream) != 0) ok = false;
  int error = errno;
  // A failed close can mean that written data never reached the disk (NFS, quotas).
  if (!CloseOutput(out) && ok) {
    ok = false;
    error = errno;
  }
  // A file the output replaces goes to the trash first, so that no earlier result is lost to
  // a new one; where no trash can be made it is replaced as it always was. A trash that refuses
  // it fails the output instead: the old file stays.
  struct stat existing {};
  if (ok && !out.TempPath.empty() && lstat(out.FinalPath.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) &&
      TrashBeforeReplace(out.FinalPath) == TrashFailed) {
    ok = false;
    error = errno;
    out.TrashRefused = true;
  }
  if (ok && !out.TempPath.empty() && rename(out.TempPath.c_str(), out.FinalPath.c_str()) != 0) {
    ok = false;
    error = errno;
  }
  if (ok) {
    DisarmSignalCleanup();
    out.TempPath.clear();
    return true;
  }
  errno = error;
  RemoveTemp(out);
  out.TempPath.clear();
  return false;
}

void DiscardPendingOutput(PendingOutput& out) {
  CloseOutput(out);
  RemoveTemp(out);
  out.TempPath.clear();
}

int RemoveLeftoverOutputs(const std::string& path, int writerPid) {
  const std::string finalPath = FollowLinks(path);
  const size_t slash = finalPath.rfind('/');
  const std::string name = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
  const std::string prefix = name + ".tmp-";
  DIR* dir = opendir(DirectoryOf(finalPath).c_str());
  if (dir == nullptr) return 0;
  int removed = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string candidate = entry->d_name;
    // The suffix is six hexadecimal digits, the writer's process id and two bits of attempt;
    // nothing else of that name is touched.
    if (candidate.size() != prefix.size() + 6 || candidate.compare(0, prefix.size(), prefix) != 0) continue;
    if (candidate.find_first_not_of("0123456789abcdef", prefix.size()) != std::string::npos) continue;
    const unsigned digits = static_cast<unsigned>(std::strtoul(candidate.c_str() + prefix.size(), nullptr, 16));
    if (digits >> 2 != (static_cast<unsigned>(writerPid) & 0x3FFFFF)) continue;
    struct stat st {};
    if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    if (unlinkat(dirfd(dir), entry->d_name, 0) == 0) ++removed;
  }
  closedir(dir);
  return removed;
}
