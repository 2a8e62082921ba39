#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "decoder/huffman_search.h"
#include "decoder/stages.h"
#include "decoder/tables/huffman_tables.h"
#include "decoder/tables/scalefactor_tables.h"
#include "tests/decoder/memory_input.h"

namespace {

struct ReferenceCode {
  int x, y;  // quadruple tables: x holds vwxy as a 4-bit number, y is 0
  std::string code;
};

struct ReferenceTable {
  int linbits = 0;
  bool quad = false;
  std::vector<ReferenceCode> codes;
};

// The Huffman code tables of ISO/IEC 11172-3 Table 3-B.7 as transcribed in the reference file
// (the generator's input).
const std::map<int, ReferenceTable>& Reference() {
  static std::map<int, ReferenceTable> tables = [] {
    std::map<int, ReferenceTable> t;
    std::ifstream in(SONIVERT_SOURCE_DIR "/tools/gentables/data/layer3-huffman.txt");
    std::string line;
    ReferenceTable* current = nullptr;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream f(line);
      if (line.rfind("table", 0) == 0) {
        std::string word, kind;
        int n;
        f >> word >> n >> kind;
        current = &t[n];
        if (kind == "quad") {
          current->quad = true;
        } else {
          int ylen;
          f >> ylen >> current->linbits;
        }
        continue;
      }
      ReferenceCode c{};
      int length;
      if (current->quad) {
        int v, w, x, y;
        f >> v >> w >> x >> y >> length >> c.code;
        c.x = v * 8 + w * 4 + x * 2 + y;
      } else {
        f >> c.x >> c.y >> length >> c.code;
      }
      current->codes.push_back(c);
    }
    return t;
  }();
  return tables;
}

// One code word of table t (0..33) at MainBitPos through the decoder's search, as the spectrum
// decoder reads it: gives x and y and returns the length it consumed, or -1 when the search
// fails (it consumes nothing then).
int DecodePair(int t, int& x, int& y) {
  const uint32_t e = FindEntry(HuffmanTables[t], PeekMainBits(19));
  if (e == FailedEntry) return -1;
  const int len = static_cast<int>((e >> 8) & 31);
  SkipMainBits(len);
  x = static_cast<int>((e >> 4) & 15);
  y = static_cast<int>(e & 15);
  return len;
}

TEST(HuffmanTables, ReferenceFileIsComplete) {
  const auto& ref = Reference();
  EXPECT_EQ(ref.size(), 32u);  // 0..33 without 4 and 14
  EXPECT_EQ(ref.at(13).codes.size(), 256u);
  EXPECT_EQ(ref.at(32).codes.size(), 16u);
  for (int t = 0; t < 32; ++t)
    if (ref.count(t)) {
      EXPECT_EQ(LinbitsTable[t], ref.at(t).linbits) << t;
    }
}

// Every code word of every table, followed by unrelated bits, decodes to its values and its
// length, wherever it starts in a byte.
TEST(HuffmanTables, EveryCodeWordOfEveryTableDecodes) {
  uint32_t seed = 99;
  for (const auto& [t, table] : Reference()) {
    for (const ReferenceCode& c : table.codes) {
      for (int shift : {0, 3, 7}) {
        BitWriter w;
        w.Put(0, shift);
        w.PutCode(c.code.c_str());
        for (int i = 0; i < 6; ++i) w.Put((seed = seed * 1664525 + 1013904223) >> 24, 8);
        LoadMainData(w.Bytes, 4090);  // the code words also cross the ring's end
        SkipMainBits(shift);
        int x = -1, y = -1;
        ASSERT_EQ(DecodePair(t, x, y), static_cast<int>(c.code.size()))
            << "table " << t << " code " << c.code;
        if (table.quad) {
          EXPECT_EQ(x, c.x) << "table " << t << " code " << c.code;
          EXPECT_EQ(y, 0);
        } else {
          EXPECT_EQ(x, c.x) << "table " << t << " code " << c.code;
          EXPECT_EQ(y, c.y) << "table " << t << " code " << c.code;
        }
        EXPECT_EQ(Decoder.MainBitPos, (4090u * 8 + shift + c.code.size()) % 32768);
      }
    }
  }
  int x = 5, y = 5;
  LoadMainData({0xFF, 0xFF, 0xFF, 0xFF}, 0);
  EXPECT_EQ(DecodePair(0, x, y), 0);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(Decoder.MainBitPos, 0u);
}

