// Streamed reading of a RIFF WAVE file with PCM samples (8-bit unsigned, 16/24/32-bit signed,
// little-endian, one or two channels). Memory use is constant whatever the file's length.
#pragma once

#include <cstdint>

struct WavSource {
  int fd = -1;
  int channels = 0;         // 1 or 2
  int sampleRate = 0;       // samples per second per channel
  int bitsPerSample = 0;    // as declared by the format chunk
  int bytesPerSample = 0;   // container size: 1..4
  int blockAlign = 0;       // bytes per sample frame
  uint64_t dataOffset = 0;  // file offset of the first sample byte
  uint32_t dataSize = 0;    // size of the data chunk, cut to what the file holds
  uint32_t consumed = 0;    // data bytes read so far
};

enum class WavOpenResult {
  Ok,
  ReadError,   // the file cannot be read
  NotPcmWave,  // not RIFF WAVE, no format or data chunk, not PCM, or a layout we cannot code
};

// Walks the chunks of the file open on fd (any order, odd sizes padded) and fills source.
WavOpenResult WavOpen(int fd, WavSource& source);

// Reads up to maxFrames sample frames as float (full scale 1.0), interleaved as in the file.
// Returns the number of whole frames read, 0 at the end of the data, -1 on a read error. When the
// end is reached, a trailing partial frame is counted as consumed and dropped.
long WavRead(WavSource& source, float* samples, long maxFrames);
