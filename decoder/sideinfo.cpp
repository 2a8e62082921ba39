// Side information and scale factors: ISO/IEC 11172-3, 2.4.1.7 and 2.4.2.7 (ID 1), and the
// lower sampling frequencies of ISO/IEC 13818-3, 2.4.3.2 (ID 0).
#include "decoder/bitreader.h"
#include "decoder/stages.h"
#include "decoder/tables/scalefactor_tables.h"

void ReadSideInfo(const FrameHeader& header) {
  const bool mono = header.mode == 3;
  const bool mpeg1 = header.ID == 1;
  const int channels = mono ? 1 : 2;
  ReadHeaderBytes(mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));

  SideInfo& side = Decoder.Side;
  side.main_data_begin = static_cast<int32_t>(GetHeaderBits(mpeg1 ? 9 : 8));
  GetHeaderBits(mpeg1 ? (mono ? 5 : 3) : (mono ? 1 : 2));  // private_bits
  if (mpeg1) {
    for (int c = 0; c < channels; ++c)
      for (int k = 0; k < 4; ++k) side.scfsi[c][k] = static_cast<int32_t>(GetHeaderBits(1));
  }
  const int granules = mpeg1 ? 2 : 1;
  for (int g = 0; g < granules; ++g) {
    for (int c = 0; c < channels; ++c) {
      GranuleInfo& gi = side.gr[g][c];
      gi.part2_3_length = static_cast<int32_t>(GetHeaderBits(12));
      gi.big_values = static_cast<int32_t>(GetHeaderBits(9));
      gi.global_gain = static_cast<int32_t>(GetHeaderBits(8));
      gi.scalefac_compress = static_cast<int32_t>(GetHeaderBits(mpeg1 ? 4 : 9));
      gi.window_switching_flag = static_cast<int32_t>(GetHeaderBits(1));
      if (gi.window_switching_flag) {
        gi.block_type = static_cast<int32_t>(GetHeaderBits(2));
        gi.mixed_block_flag = static_cast<int32_t>(GetHeaderBits(1));
        gi.table_select[0] = static_cast<int32_t>(GetHeaderBits(5));
        gi.table_select[1] = static_cast<int32_t>(GetHeaderBits(5));
        gi.table_select[2] = 0;
        for (int w = 0; w < 3; ++w) gi.subblock_gain[w] = static_cast<int32_t>(GetHeaderBits(3));
      } else {
        for (int r = 0; r < 3; ++r) gi.table_select[r] = static_cast<int32_t>(GetHeaderBits(5));
        gi.region0_count = static_cast<int32_t>(GetHeaderBits(4));
        gi.region1_count = static_cast<int32_t>(GetHeaderBits(3));
        gi.block_type = 0;
      }
      if (mpeg1) gi.preflag = static_cast<int32_t>(GetHeaderBits(1));
      gi.scalefac_scale = static_cast<int32_t>(GetHeaderBits(1));
      gi.count1table_select = static_cast<int32_t>(GetHeaderBits(1));
    }
  }
}

void SelectBandTables(const FrameHeader& header) {
  // Callers reach this only for headers whose sampling_frequency is 0..2; the mask keeps any
  // other value inside the tables all the same.
  const int id = header.ID & 1;
  int sf = header.sampling_frequency;
  if (sf < 0 || sf > 2) sf = 0;
  if (header.mpeg25) {
    Decoder.LongBandEnd = Mpeg25LongBandEndTable[sf];
    Decoder.ShortBandEnd = Mpeg25ShortBandEndTable[sf];
    return;
  }
  Decoder.LongBandEnd = LongBandEndTable[id][sf];
  Decoder.ShortBandEnd = ShortBandEndTable[id][sf];
}