// The probe and binary search find the one code word that starts each of the 2^19 possible
// look-aheads, for every table: no look-ahead can fail or leave the entry array.
TEST(HuffmanTables, EveryLookAheadFindsTheCodeWordThatStartsIt) {
  for (const auto& [t, table] : Reference()) {
    if (t == 0 || (t > 16 && t < 24) || (t > 24 && t < 32)) continue;  // shared arrays: once
    std::map<std::pair<int, int>, std::string> codeOf;
    for (const ReferenceCode& c : table.codes) codeOf[{c.x, c.y}] = c.code;
    int failures = 0;
    for (uint32_t p = 0; p < (1u << 19) && failures < 5; ++p) {
      const uint32_t word = p << 13;
      Decoder.MainDataRing[0] = static_cast<uint8_t>(word >> 24);
      Decoder.MainDataRing[1] = static_cast<uint8_t>(word >> 16);
      Decoder.MainDataRing[2] = static_cast<uint8_t>(word >> 8);
      Decoder.MainDataRing[3] = 0;
      Decoder.MainBitPos = 0;
      int x, y;
      const int len = DecodePair(t, x, y);
      const auto it = codeOf.find({x, y});
      bool ok = len > 0 && it != codeOf.end() && static_cast<int>(it->second.size()) == len;
      for (int i = 0; ok && i < len; ++i) ok = (it->second[i] == '1') == (((p >> (18 - i)) & 1) != 0);
      if (!ok) {
        ++failures;
        ADD_FAILURE() << "table " << t << " look-ahead " << p << " gave length " << len;
      }
    }
  }
}

TEST(HuffmanTables, MissingTablesFourAndFourteenStayInBounds) {
  LoadMainData({0x12, 0x34, 0x56, 0x78}, 0);
  int x = 1, y = 1;
  EXPECT_EQ(DecodePair(4, x, y), 0);
  EXPECT_EQ(DecodePair(14, x, y), 0);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
}

// ---- DecodeSpectrum: regions, escapes, signs, count1 and the end of the granule's data ----

std::string CodeOf(int table, int x, int y) {
  for (const ReferenceCode& c : Reference().at(table).codes)
    if (c.x == x && c.y == y) return c.code;
  ADD_FAILURE() << "no code " << table << " " << x << " " << y;
  return "";
}

// Writes one big-values pair as the stream holds it: code, x linbits, x sign, y linbits, y sign.
void PutPair(BitWriter& w, int table, int x, int y) {
  const int linbits = LinbitsTable[table];
  auto code = [&](int v) { return linbits > 0 && std::abs(v) >= 15 ? 15 : std::abs(v); };
  w.PutCode(CodeOf(table, code(x), code(y)).c_str());
  for (int v : {x, y}) {
    if (linbits > 0 && std::abs(v) >= 15) w.Put(std::abs(v) - 15, linbits);
    if (v != 0) w.Put(v < 0 ? 1 : 0, 1);
  }
}

void PutQuad(BitWriter& w, int table, const int v[4]) {
  const int flags = (v[0] != 0) * 8 + (v[1] != 0) * 4 + (v[2] != 0) * 2 + (v[3] != 0);
  w.PutCode(CodeOf(table, flags, 0).c_str());
  for (int f = 0; f < 4; ++f)
    if (v[f] != 0) w.Put(v[f] < 0 ? 1 : 0, 1);
}

GranuleInfo& PrepareGranule(int bigValues, int t0, int t1, int t2, int r0, int r1, int count1table) {
  FrameHeader header{};
  header.ID = 1;
  header.sampling_frequency = 0;  // 44.1 kHz: long bands end 3, 7, 11, 15, 19, 23, 29, 35, ...
  SelectBandTables(header);
  GranuleInfo& gi = Decoder.Side.gr[0][0];
  gi = GranuleInfo{};
  gi.big_values = bigValues;
  gi.table_select[0] = t0;
  gi.table_select[1] = t1;
  gi.table_select[2] = t2;
  gi.region0_count = r0;
  gi.region1_count = r1;
  gi.count1table_select = count1table;
  for (int i = 0; i < 578; ++i) Decoder.QuantizedSpectrum[0][i] = 12345;
  return gi;
}

void Decode(GranuleInfo& gi, const BitWriter& w, int part2_3_length, uint32_t at = 3000) {
  gi.part2_3_length = part2_3_length;
  std::vector<uint8_t> bytes = w.Bytes;
  bytes.resize(bytes.size() + 8, 0xFF);
  LoadMainData(bytes, at);
  DecodeSpectrum(0, 0, 0);
}

