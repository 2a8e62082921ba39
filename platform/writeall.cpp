#include "platform/writeall.h"

#include <unistd.h>

#include <cerrno>

bool WriteAll(int fd, const void* data, size_t size) {
  auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t n = write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}
