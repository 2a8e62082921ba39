// Huffman decoding of the spectral values: ISO/IEC 11172-3, 2.4.2.7 (big_values, count1) and
// 2.4.3.4.5, with the code tables of Annex B, Table 3-B.7.
//
// The granule's bits come from a 64-bit cache loaded from the main-data ring. Code words are
// found by table look-up (one look-up for most, a second one for long code words; count1 code
// words together with their sign bits), signs and linbits are taken by shifts of the cache.
#include <cstring>

#include "decoder/bitreader.h"
#include "decoder/huffman_search.h"
#include "decoder/stages.h"
#include "decoder/tables/huffman_tables.h"

namespace {

// The stream from bit position Pos on: Bits holds it left-aligned, valid up to position Loaded
// (Loaded - Pos >= the bits that the next step takes, made so by Fill). Pos may run past 32767;
// the ring access wraps it.
struct BitCache {
  uint64_t Bits;
  uint32_t Pos;
  uint32_t Loaded;
};

// The 64 bits at bit position pos of the ring, left-aligned; at least 57 of them are valid. A
// load that starts in the ring's last 7 bytes reads on into the copy of its first 8 bytes behind
// it, so no byte outside the ring is read, whatever the stream's positions.
inline uint64_t RingBits(uint32_t pos) {
  uint64_t v;
  std::memcpy(&v, Decoder.MainDataRing + ((pos >> 3) & (RingSize - 1)), 8);
  return __builtin_bswap64(v) << (pos & 7);
}

inline void Load(BitCache& c) {
  c.Bits = RingBits(c.Pos);
  c.Loaded = c.Pos + 57;
}

// Makes at least n (at most 57) bits valid.
inline void Fill(BitCache& c, uint32_t n) {
  if (c.Loaded - c.Pos < n) Load(c);
}

inline void Skip(BitCache& c, uint32_t n) {
  c.Bits <<= n;
  c.Pos += n;
}

// The n (1..32) bits at the front, taken.
inline uint32_t Take(BitCache& c, uint32_t n) {
  const uint32_t v = static_cast<uint32_t>(c.Bits >> (64 - n));
  Skip(c, n);
  return v;
}

// A code word that no table entry matches makes the frame damaged: the decode counts it and goes
// on; nothing is printed. Unreachable with the standard tables, which are complete codes. The
// code word consumes nothing and counts as one of length -1 (the bit count drops by one).
void ReportFailedCode(int& adjust) {
  Decoder.CorruptCode = true;
  adjust -= 1;
}

// Silent channel: no lines, the reader moves to the end of the granule's data.
void SilentGranule(int c, uint32_t startPos, int avail) {
  int32_t* out = Decoder.QuantizedSpectrum[c];
  for (int i = 0; i < 578; ++i) out[i] = 0;
  Decoder.CodedLineCount[c] = 0;
  Decoder.MainBitPos = (startPos + static_cast<uint32_t>(avail)) & RingBitMask;
}

// Pairs of lines i..end-1 of one big-values region with table t; returns the line reached.
// Escapes (value 15 followed by linbits) exist only in tables with linbits, which take the
// instance with Escapes set.
template <bool Escapes>
int DecodePairs(BitCache& c, int t, int32_t* out, int i, int end, int& adjust) {
  const HuffmanLookup& table = HuffmanLookups[t];
  const uint32_t linbits = LinbitsTable[t];
  for (; i < end; i += 2) {
    Fill(c, 21);  // a code word of at most 19 bits and two sign bits
    uint32_t e = LookupPair(table, c.Bits);
    int x, y;
    if (!(e & 0x8000)) {
      // The common case: code word and signs in one entry, x and y as 5-bit signed fields.
      x = static_cast<int32_t>(e << 27) >> 27;
      y = static_cast<int32_t>(e << 22) >> 27;
      Skip(c, e >> 10);
    } else {
      if (e & 0x4000) {
        e = LookupLongPair(table, e, c.Bits);
        if (e & 0x4000) {
          ReportFailedCode(adjust);
          out[i] = out[i + 1] = 0;
          continue;
        }
      }
      // A code word alone: its sign bits (and an escape's linbits) follow it.
      Skip(c, (e >> 8) & 31);
      x = static_cast<int>((e >> 4) & 15);
      y = static_cast<int>(e & 15);
      if (Escapes) Fill(c, 2 * (13 + 1));
      // Order in the stream: x linbits, x sign, y linbits, y sign.
      if (Escapes && x == 15) x += static_cast<int>(Take(c, linbits));
      if (x != 0 && Take(c, 1)) x = -x;
      if (Escapes && y == 15) y += static_cast<int>(Take(c, linbits));
      if (y != 0 && Take(c, 1)) y = -y;
    }
    out[i] = x;
    out[i + 1] = y;
  }
  return i;
}

}  // namespace