TEST(DecodeSpectrum, RegionsEscapesSignsAndCount1) {
  // region0 = bands 0..1 (lines 0..7, table 1), region1 = bands 2..3 (lines 8..15, table 24
  // with 4 linbits), region2 = the rest of big_values (lines 16..19, table 13), then count1.
  GranuleInfo& gi = PrepareGranule(10, 1, 24, 13, 1, 1, 0);
  const int pairs[10][2] = {{1, -1},  {0, 0},  {-1, 0},  {1, 1},    {25, -15},
                            {-15, 3}, {30, 0}, {0, -17}, {15, -15}, {-7, 9}};
  const int tables[10] = {1, 1, 1, 1, 24, 24, 24, 24, 13, 13};
  BitWriter w;
  for (int p = 0; p < 10; ++p) PutPair(w, tables[p], pairs[p][0], pairs[p][1]);
  const int quads[2][4] = {{1, 0, -1, 0}, {0, -1, -1, 1}};
  for (const auto& q : quads) PutQuad(w, 32, q);
  const int length = static_cast<int>(w.BitCount);
  w.Put(0x3, 2);  // the next granule's bits: must not be read
  Decode(gi, w, length);
  for (int p = 0; p < 10; ++p) {
    EXPECT_EQ(Decoder.QuantizedSpectrum[0][2 * p], pairs[p][0]) << "pair " << p;
    EXPECT_EQ(Decoder.QuantizedSpectrum[0][2 * p + 1], pairs[p][1]) << "pair " << p;
  }
  for (int q = 0; q < 2; ++q)
    for (int f = 0; f < 4; ++f) EXPECT_EQ(Decoder.QuantizedSpectrum[0][20 + 4 * q + f], quads[q][f]);
  EXPECT_EQ(Decoder.CodedLineCount[0], 28);
  for (int i = 28; i < 576; ++i) ASSERT_EQ(Decoder.QuantizedSpectrum[0][i], 0) << i;
  EXPECT_EQ(Decoder.MainBitPos, (3000u * 8 + length) % 32768);
}

// The decoder's look-up tables against the reference codes: every code word of every table, with
// random signs (and random linbits after an escape), in one granule that also crosses the ring's
// end, decodes to its values and ends exactly at the granule's last bit.
TEST(DecodeSpectrum, EveryCodeWordOfEveryTableDecodesThroughTheLookUp) {
  uint32_t seed = 7;
  const auto next = [&seed] { return (seed = seed * 1664525 + 1013904223) >> 8; };
  for (const auto& [t, table] : Reference()) {
    if (t == 0) continue;
    const bool quad = table.quad;
    GranuleInfo& gi = PrepareGranule(quad ? 0 : static_cast<int>(table.codes.size()), t, t, t, 15, 7, t & 1);
    BitWriter w;
    std::vector<int> expected;
    for (const ReferenceCode& c : table.codes) {
      int v[4] = {quad ? c.x >> 3 : c.x, quad ? (c.x >> 2) & 1 : c.y, (c.x >> 1) & 1, c.x & 1};
      for (int& value : v) {
        if (value == 15 && table.linbits > 0) value += static_cast<int>(next() % (1u << table.linbits));
        if (next() & 1) value = -value;
      }
      if (quad) {
        PutQuad(w, t, v);
      } else {
        PutPair(w, t, v[0], v[1]);
      }
      expected.insert(expected.end(), v, v + (quad ? 4 : 2));
    }
    Decode(gi, w, static_cast<int>(w.BitCount), 3900);
    for (size_t i = 0; i < expected.size(); ++i)
      ASSERT_EQ(Decoder.QuantizedSpectrum[0][i], expected[i]) << "table " << t << " line " << i;
    EXPECT_EQ(Decoder.CodedLineCount[0], static_cast<int>(expected.size())) << "table " << t;
    EXPECT_EQ(Decoder.MainBitPos, (3900u * 8 + w.BitCount) % 32768) << "table " << t;
  }
}

TEST(DecodeSpectrum, EscapeIsAPlainFifteenInTablesWithoutLinbits) {
  GranuleInfo& gi = PrepareGranule(1, 15, 15, 15, 15, 7, 1);
  BitWriter w;
  PutPair(w, 15, 15, -15);
  const int length = static_cast<int>(w.BitCount);
  Decode(gi, w, length);
  EXPECT_EQ(Decoder.QuantizedSpectrum[0][0], 15);
  EXPECT_EQ(Decoder.QuantizedSpectrum[0][1], -15);
  EXPECT_EQ(Decoder.CodedLineCount[0], 2);
}

