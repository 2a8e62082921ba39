// Test helpers for MPEG audio streams: a bit writer, silent Layer III frames built to order, and
// the frame length worked out from the header fields.
//
// The bitrate and sampling frequency tables here are a copy of ISO/IEC 11172-3 Table 2.4.2.3
// and ISO/IEC 13818-3, kept apart from decoder/tables on purpose: the tests judge the decoder's
// and tompg's frame lengths with them, so they must not come from the code under test.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Builds a bit stream most significant bit first.
struct BitWriter {
  std::vector<uint8_t> Bytes;
  size_t BitCount = 0;

  void Put(uint32_t value, int n);
  // A code word written as a string of '0' and '1'.
  void PutCode(const char* bits);
  // Zero bytes up to a length of `bytes`; the next Put starts on that byte.
  void PadTo(size_t bytes);
};

// Bitrate in kbit/s for ID (1 MPEG-1, 0 the lower sampling frequencies), layer 1..3 and
// bitrate_index; 0 for free format (index 0) and the forbidden index 15.
int StandardBitrate(int id, int layer, int bitrateIndex);
// Sampling frequency in Hz for ID and sampling_frequency; 0 for the reserved index 3. mpeg25:
// the MPEG 2.5 extension's sync word (ID 0 only), whose rates are half those of ID 0.
int StandardSampleRate(int id, int sampleIndex, bool mpeg25 = false);
// Length in bytes of a frame with these header fields, padding included; 0 when the header
// gives no length (free format, forbidden or reserved values).
int StandardFrameBytes(int id, int layer, int bitrateIndex, int sampleIndex, int padding, bool mpeg25 = false);

// One silent Layer III frame: header, side information with main_data_begin and empty granules
// (part2_3_length 0, table 0), and zero main data up to the frame length.
struct FrameFields {
  int id = 1;
  int bitrateIndex = 9;  // 128 kbit/s (ID 1)
  int sampleIndex = 0;   // 44.1 kHz (ID 1)
  int mode = 3;          // single channel
  int modeExtension = 0;
  int padding = 0;
  int protection = 1;  // 1: no CRC word
  int mainDataBegin = 0;
  uint32_t sync = 0xFFF;  // 0xFFE is the sync pattern of the MPEG 2.5 extension
};

// Bytes of the frame PutFrame writes.
int FrameBytes(const FrameFields& f);
// Appends one frame.
void PutFrame(std::vector<uint8_t>& out, const FrameFields& f);
// `count` frames alike.
std::vector<uint8_t> Frames(int count, const FrameFields& f);

// An ID3v2 tag of `size` bytes after its 10-byte header (zero bytes), version 2.`major`, with
// a footer when `footer` (2.4 only).
std::vector<uint8_t> Id3v2Tag(uint32_t size, int major = 3, bool footer = false);
// An encoder information frame: a silent frame whose main data holds "Xing" or "Info" (tag) with
// the frame count, then, when delay >= 0, the LAME extension with the encoder delay and padding.
std::vector<uint8_t> InformationFrame(const FrameFields& f, const char* tag, uint32_t frames, int delay,
                                      int padding);