void DecodeSpectrum(int g, int c, int part2) {
  const GranuleInfo& gi = Decoder.Side.gr[g][c];
  const int16_t* longEnd = Decoder.LongBandEnd;
  const int16_t* shortEnd = Decoder.ShortBandEnd;
  int32_t* out = Decoder.QuantizedSpectrum[c];
  const int avail = gi.part2_3_length - part2;
  const uint32_t start = Decoder.MainBitPos;

  // big_values above 288 would run past the 576 lines: the region ends at line 576.
  int big = 2 * gi.big_values;
  if (big > 576) big = 576;

  int regionEnd[3];
  if (gi.window_switching_flag) {
    int r0 = (gi.block_type != 2 || gi.mixed_block_flag) ? longEnd[7] + 1 : 3 * (shortEnd[2] + 1);
    regionEnd[0] = r0 < big ? r0 : big;
    regionEnd[1] = regionEnd[2] = big;
  } else {
    int r0 = longEnd[gi.region0_count & 15] + 1;
    if (big < r0) {
      regionEnd[0] = regionEnd[1] = big;
    } else {
      // region0_count + region1_count + 1 may name a band past the last one (band 21): the
      // region then ends with the spectrum.
      int band = gi.region0_count + gi.region1_count + 1;
      if (band > 21) band = 21;
      int r1 = longEnd[band] + 1;
      regionEnd[0] = r0;
      regionEnd[1] = r1 < big ? r1 : big;
    }
    regionEnd[2] = big;
  }

  // Tables 4 and 14 do not exist: a granule and channel that would decode a region with one
  // of them is silent (all lines 0), and the reader skips its data.
  {
    int from = 0;
    for (int k = 0; k < 3; ++k) {
      const int t = gi.table_select[k];
      if (regionEnd[k] > from && (t == 4 || t == 14)) {
        SilentGranule(c, start, avail);
        return;
      }
      if (regionEnd[k] > from) from = regionEnd[k];
    }
  }

  // Bits read so far = (cache.Pos - start) + adjust; adjust only moves on the failure path.
  BitCache cache;
  cache.Pos = start;
  Load(cache);
  int adjust = 0;
  int i = 0;
  for (int k = 0; k < 3; ++k) {
    const int end = regionEnd[k];
    if (i >= end) continue;
    const int t = gi.table_select[k] & 31;
    if (t == 0) {
      // Table 0 codes (0, 0) pairs with no bits.
      for (; i < end; i += 2) out[i] = out[i + 1] = 0;
    } else if (LinbitsTable[t] != 0) {
      i = DecodePairs<true>(cache, t, out, i, end, adjust);
    } else {
      i = DecodePairs<false>(cache, t, out, i, end, adjust);
    }
  }

  // count1 region: quadruples of -1, 0, +1, each code word with its sign bits in one look-up;
  // the test comes before each quadruple, so the last one may end past avail (its values are
  // kept, the reader steps back below). The loop runs while Pos is before `stop`, the position
  // at which the bits read (Pos - start + adjust) reach avail.
  const uint16_t* quad = Count1Lookup[gi.count1table_select & 1];
  uint32_t stop = start + static_cast<uint32_t>(avail - adjust);
  while (static_cast<int32_t>(cache.Pos - stop) < 0 && i < 576) {
    Fill(cache, 10);
    const uint32_t e = quad[cache.Bits >> 54];
    if (e & 0x8000) {
      ReportFailedCode(adjust);
      stop += 1;
      out[i] = out[i + 1] = out[i + 2] = out[i + 3] = 0;
      i += 4;
      continue;
    }
    std::memcpy(out + i, Count1Values[e & 127], sizeof Count1Values[0]);
    Skip(cache, (e >> 8) & 15);
    i += 4;
  }

  // The granule's data ends after part2_3_length bits, whatever the code words consumed.
  // (Unsigned arithmetic: a step back wraps modulo 2^32, which 32768 divides.)
  const int bits = static_cast<int>(cache.Pos - start) + adjust;
  Decoder.MainBitPos = (cache.Pos + static_cast<uint32_t>(avail - bits)) & RingBitMask;
  if (i > 576) i = 576;
  Decoder.CodedLineCount[c] = i;
  for (int j = i; j < 576; ++j) out[j] = 0;
}