TEST(DecodeSpectrum, LastQuadrupleRunningPastTheEndIsKeptAndTheReaderStepsBack) {
  GranuleInfo& gi = PrepareGranule(0, 0, 0, 0, 0, 0, 1);
  BitWriter w;
  const int q[4] = {-1, 1, -1, 1};  // table B: 4 bits + 4 signs
  PutQuad(w, 33, q);
  Decode(gi, w, 5);  // the granule ends after 5 of the 8 bits
  for (int f = 0; f < 4; ++f) EXPECT_EQ(Decoder.QuantizedSpectrum[0][f], q[f]);
  EXPECT_EQ(Decoder.CodedLineCount[0], 4);
  EXPECT_EQ(Decoder.MainBitPos, 3000u * 8 + 5);
}

TEST(DecodeSpectrum, BitsLeftAfterLine576AreSkipped) {
  // big_values 288: the big-values region covers all 576 lines and count1 is empty.
  GranuleInfo& gi = PrepareGranule(288, 1, 1, 1, 3, 3, 0);
  BitWriter w;
  for (int p = 0; p < 288; ++p) PutPair(w, 1, 0, p % 2 ? 1 : 0);
  const int length = static_cast<int>(w.BitCount) + 40;
  Decode(gi, w, length, 4000);  // also wraps the ring
  EXPECT_EQ(Decoder.CodedLineCount[0], 576);
  EXPECT_EQ(Decoder.QuantizedSpectrum[0][575], 1);
  EXPECT_EQ(Decoder.MainBitPos, (4000u * 8 + length) % 32768);
}

TEST(DecodeSpectrum, EmptyGranuleReadsNothing) {
  GranuleInfo& gi = PrepareGranule(0, 5, 6, 7, 2, 2, 0);
  BitWriter w;
  Decode(gi, w, 0);
  EXPECT_EQ(Decoder.CodedLineCount[0], 0);
  for (int i = 0; i < 576; ++i) ASSERT_EQ(Decoder.QuantizedSpectrum[0][i], 0);
  EXPECT_EQ(Decoder.MainBitPos, 3000u * 8);
}

TEST(DecodeSpectrum, OutOfRangeSideInformationStaysInsideTheArrays) {
  // big_values 511 is cut to 576 lines; region counts 15 + 7 + 1 name no band and end the
  // region with the spectrum; table 4 makes the channel silent and the reader skips its data.
  GranuleInfo& gi = PrepareGranule(511, 1, 1, 1, 15, 7, 0);
  BitWriter w;
  for (int p = 0; p < 288; ++p) PutPair(w, 1, 1, -1);
  Decode(gi, w, static_cast<int>(w.BitCount));
  EXPECT_EQ(Decoder.CodedLineCount[0], 576);
  EXPECT_EQ(Decoder.QuantizedSpectrum[0][574], 1);
  EXPECT_EQ(Decoder.QuantizedSpectrum[0][575], -1);

  GranuleInfo& silent = PrepareGranule(20, 1, 4, 1, 0, 0, 0);
  BitWriter v;
  for (int p = 0; p < 20; ++p) PutPair(v, 1, 1, 0);
  Decode(silent, v, 300);
  EXPECT_EQ(Decoder.CodedLineCount[0], 0);
  for (int i = 0; i < 576; ++i) ASSERT_EQ(Decoder.QuantizedSpectrum[0][i], 0);
  EXPECT_EQ(Decoder.MainBitPos, 3000u * 8 + 300);
}

TEST(DecodeSpectrum, ShortBlockRegionZeroEndsAtLine36) {
  GranuleInfo& gi = PrepareGranule(20, 5, 1, 0, 0, 0, 0);
  gi.window_switching_flag = 1;
  gi.block_type = 2;
  BitWriter w;
  for (int p = 0; p < 18; ++p) PutPair(w, 5, 3, 2);   // lines 0..35: table 5
  for (int p = 18; p < 20; ++p) PutPair(w, 1, 1, 1);  // lines 36..39: table 1
  Decode(gi, w, static_cast<int>(w.BitCount));
  EXPECT_EQ(Decoder.QuantizedSpectrum[0][35], 2);
  EXPECT_EQ(Decoder.QuantizedSpectrum[0][36], 1);
  EXPECT_EQ(Decoder.CodedLineCount[0], 40);
}

}  // namespace
