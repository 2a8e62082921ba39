// A walk over the chunks of a RIFF file (the Resource Interchange File Format of WAVE files):
// descend into the outer RIFF chunk, find a chunk by its identifier inside it, read from it.
// Reads go straight to an open file descriptor with pread; nothing is buffered or allocated.
//
// Every chunk is an 8-byte header (four-character identifier, 32-bit little-endian size) and its
// data, padded to an even length. A RIFF chunk's data begins with a four-character form type
// ("WAVE"). The walk never goes past the end of the file, whatever sizes the headers state.
#pragma once
#include <cstddef>
#include <cstdint>

// Four-character code as it reads in little-endian order from the file.
constexpr uint32_t FourCC(const char (&id)[5]) {
  return static_cast<uint32_t>(static_cast<unsigned char>(id[0])) |
         static_cast<uint32_t>(static_cast<unsigned char>(id[1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(id[2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(id[3])) << 24;
}

struct RiffChunk {
  uint32_t Id = 0;
  uint32_t Size = 0;        // as stated in the header
  uint64_t DataOffset = 0;  // file offset of the chunk's data (just past its header)
  uint32_t FormType = 0;    // RIFF chunks only
};

// An open file and the size it had when it was opened.
struct RiffFile {
  int Fd = -1;
  uint64_t FileSize = 0;
};

// The most chunks a search steps over before giving up: far more than any real WAVE file
// holds, few enough that a file of millions of empty chunks cannot stall the caller.
constexpr int RiffMaxChunksSearched = 65536;

// Reads exactly size bytes at offset; false at the end of the file or on a read error.
bool RiffRead(const RiffFile& file, uint64_t offset, void* data, size_t size);
// Reads the chunk at the start of the file; for a "RIFF" or "RF64" chunk also its form type.
bool RiffDescendRoot(const RiffFile& file, RiffChunk& chunk);
// Finds the first chunk with identifier id inside the data of parent (a RIFF chunk), searching
// from its first child. The search ends where the parent's stated size or the file ends,
// whichever comes first.
bool RiffFindChunk(const RiffFile& file, const RiffChunk& parent, uint32_t id, RiffChunk& chunk);
