// Test helpers of the decoder's stages: an input stream over bytes, and main data loaded into the
// decoder's ring. Bit streams are built with tests/support's BitWriter.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "decoder/stages.h"
#include "tests/support/frames.h"

// A read-only stream over a copy of bytes (fmemopen); closes itself.
struct MemoryInput {
  std::vector<uint8_t> Data;
  FILE* File = nullptr;
  // fmemopen needs a buffer even for an empty stream: one spare byte, never read.
  explicit MemoryInput(const std::vector<uint8_t>& bytes) : Data(bytes.size() + 1, 0) {
    std::copy(bytes.begin(), bytes.end(), Data.begin());
    File = fmemopen(Data.data(), bytes.size(), "rb");
  }
  ~MemoryInput() {
    if (File) fclose(File);
  }
};

// Puts bytes into the ring at write position at, through AppendMainData, and sets
// MainBitPos to the first of them.
inline void LoadMainData(const std::vector<uint8_t>& bytes, uint32_t at) {
  MemoryInput in(bytes);
  OpenInput(in.File);
  Decoder.RingWritePos = at;
  AppendMainData(static_cast<int>(bytes.size()));
  OpenInput(nullptr);
  Decoder.MainBitPos = at * 8;
}
