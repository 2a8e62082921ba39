// Huffman code word look-up, measured alone: the decoder's search (4-bit prefix, then
// a binary search among the entries of that prefix) against a two-level look-up table built from
// the same HuffmanTables (8-bit first level; per 8-bit prefix that starts longer code words, a
// second level indexed by the remaining bits of the longest one). A proposal for the decoder.
//   build/bin/huffman_lookup_bench
// Both decode the same random bit stream, in which every code word comes with its design
// probability 2^-length; items/s is code words per second. Before timing, every 32-bit window of
// the stream is decoded both ways and any difference aborts the program.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "decoder/huffman_search.h"

namespace {

// First level: 2^FirstBits entries indexed by the next FirstBits bits. An entry (16 bits) with
// bit 15 clear holds the length in bits 8..12 and x, y in bits 4..7 and 0..3 (the low byte of
// the decoder's entry); with bit 15 set, bits 0..14 give the offset of the prefix's second level,
// whose index width is secondWidth[prefix].
constexpr int FirstBits = 8;
struct LookupTable {
  std::vector<uint16_t> first;
  std::vector<uint16_t> second;
  std::vector<uint8_t> secondWidth;
};
LookupTable Lookup[32];

void BuildLookup(int t) {
  const HuffmanTable& h = HuffmanTables[t];
  LookupTable& L = Lookup[t];
  L.first.assign(1u << FirstBits, 0);
  L.secondWidth.assign(1u << FirstBits, 0);
  std::vector<int> longest(1u << FirstBits, 0);
  for (int i = 0; i < h.EntryCount; i++) {
    const uint32_t e = h.Entries[i];
    const int len = (e >> 8) & 31;
    const uint32_t prefix = e >> (32 - FirstBits);
    if (len > FirstBits && len > longest[prefix]) longest[prefix] = len;
  }
  for (uint32_t prefix = 0; prefix < (1u << FirstBits); prefix++)
    if (longest[prefix]) {
      L.secondWidth[prefix] = uint8_t(longest[prefix] - FirstBits);
      L.first[prefix] = uint16_t(0x8000 | L.second.size());
      L.second.resize(L.second.size() + (size_t(1) << L.secondWidth[prefix]), 0);
    }
  for (int i = 0; i < h.EntryCount; i++) {
    const uint32_t e = h.Entries[i];
    const int len = (e >> 8) & 31;
    const uint16_t value = uint16_t(len << 8 | (e & 0xFF));
    if (len <= FirstBits) {
      // Every index that starts with this code word (table 0's empty code: all of them).
      const uint32_t start = len == 0 ? 0 : (e >> (32 - FirstBits)) & ~((1u << (FirstBits - len)) - 1);
      for (uint32_t k = 0; k < (1u << (FirstBits - len)); k++) L.first[start | k] = value;
    } else {
      const uint32_t prefix = e >> (32 - FirstBits);
      const int width = L.secondWidth[prefix];
      const uint32_t base = L.first[prefix] & 0x7FFF;
      const int spare = width - (len - FirstBits);
      const uint32_t start = ((e << FirstBits) >> (32 - width)) & ~((1u << spare) - 1);
      for (uint32_t k = 0; k < (1u << spare); k++) L.second[base + (start | k)] = value;
    }
  }
}

inline uint32_t LookupEntry(const LookupTable& L, uint32_t window) {
  const uint32_t prefix = window >> (32 - FirstBits);
  uint32_t v = L.first[prefix];
  if (v & 0x8000) v = L.second[(v & 0x7FFF) + ((window << FirstBits) >> (32 - L.secondWidth[prefix]))];
  return v;
}

// The pair tables a typical stream uses, each for 256 code words in turn.
const int Tables[] = {1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 16, 24};
constexpr int TableCount = sizeof Tables / sizeof Tables[0];

std::vector<uint8_t> Stream;

inline uint32_t Window(uint64_t pos) {
  const uint8_t* p = Stream.data() + (pos >> 3);
  const uint64_t w = uint64_t(p[0]) << 56 | uint64_t(p[1]) << 48 | uint64_t(p[2]) << 40 |
                     uint64_t(p[3]) << 32 | uint64_t(p[4]) << 24;
  return uint32_t((w << (pos & 7)) >> 32);
}

void Prepare() {
  if (!Stream.empty()) return;
  Stream.resize(1 << 20);
  uint64_t s = 12345;
  for (uint8_t& b : Stream) {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    b = uint8_t(s >> 56);
  }
  for (int t = 1; t < 32; t++)
    if (t != 4 && t != 14) BuildLookup(t);
  // Both ways must agree on every window of every table.
  for (int t = 1; t < 32; t++) {
    if (t == 4 || t == 14) continue;
    for (uint64_t pos = 0; pos < 8 * (Stream.size() - 8); pos += 3) {
      const uint32_t w = Window(pos);
      const uint32_t e = FindEntry(HuffmanTables[t], w >> 13);
      const uint32_t v = LookupEntry(Lookup[t], w);
      if ((v >> 8) != ((e >> 8) & 31) || (v & 0xFF) != (e & 0xFF)) {
        fprintf(stderr, "table %d, bit %llu: look-up and search differ\n", t, (unsigned long long)pos);
        abort();
      }
    }
  }
}

template <bool UseLookup>
void DecodeCodeWords(benchmark::State& state) {
  Prepare();
  const uint64_t end = 8 * (Stream.size() - 8);
  uint64_t pos = 0, sum = 0, count = 0;
  for (auto _ : state) {
    for (int i = 0; i < 4096; i++) {
      const int t = Tables[(count >> 8) % TableCount];
      const uint32_t w = Window(pos);
      uint32_t len, xy;
      if (UseLookup) {
        const uint32_t v = LookupEntry(Lookup[t], w);
        len = v >> 8;
        xy = v & 0xFF;
      } else {
        const uint32_t e = FindEntry(HuffmanTables[t], w >> 13);
        len = (e >> 8) & 31;
        xy = e & 0xFF;
      }
      pos += len;
      sum += xy;
      count++;
      if (pos >= end) pos = 0;
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(int64_t(count));
}

BENCHMARK(DecodeCodeWords<false>)->Name("HuffmanSearch");
BENCHMARK(DecodeCodeWords<true>)->Name("HuffmanLookup");

}  // namespace
