// Huffman decoding of the spectral values: ISO/IEC 11172-3, 2.4.2.7 (big_values, count1) and
// 2.4.3.4.5, with the code tables of Annex B, Table 3-B.7.
#include <cstring>

#include "decoder/bitreader.h"
#include "decoder/huffman_search.h"
#include "decoder/stages.h"
#include "decoder/tables/huffman_tables.h"

namespace {

// The four values of a count1 quadruple by its flags v w x y (bit 3 = v) and the next four
// bits of the stream: each set flag takes the next sign bit (1: -1, 0: +1), a clear flag is 0
// and takes none.
struct Count1Entry {
  int32_t v[4];
  uint32_t signBits;
};

constexpr auto MakeCount1Values() {
  struct Table {
    Count1Entry e[16][16];
  } t{};
  for (uint32_t flags = 0; flags < 16; ++flags) {
    for (uint32_t signs = 0; signs < 16; ++signs) {
      uint32_t next = 0;
      for (int f = 0; f < 4; ++f) {
        if ((flags >> (3 - f)) & 1) {
          t.e[flags][signs].v[f] = ((signs >> (3 - next)) & 1) ? -1 : 1;
          ++next;
        }
      }
      t.e[flags][signs].signBits = next;
    }
  }
  return t;
}

constexpr auto Count1Table = MakeCount1Values();
constexpr const Count1Entry (&Count1Values)[16][16] = Count1Table.e;

// A code word that no table entry matches makes the frame damaged: the decode counts it and goes
// on; nothing is printed.
void ReportFailedCode() { Decoder.CorruptCode = true; }

// Silent channel: no lines, the reader moves to the end of the granule's data.
void SilentGranule(int c, uint32_t startPos, int avail) {
  int32_t* out = Decoder.QuantizedSpectrum[c];
  for (int i = 0; i < 578; ++i) out[i] = 0;
  Decoder.CodedLineCount[c] = 0;
  Decoder.MainBitPos = (startPos + static_cast<uint32_t>(avail)) & RingBitMask;
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

  // Bits read so far = (pos - start) + adjust; adjust only moves on the failure path, which
  // counts one bit that it does not consume.
  uint32_t pos = start;  // may run past 32767; the ring access masks it
  int adjust = 0;
  int i = 0;
  for (int k = 0; k < 3; ++k) {
    const int end = regionEnd[k];
    if (i >= end) continue;
    const int t = gi.table_select[k] & 31;
    const HuffmanTable& table = HuffmanTables[t];
    const int linbits = LinbitsTable[t];
    if (t == 0) {
      // Table 0 codes (0, 0) pairs with no bits.
      for (; i < end; i += 2) out[i] = out[i + 1] = 0;
      continue;
    }
    while (i < end) {
      // One window holds the code word (at most 19 bits) and both sign bits; only escapes
      // with linbits read further.
      const uint32_t window = RingWindow(pos);
      const uint32_t e = FindEntry(table, window >> 13);
      if (e == FailedEntry) {
        // Unreachable with the standard tables (every look-ahead finds its code word). A failed
        // search consumes nothing and counts as a code word of length -1, so the count drops by
        // one bit; the pair is given the values 0.
        ReportFailedCode();
        adjust -= 1;
        out[i] = out[i + 1] = 0;
        i += 2;
        continue;
      }
      const uint32_t len = (e >> 8) & 31;
      int x = static_cast<int>((e >> 4) & 15);
      int y = static_cast<int>(e & 15);
      if (linbits == 0 || (x != 15 && y != 15)) {
        uint32_t rest = window << len;
        const uint32_t xs = x != 0, ys = y != 0;
        const int xNeg = static_cast<int>((rest >> 31) & xs);
        rest <<= xs;
        const int yNeg = static_cast<int>((rest >> 31) & ys);
        x = (x ^ -xNeg) + xNeg;
        y = (y ^ -yNeg) + yNeg;
        pos += len + xs + ys;
      } else {
        // Order in the stream: x linbits, x sign, y linbits, y sign.
        pos += len;
        if (x == 15) {
          x += static_cast<int>(RingPeek(pos, linbits));
          pos += static_cast<uint32_t>(linbits);
        }
        if (x != 0) {
          if (RingPeek(pos, 1)) x = -x;
          pos += 1;
        }
        if (y == 15) {
          y += static_cast<int>(RingPeek(pos, linbits));
          pos += static_cast<uint32_t>(linbits);
        }
        if (y != 0) {
          if (RingPeek(pos, 1)) y = -y;
          pos += 1;
        }
      }
      out[i] = x;
      out[i + 1] = y;
      i += 2;
    }
  }

  // count1 region: quadruples of -1, 0, +1; the test comes before each quadruple, so the last
  // one may end past avail (its values are kept, the reader steps back below). Code word (at
  // most 6 bits) and up to four sign bits come from one window.
  const HuffmanTable& quad = HuffmanTables[32 + (gi.count1table_select & 1)];
  while (static_cast<int>(pos - start) + adjust < avail && i < 576) {
    const uint32_t window = RingWindow(pos);
    const uint32_t e = FindEntry(quad, window >> 13);
    if (e == FailedEntry) {
      ReportFailedCode();
      adjust -= 1;
      out[i] = out[i + 1] = out[i + 2] = out[i + 3] = 0;
      i += 4;
      continue;
    }
    const uint32_t len = (e >> 8) & 31;
    const uint32_t flags = (e >> 4) & 15;
    const uint32_t signs = (window << len) >> 28;
    std::memcpy(out + i, Count1Values[flags][signs].v, sizeof(int32_t) * 4);
    pos += len + Count1Values[flags][signs].signBits;
    i += 4;
  }

  // The granule's data ends after part2_3_length bits, whatever the code words consumed.
  // (Unsigned arithmetic: a step back wraps modulo 2^32, which 32768 divides.)
  const int bits = static_cast<int>(pos - start) + adjust;
  Decoder.MainBitPos = (pos + static_cast<uint32_t>(avail - bits)) & RingBitMask;
  if (i > 576) i = 576;
  Decoder.CodedLineCount[c] = i;
  for (int j = i; j < 576; ++j) out[j] = 0;
}
