// Test helper: builds bit streams most significant bit first, and loads main data into the
// decoder's ring.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "decoder/stages.h"

struct BitWriter {
  std::vector<uint8_t> Bytes;
  size_t BitCount = 0;

  void Put(uint32_t value, int n) {
    for (int i = n - 1; i >= 0; --i) {
      if (BitCount % 8 == 0) Bytes.push_back(0);
      if ((value >> i) & 1) Bytes.back() |= static_cast<uint8_t>(0x80 >> (BitCount % 8));
      ++BitCount;
    }
  }
  void PutCode(const char* bits) {
    for (const char* p = bits; *p; ++p) Put(*p == '1' ? 1 : 0, 1);
  }
  void PadTo(size_t bytes) {
    while (Bytes.size() < bytes) Bytes.push_back(0);
    BitCount = Bytes.size() * 8;
  }
};

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
  Decoder.Input = in.File;
  Decoder.RingWritePos = at;
  AppendMainData(static_cast<int>(bytes.size()));
  Decoder.Input = nullptr;
  Decoder.MainBitPos = at * 8;
}
