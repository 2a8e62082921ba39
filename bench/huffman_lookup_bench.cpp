// Huffman pair decoding, measured alone: the decoder's look-up tables (HuffmanLookups: one look-up
// gives most code words with their sign bits, a second one the long code words) against the
// search of the sorted tables that they are made from (4-bit prefix, then a binary search, then
// the sign bits by shifts).
//   build/bin/huffman_lookup_bench
// Both decode the same random bit stream, in which every code word comes with its design
// probability 2^-length; items/s is pairs (code word and signs) per second. Before timing, every
// window of the stream is decoded both ways and any difference aborts the program.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "decoder/huffman_search.h"

namespace {

// x, y with their signs (escapes are left as 15) and the bits taken.
struct Pair {
  int x, y;
  uint32_t bits;
};

// Sign bits follow the code word of length len, one for each nonzero value (1: negative).
inline Pair WithSigns(uint64_t window, uint32_t len, int x, int y) {
  uint64_t rest = window << len;
  const uint32_t xs = x != 0, ys = y != 0;
  const int xNeg = static_cast<int>((rest >> 63) & xs);
  rest <<= xs;
  const int yNeg = static_cast<int>((rest >> 63) & ys);
  return {(x ^ -xNeg) + xNeg, (y ^ -yNeg) + yNeg, len + xs + ys};
}

inline Pair Search(int t, uint64_t window) {
  const uint32_t e = FindEntry(HuffmanTables[t], static_cast<uint32_t>(window >> 45));
  return WithSigns(window, (e >> 8) & 31, (e >> 4) & 15, e & 15);
}

inline Pair Lookup(int t, uint64_t window) {
  const HuffmanLookup& table = HuffmanLookups[t];
  uint32_t e = LookupPair(table, window);
  if (!(e & 0x8000))
    return {static_cast<int32_t>(e << 27) >> 27, static_cast<int32_t>(e << 22) >> 27, e >> 10};
  if (e & 0x4000) e = LookupLongPair(table, e, window);
  return WithSigns(window, (e >> 8) & 31, (e >> 4) & 15, e & 15);
}

// The pair tables a typical stream uses, each for 256 code words in turn.
const int Tables[] = {1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 16, 24};
constexpr int TableCount = sizeof Tables / sizeof Tables[0];

std::vector<uint8_t> Stream;

inline uint64_t Window(uint64_t pos) {
  const uint8_t* p = Stream.data() + (pos >> 3);
  uint64_t w = 0;
  for (int i = 0; i < 8; i++) w = w << 8 | p[i];
  return w << (pos & 7);
}

void Prepare() {
  if (!Stream.empty()) return;
  Stream.resize(1 << 20);
  uint64_t s = 12345;
  for (uint8_t& b : Stream) {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    b = uint8_t(s >> 56);
  }
  // Both ways must agree on every window of every table.
  for (int t : Tables) {
    for (uint64_t pos = 0; pos < 8 * (Stream.size() - 8); pos += 3) {
      const Pair a = Search(t, Window(pos)), b = Lookup(t, Window(pos));
      if (a.x != b.x || a.y != b.y || a.bits != b.bits) {
        fprintf(stderr, "table %d, bit %llu: look-up and search differ\n", t, (unsigned long long)pos);
        abort();
      }
    }
  }
}

template <bool UseLookup>
void DecodePairs(benchmark::State& state) {
  Prepare();
  const uint64_t end = 8 * (Stream.size() - 8);
  uint64_t pos = 0, count = 0;
  int64_t sum = 0;
  for (auto _ : state) {
    for (int i = 0; i < 4096; i++) {
      const int t = Tables[(count >> 8) % TableCount];
      const Pair p = UseLookup ? Lookup(t, Window(pos)) : Search(t, Window(pos));
      pos += p.bits;
      sum += p.x - p.y;
      count++;
      if (pos >= end) pos = 0;
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(int64_t(count));
}

BENCHMARK(DecodePairs<false>)->Name("HuffmanSearch");
BENCHMARK(DecodePairs<true>)->Name("HuffmanLookup");

}  // namespace
