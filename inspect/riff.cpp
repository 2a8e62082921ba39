#include "inspect/riff.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

uint32_t LittleEndian32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

bool ReadHeader(const RiffFile& file, uint64_t offset, RiffChunk& chunk) {
  unsigned char header[8];
  if (!RiffRead(file, offset, header, sizeof header)) return false;
  chunk = RiffChunk{};
  chunk.Id = LittleEndian32(header);
  chunk.Size = LittleEndian32(header + 4);
  chunk.DataOffset = offset + 8;
  return true;
}

}  // namespace

bool RiffRead(const RiffFile& file, uint64_t offset, void* data, size_t size) {
  if (file.Fd < 0 || offset > file.FileSize || size > file.FileSize - offset) return false;
  auto* out = static_cast<unsigned char*>(data);
  size_t got = 0;
  while (got < size) {
    const ssize_t n = pread(file.Fd, out + got, size - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

bool RiffDescendRoot(const RiffFile& file, RiffChunk& chunk) {
  if (!ReadHeader(file, 0, chunk)) return false;
  if (chunk.Id == FourCC("RIFF") || chunk.Id == FourCC("RF64")) {
    unsigned char form[4];
    if (!RiffRead(file, chunk.DataOffset, form, sizeof form)) return false;
    chunk.FormType = LittleEndian32(form);
  }
  return true;
}

bool RiffFindChunk(const RiffFile& file, const RiffChunk& parent, uint32_t id, RiffChunk& chunk) {
  // Offsets in 64 bits: a stated size near 4 GiB must not wrap around.
  const uint64_t end = std::min(parent.DataOffset + parent.Size, file.FileSize);
  uint64_t pos = parent.DataOffset + 4;  // past the form type
  for (int searched = 0; searched < RiffMaxChunksSearched && pos + 8 <= end; ++searched) {
    RiffChunk child;
    if (!ReadHeader(file, pos, child)) return false;
    if (child.Id == id) {
      chunk = child;
      return true;
    }
    pos = child.DataOffset + child.Size + (child.Size & 1);
  }
  return false;
}
