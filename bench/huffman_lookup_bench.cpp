// Huffman look-up benchmark: decodes the same random bit stream (random bits give every code word
// its design probability 2^-length) with a copy of the decoder's FindEntry (4-bit prefix, then a
// binary search) and with a two-level look-up table built from the same HuffmanTables (8-bit
// first level; a second level per 8-bit prefix that starts longer code words). Mode 2 checks that
// both give the same (x, y, length) for every window. A proposal for the decoder, measured alone.
//
//   g++ -std=c++20 -O2 -I. bench/huffman_lookup_bench.cpp build/decoder/libsonivert_decoder_tables.a
//       -o /tmp/huffman_lookup_bench
//   /tmp/huffman_lookup_bench 2; /tmp/huffman_lookup_bench 0; /tmp/huffman_lookup_bench 1
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include "decoder/tables/huffman_tables.h"

// The decoder's search (decoder/huffman.cpp), copied so that both run on the same input.
static inline uint32_t FindEntry(const HuffmanTable& t, uint32_t P) {
  const uint32_t* E = t.Entries;
  const uint32_t p = P >> 15;
  const uint32_t aligned = P << 13;
  uint32_t k = t.FirstIndex[p];
  uint32_t e = E[k];
  uint32_t len = (e >> 8) & 31;
  if ((static_cast<uint64_t>(e ^ aligned) >> (32 - len)) == 0) return e;
  if (p == 15) return 0xFFFFFFFFu;
  uint32_t n = static_cast<uint32_t>(t.FirstIndex[p + 1]) - k;
  const uint32_t key = aligned | 511;
  k += n / 2;
  n -= n / 2;
  while (n > 1) {
    const uint32_t h = n / 2;
    const uint32_t below = 0u - static_cast<uint32_t>(E[k] < key);
    k = k - h + (below & (2 * h));
    n -= h;
  }
  e = E[k];
  len = (e >> 8) & 31;
  if ((static_cast<uint64_t>(e ^ key) >> (32 - len)) == 0) return e;
  return e > key ? E[k - 1] : E[k + 1];
}

// First level: 2^PB entries indexed by the next PB bits. Entry (16 bits): bit 15 clear: length in
// bits 8..12, x in bits 4..7, y in bits 0..3. Bit 15 set: bits 0..14 = offset of the second-level
// table of that prefix, whose index width is secWidth[prefix].
constexpr int PB = 8;
struct Lut {
  std::vector<uint16_t> primary;     // 1 << PB
  std::vector<uint16_t> secondary;
  std::vector<uint8_t> secWidth;     // per primary slot
};
static Lut Luts[32];

static void BuildLut(int t) {
  const HuffmanTable& h = HuffmanTables[t];
  Lut& L = Luts[t];
  L.primary.assign(1 << PB, 0);
  L.secWidth.assign(1 << PB, 0);
  // max length per primary prefix
  std::vector<int> maxlen(1 << PB, 0);
  for (int i = 0; i < h.EntryCount; i++) {
    uint32_t e = h.Entries[i]; int len = (e >> 8) & 31;
    if (len > PB) { uint32_t pre = e >> (32 - PB); if (len > maxlen[pre]) maxlen[pre] = len; }
  }
  for (int pre = 0; pre < (1 << PB); pre++)
    if (maxlen[pre]) {
      int w = maxlen[pre] - PB; L.secWidth[pre] = w;
      L.primary[pre] = 0x8000 | L.secondary.size();
      L.secondary.resize(L.secondary.size() + (1u << w), 0);
    }
  for (int i = 0; i < h.EntryCount; i++) {
    uint32_t e = h.Entries[i]; int len = (e >> 8) & 31;
    uint16_t v = uint16_t(len << 8 | (e & 0xFF));
    if (len <= PB) {
      uint32_t pre = (e >> (32 - PB)) & ~((1u << (PB - len)) - 1);
      for (uint32_t k = 0; k < (1u << (PB - len)); k++) L.primary[pre | k] = v;
    } else {
      uint32_t pre = e >> (32 - PB); int w = L.secWidth[pre];
      uint32_t base = L.primary[pre] & 0x7FFF;
      uint32_t sub = (e << PB) >> (32 - w);
      int rem = w - (len - PB);
      sub &= ~((1u << rem) - 1);
      for (uint32_t k = 0; k < (1u << rem); k++) L.secondary[base + (sub | k)] = v;
    }
  }
}

static inline uint32_t LutEntry(const Lut& L, uint32_t window /* left-aligned 32 bits */) {
  uint32_t v = L.primary[window >> (32 - PB)];
  if (v & 0x8000) {
    uint32_t w = L.secWidth[window >> (32 - PB)];
    v = L.secondary[(v & 0x7FFF) + ((window << PB) >> (32 - w))];
  }
  return v;
}

static std::vector<uint8_t> bits;
static inline uint32_t Window(uint64_t pos) {
  const uint8_t* p = bits.data() + (pos >> 3);
  uint64_t w = (uint64_t)p[0] << 56 | (uint64_t)p[1] << 48 | (uint64_t)p[2] << 40 | (uint64_t)p[3] << 32 | (uint64_t)p[4] << 24;
  return uint32_t((w << (pos & 7)) >> 32);
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: huffman_lookup_bench 0|1|2 [code words]  (0 search, 1 look-up, 2 compare)\n");
    return 2;
  }
  const int mode = atoi(argv[1]);
  int pairs = argc > 2 ? atoi(argv[2]) : 20000000;
  bits.resize(pairs * 3 + 64);
  uint64_t s = 12345;
  for (auto& b : bits) { s = s * 6364136223846793005ull + 1442695040888963407ull; b = uint8_t(s >> 56); }
  for (int t = 1; t < 32; t++) if (t != 4 && t != 14) BuildLut(t);
  static const int tabs[] = {1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 16, 24};
  uint64_t pos = 0, sum = 0, mism = 0;
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < pairs; i++) {
    int t = tabs[(i >> 8) % 15];
    uint32_t W = Window(pos);
    uint32_t len, xy;
    if (mode == 1) { uint32_t v = LutEntry(Luts[t], W); len = v >> 8; xy = v & 0xFF; }
    else { uint32_t e = FindEntry(HuffmanTables[t], W >> 13); len = (e >> 8) & 31; xy = e & 0xFF; }
    if (mode == 2) { uint32_t v = LutEntry(Luts[t], W); if ((v >> 8) != len || (v & 0xFF) != xy) mism++; }
    pos += len ? len : 1; sum += xy;
    if (pos > bits.size() * 8 - 64) pos = 0;
  }
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  if (mode == 2 && mism) return 1;
  printf("mode %d pairs %d sum %llu mismatches %llu %.1f ms, lut bytes %zu\n", mode, pairs, (unsigned long long)sum, (unsigned long long)mism, ms, [] { size_t n = 0; for (auto& l : Luts) n += l.primary.size() * 2 + l.secondary.size() * 2 + l.secWidth.size(); return n; }());
}
