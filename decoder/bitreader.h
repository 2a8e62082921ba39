// Inline bit access to the header buffer and the main-data ring (ISO/IEC 11172-3, 2.4.2),
// private to decoder/. Every read is one unaligned big-endian load and shifts.
#pragma once
#include <cstdint>
#include <cstring>

#include "decoder/layer3.h"

constexpr uint32_t RingSize = 4096;
constexpr uint32_t RingBitMask = RingSize * 8 - 1;  // bit positions wrap at 32768

inline uint32_t LoadBigEndian32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return __builtin_bswap32(v);
}

// The n bits (1..25) at bit position pos of the ring. A window that starts in ring bytes
// 4093..4095 reads on into the copy of the ring's first bytes behind it, so no wrap test.
inline uint32_t RingPeek(uint32_t pos, int n) {
  uint32_t window = LoadBigEndian32(Decoder.MainDataRing + ((pos >> 3) & (RingSize - 1)));
  return (window << (pos & 7)) >> (32 - n);
}
