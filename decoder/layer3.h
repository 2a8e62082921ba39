// The decoder's whole working state: one static block of fixed size, private to decoder/.
// Stage files (one per stage) work on the fields of Decoder; nothing here is allocated.
#pragma once
#include <cstdint>
#include <cstdio>

// The twelve header fields after the sync word, in stream order (ISO/IEC 11172-3, 2.4.1.3).
struct FrameHeader {
  int32_t ID;
  int32_t layer;
  int32_t protection_bit;
  int32_t bitrate_index;
  int32_t sampling_frequency;
  int32_t padding_bit;
  int32_t private_bit;
  int32_t mode;
  int32_t mode_extension;
  int32_t rights_flag;
  int32_t home_flag;
  int32_t emphasis;
  // Not a field of the header: 1 when its sync word is 0xFFE, the MPEG 2.5 extension (ID 0 at
  // 11.025, 12 and 8 kHz), which decodes by the rules of the lower sampling frequencies with
  // band tables of its own.
  int32_t mpeg25;
};

// Side information of one granule and channel (ISO/IEC 11172-3, 2.4.1.7).
struct GranuleInfo {
  int32_t part2_3_length;
  int32_t big_values;
  int32_t global_gain;
  int32_t scalefac_compress;
  int32_t window_switching_flag;
  int32_t block_type;
  int32_t mixed_block_flag;
  int32_t table_select[3];
  int32_t subblock_gain[3];
  int32_t region0_count;
  int32_t region1_count;
  int32_t preflag;
  int32_t scalefac_scale;
  int32_t count1table_select;
};

struct SideInfo {
  int32_t main_data_begin;
  int32_t scfsi[2][4];
  GranuleInfo gr[2][2];  // [granule][channel]
};

// Result of reading a frame header.
enum HeaderResult { HeaderFrame, HeaderEndOfStream };

// The input file is read through one window of its bytes: sequentially frame by frame, ahead of
// the frame being decoded when the next header is not where the last frame's length says, and at
// random places while the stream's start and end are located.
constexpr uint32_t InputWindowSize = 64 * 1024;

struct Layer3Decoder {
  // Input and output streams of the running decode.
  FILE* Input;
  FILE* Output;
  bool OutputFailed;  // a write to the output failed (a full disk)

  // Header and side-information reader: 32 bytes and 3 spare bytes for the 4-byte window.
  uint8_t HeaderBuffer[32 + 3];
  uint32_t HeaderBitPos;

  // Bit reservoir: 4096 bytes, followed by a copy of its first 8 bytes so that a 4- or 8-byte
  // load starting in the last bytes reads on into byte 0 without a test.
  uint8_t MainDataRing[4096 + 8];
  uint32_t RingWritePos;  // 0..4095
  uint32_t MainBitPos;    // 0..32767

  FrameHeader Header;    // last good header
  int32_t ChannelCount;  // 1 or 2 for the current frame
  SideInfo Side;

  // Scale factors [granule][channel][band] and [granule][channel][band][window].
  int32_t scalefac_l[2][2][22];
  int32_t scalefac_s[2][2][13][3];
  // Intensity stereo of the lower sampling frequencies (channel 1 of ID 0 frames).
  int32_t IntensityScale;
  int32_t IsLimitLong[22];
  int32_t IsLimitShort[13];

  // Band tables of the current frame: last line of each band (inclusive).
  const int16_t* LongBandEnd;   // 22 entries
  const int16_t* ShortBandEnd;  // 13 entries

  int32_t QuantizedSpectrum[2][578];
  bool CorruptCode;  // a Huffman code word of the current frame matched no table entry
  int32_t CodedLineCount[2];

  alignas(32) float DequantizedSpectrum[2][576];
  int32_t ActiveSubbands[2];

  // Subband-minor layouts: eight neighbouring subbands are transformed at once.
  alignas(32) float OverlapBuffer[2][18][32];  // [channel][sample][subband]
  alignas(32) float HybridOutput[18][32];      // [time slot][subband]

  // Slot-major: the windowing reads 8 neighbouring rows of one slot at once.
  alignas(32) float SynthesisBuffer[2][2][16][32];  // [channel][half][slot][row]
  int32_t SynthesisSlot[2];
  int32_t SynthesisHalf[2];
  // The matrixed values X[0..31] of one channel's 18 time slots of the granule being synthesised.
  alignas(32) float MatrixedSlots[18][32];

  int16_t PcmBlock[1152];

  // The input window (see InputWindowSize).
  alignas(64) uint8_t InputWindow[InputWindowSize];
  uint64_t WindowStart;  // input offset of InputWindow[0]
  uint32_t WindowFill;   // bytes the window holds
  uint32_t WindowPos;    // the next byte to read sequentially
  bool InputEnded;       // a read met the end of the input
  bool InputSeekable;    // the input is a file that can be read at any offset
  uint64_t InputSize;    // its size; UINT64_MAX when it cannot be known
  uint64_t InputEnd;     // sequential reads end here: the end of the audio
};

extern Layer3Decoder Decoder;
