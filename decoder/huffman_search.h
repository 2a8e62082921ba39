// Code word look-up of the Layer III Huffman tables, private to decoder/ (and its tests and
// benchmark): the decoder's look-up tables, and the search of the sorted tables that they are
// made from and checked against.
#pragma once
#include <cstdint>

#include "decoder/tables/huffman_tables.h"

constexpr uint32_t FailedEntry = 0xFFFFFFFFu;

// Finds the entry of table t whose code word starts the 19-bit look-ahead P: one probe at the
// first entry of P's 4-bit prefix, then a binary search among the entries of that prefix.
// Returns FailedEntry when no entry matches (impossible with the standard tables).
inline uint32_t FindEntry(const HuffmanTable& t, uint32_t P) {
  const uint32_t* E = t.Entries;
  const uint32_t p = P >> 15;
  const uint32_t aligned = P << 13;
  uint32_t k = t.FirstIndex[p];
  uint32_t e = E[k];
  uint32_t len = (e >> 8) & 31;
  // A 64-bit shift lets length 0 (table 0) match without a special case.
  if ((static_cast<uint64_t>(e ^ aligned) >> (32 - len)) == 0) return e;
  if (p == 15) return FailedEntry;
  uint32_t n = static_cast<uint32_t>(t.FirstIndex[p + 1]) - k;
  const uint32_t key = aligned | 511;
  k += n / 2;
  n -= n / 2;
  while (n > 1) {
    const uint32_t h = n / 2;
    // k + h when E[k] is below key, else k - h: arithmetic instead of an unpredictable branch.
    const uint32_t below = 0u - static_cast<uint32_t>(E[k] < key);
    k = k - h + (below & (2 * h));
    n -= h;
  }
  e = E[k];
  len = (e >> 8) & 31;
  if ((static_cast<uint64_t>(e ^ key) >> (32 - len)) == 0) return e;
  return e > key ? E[k - 1] : E[k + 1];
}

// The first-level entry of pair table t for the stream's next bits (left-aligned in `bits`, at
// least 19 of them valid): a code word with its signs (bit 15 clear), a code word alone (bits 15,
// 14 = 1, 0), or (bits 15, 14 = 1, 1) a prefix of longer code words, which LookupLongPair takes.
inline uint32_t LookupPair(const HuffmanLookup& t, uint64_t bits) {
  return t.Entries[bits >> (64 - t.FirstBits)];
}

// The code word alone that first-level entry e (a prefix of longer code words) and `bits` lead
// to, or HuffmanNoCodeWord.
inline uint32_t LookupLongPair(const HuffmanLookup& t, uint32_t e, uint64_t bits) {
  const uint32_t width = (e >> 10) & 15;
  if (width == 0) return HuffmanNoCodeWord;
  return t.Entries[2 * (e & 0x3FF) + ((bits << t.FirstBits) >> (64 - width))];
}
