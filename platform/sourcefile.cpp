// Opening a source: non-blocking to look, blocking again to read.
#include "platform/sourcefile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

int OpenSourceDescriptor(const char* path, struct stat& st) {
  // Non-blocking, so that a FIFO without a writer is refused instead of waited for.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return -1;
  st = {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return -1;
  }
  // A regular file ignores the flag; it is cleared all the same, so that nobody who reads the
  // descriptor later meets EAGAIN should that ever change.
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

FILE* OpenSourceFile(const char* path) {
  struct stat st {};
  const int fd = OpenSourceDescriptor(path, st);
  if (fd < 0) return nullptr;
  FILE* stream = fdopen(fd, "rb");
  if (stream == nullptr) close(fd);
  return stream;
}

size_t ReadSourceAt(int fd, uint64_t offset, void* buffer, size_t n) {
  auto* out = static_cast<unsigned char*>(buffer);
  size_t got = 0;
  while (got < n) {
    const ssize_t r = pread(fd, out + got, n - got, static_cast<off_t>(offset + got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  return got;
}

void CloseSourceDescriptor(int fd) { close(fd); }