namespace {

// GetMainBits, inlined: scale factors are read value by value.
inline int32_t ScaleBits(int n) {
  if (n == 0) return 0;
  const uint32_t v = RingPeek(Decoder.MainBitPos, n);
  Decoder.MainBitPos = (Decoder.MainBitPos + static_cast<uint32_t>(n)) & RingBitMask;
  return static_cast<int32_t>(v);
}

int DecodeScaleFactorsMpeg1(int g, int c) {
  GranuleInfo& gi = Decoder.Side.gr[g][c];
  const int sfc = gi.scalefac_compress & 15;
  const int slen1 = Slen1Table[sfc];
  const int slen2 = Slen2Table[sfc];
  int32_t* l = Decoder.scalefac_l[g][c];
  int32_t(*s)[3] = Decoder.scalefac_s[g][c];
  int bits = 0;

  if (gi.window_switching_flag && gi.block_type == 2) {
    int firstShort = 0;
    if (gi.mixed_block_flag) {
      for (int b = 0; b < 8; ++b) l[b] = ScaleBits(slen1);
      bits += 8 * slen1;
      firstShort = 3;
    }
    for (int b = firstShort; b < 12; ++b) {
      const int width = b < 6 ? slen1 : slen2;
      for (int w = 0; w < 3; ++w) s[b][w] = ScaleBits(width);
      bits += 3 * width;
    }
    s[12][0] = s[12][1] = s[12][2] = 0;
    return bits;
  }

  static const int GroupStart[5] = {0, 6, 11, 16, 21};
  for (int k = 0; k < 4; ++k) {
    const int width = k < 2 ? slen1 : slen2;
    if (g == 1 && Decoder.Side.scfsi[c][k]) {
      for (int b = GroupStart[k]; b < GroupStart[k + 1]; ++b) l[b] = Decoder.scalefac_l[0][c][b];
      continue;
    }
    for (int b = GroupStart[k]; b < GroupStart[k + 1]; ++b) l[b] = ScaleBits(width);
    bits += (GroupStart[k + 1] - GroupStart[k]) * width;
  }
  l[21] = 0;
  return bits;
}

int DecodeScaleFactorsLsf(const FrameHeader& header, int c) {
  GranuleInfo& gi = Decoder.Side.gr[0][c];
  const int sfc = gi.scalefac_compress;
  int slen[4];
  int blockNumber;
  // mode_extension means something only in joint stereo (ISO/IEC 11172-3, 2.4.2.3): the
  // second channel of a dual-channel frame keeps its own scale factor layout whatever those
  // bits hold.
  const bool intensity =
      c == 1 && header.mode == 1 && (header.mode_extension == 1 || header.mode_extension == 3);
  if (!intensity) {
    if (sfc < 400) {
      slen[0] = (sfc >> 4) / 5;
      slen[1] = (sfc >> 4) % 5;
      slen[2] = (sfc & 15) >> 2;
      slen[3] = sfc & 3;
      blockNumber = 0;
      gi.preflag = 0;
    } else if (sfc < 500) {
      const int r = sfc - 400;
      slen[0] = (r >> 2) / 5;
      slen[1] = (r >> 2) % 5;
      slen[2] = r & 3;
      slen[3] = 0;
      blockNumber = 1;
      gi.preflag = 0;
    } else {
      const int r = sfc - 500;  // scalefac_compress is 9 bits: r is 0..11
      slen[0] = r / 3;
      slen[1] = r % 3;
      slen[2] = slen[3] = 0;
      blockNumber = 2;
      gi.preflag = 1;
    }
  } else {
    Decoder.IntensityScale = sfc & 1;
    const int i = sfc >> 1;
    if (i < 180) {
      slen[0] = i / 36;
      slen[1] = (i % 36) / 6;
      slen[2] = (i % 36) % 6;
      slen[3] = 0;
      blockNumber = 3;
    } else if (i < 244) {
      const int r = i - 180;
      slen[0] = (r & 63) >> 4;
      slen[1] = (r & 15) >> 2;
      slen[2] = r & 3;
      slen[3] = 0;
      blockNumber = 4;
    } else if (i < 255) {
      const int r = i - 244;
      slen[0] = r / 3;
      slen[1] = r % 3;
      slen[2] = slen[3] = 0;
      blockNumber = 5;
    } else {
      // scalefac_compress 510/511: ISO/IEC 13818-3 defines no partition. No scale factor bits
      // are read: every intensity position is 0 and, with width 0, also the band's illegal
      // position, so the channel is decoded without intensity stereo.
      slen[0] = slen[1] = slen[2] = slen[3] = 0;
      blockNumber = 5;
    }
    gi.preflag = 0;
  }

  int blockClass = 0;
  if (gi.window_switching_flag && gi.block_type == 2) blockClass = gi.mixed_block_flag ? 2 : 1;
  int count[4];
  for (int k = 0; k < 4; ++k) count[k] = NrOfSfbTable[blockNumber][blockClass][k];

  int32_t* l = Decoder.scalefac_l[0][c];
  int32_t(*s)[3] = Decoder.scalefac_s[0][c];
  int bits = 0;
  if (blockClass == 0) {
    // The partitions of every row add up to 21 long bands.
    int b = 0;
    for (int k = 0; k < 4; ++k) {
      const int32_t limit = (1 << slen[k]) - 1;
      for (int n = 0; n < count[k]; ++n, ++b) {
        l[b] = ScaleBits(slen[k]);
        if (c == 1) Decoder.IsLimitLong[b] = limit;
      }
      bits += count[k] * slen[k];
    }
    return bits;
  }
  int b = 0;
  if (blockClass == 2) {
    const int32_t limit = (1 << slen[0]) - 1;
    for (b = 0; b < 6; ++b) {
      l[b] = ScaleBits(slen[0]);
      if (c == 1) Decoder.IsLimitLong[b] = limit;
    }
    bits += 6 * slen[0];
    count[0] -= 6;
    b = 3;
  }
  // Short and mixed rows add up to 12 short bands (or 3 + 9 for mixed blocks).
  for (int k = 0; k < 4; ++k) {
    const int32_t limit = (1 << slen[k]) - 1;
    for (int n = 0; n < count[k] / 3; ++n, ++b) {
      for (int w = 0; w < 3; ++w) s[b][w] = ScaleBits(slen[k]);
      if (c == 1) Decoder.IsLimitShort[b] = limit;
    }
    bits += (count[k] / 3) * 3 * slen[k];
  }
  return bits;
}

}  // namespace

int DecodeScaleFactors(const FrameHeader& header, int g, int c) {
  return header.ID == 1 ? DecodeScaleFactorsMpeg1(g, c) : DecodeScaleFactorsLsf(header, c);
}
