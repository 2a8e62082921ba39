// Outputs are written through the shared writer of atomicfile.h; what is theirs alone is the
// output written in place, the write protection they respect and the rule for an existing file.
#include "platform/outputfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/atomicfile.h"
#include "platform/paths.h"

namespace {

std::atomic<OutputReplaceRule> ReplaceRule{ReplaceExisting};

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

// A device or a FIFO has nothing on a disk to flush or to replace: it is closed, and done.
bool CommitInPlace(PendingOutput& out) {
  bool ok = out.Stream == nullptr || fflush(out.Stream) == 0;
  int error = errno;
  if (!CloseOutput(out) && ok) {
    ok = false;
    error = errno;
  }
  if (!ok) errno = error;
  return ok;
}

}  // namespace

void SetOutputReplaceRule(OutputReplaceRule rule) { ReplaceRule = rule; }

bool OutputKeptByRule(const char* path) {
  struct stat st {};
  return ReplaceRule == KeepExisting && lstat(path, &st) == 0;
}

int TakeNoClobberOption(int argc, char** argv) {
  int given = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-n") == 0 || std::strcmp(argv[i], "--no-clobber") == 0)
      SetOutputReplaceRule(KeepExisting);
    else
      argv[given++] = argv[i];
  }
  return given;
}

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
  // Mode 0666 through the umask, as a file made by fopen gets.
  out.Fd = CreateTemporaryFile(out.FinalPath, 0666, out.TempPath, out.CleanupSlot);
  return out.Fd >= 0;
}

bool OpenPendingOutputStream(PendingOutput& out) {
  if (out.Fd < 0) return false;
  out.Stream = fdopen(out.Fd, "wb");
  return out.Stream != nullptr;
}

bool CommitPendingOutput(PendingOutput& out) {
  if (out.TempPath.empty()) return CommitInPlace(out);
  bool ok = out.Fd < 0 || SyncAndCloseTemporaryFile(out.Fd, out.Stream);
  int error = errno;
  out.Stream = nullptr;
  out.Fd = -1;
  if (ok && !(ReplaceRule == KeepExisting ? PlaceTemporaryFile(out.TempPath, out.CleanupSlot, out.FinalPath)
                                           : ReplaceWithTemporaryFile(out.TempPath, out.CleanupSlot, out.FinalPath))) {
    ok = false;
    error = errno;
    out.ExistingKept = ReplaceRule == KeepExisting && error == EEXIST;
  }
  if (ok) return true;
  errno = error;
  RemoveTemporaryFile(out.TempPath, out.CleanupSlot);
  return false;
}

void DiscardPendingOutput(PendingOutput& out) {
  CloseOutput(out);
  RemoveTemporaryFile(out.TempPath, out.CleanupSlot);
}

bool RemoveNewOutput(const std::string& path, const FileIdentity& before) {
  const std::string target = FollowLinks(path);
  const FileIdentity now = IdentityOf(target);
  return now.Regular && !SameIdentity(now, before) && unlink(target.c_str()) == 0;
}

int RemoveLeftoverOutputs(const std::string& path, int writerPid) {
  return RemoveLeftoverTemporaryFiles(FollowLinks(path), writerPid);
}
