// Frame header, header/side-information reader and the main-data bit reservoir
// (ISO/IEC 11172-3, 2.4.1.3, 2.4.2.3 and 2.4.3.4 "main_data_begin").
#include <cstdio>
#include <cstring>

#include "decoder/bitreader.h"
#include "decoder/stages.h"
#include "decoder/tables/frame_rates.h"

namespace {

// The input is only ever touched by the decoder thread: the unlocked glibc calls save a lock
// round trip on every small read.
size_t ReadInput(void* buffer, size_t n) {
  size_t got = fread_unlocked(buffer, 1, n, Decoder.Input);
  Decoder.InputOffset += static_cast<uint32_t>(got);
  return got;
}

}  // namespace

int ReadHeaderBytes(int n) {
  if (n < 0) n = 0;
  if (n > 32) n = 32;  // the largest side information
  Decoder.HeaderBitPos = 0;
  if (n == 0 || Decoder.Input == nullptr) return 0;
  return static_cast<int>(ReadInput(Decoder.HeaderBuffer, static_cast<size_t>(n)));
}

uint32_t GetHeaderBits(int n) {
  uint32_t pos = Decoder.HeaderBitPos;
  // The window never starts past byte 31, whatever a caller asks: byte 31 + 3 spare bytes.
  uint32_t byte = pos >> 3;
  if (byte > 31) byte = 31;
  uint32_t window = LoadBigEndian32(Decoder.HeaderBuffer + byte);
  Decoder.HeaderBitPos = pos + static_cast<uint32_t>(n);
  return (window << (pos & 7)) >> (32 - n);
}

HeaderResult ReadFrameHeader(FrameHeader& header) {
  if (ReadHeaderBytes(4) < 4) return HeaderEndOfStream;
  uint32_t sync = GetHeaderBits(12);
  if (sync == 0xFFE) return HeaderUnsupported;  // MPEG 2.5 sync pattern
  if (sync != 0xFFF) return HeaderEndOfStream;
  header.ID = static_cast<int32_t>(GetHeaderBits(1));
  header.layer = static_cast<int32_t>(GetHeaderBits(2));
  header.protection_bit = static_cast<int32_t>(GetHeaderBits(1));
  header.bitrate_index = static_cast<int32_t>(GetHeaderBits(4));
  header.sampling_frequency = static_cast<int32_t>(GetHeaderBits(2));
  header.padding_bit = static_cast<int32_t>(GetHeaderBits(1));
  header.private_bit = static_cast<int32_t>(GetHeaderBits(1));
  header.mode = static_cast<int32_t>(GetHeaderBits(2));
  header.mode_extension = static_cast<int32_t>(GetHeaderBits(2));
  header.rights_flag = static_cast<int32_t>(GetHeaderBits(1));
  header.home_flag = static_cast<int32_t>(GetHeaderBits(1));
  header.emphasis = static_cast<int32_t>(GetHeaderBits(2));
  if (header.mode == 0) header.mode_extension = 0;  // plain stereo has no mode extension
  return HeaderFrame;
}

void SkipCrc() {
  // The CRC word (ISO/IEC 11172-3, 2.4.3.1) is not verified.
  ReadHeaderBytes(2);
  GetHeaderBits(16);
}

void AppendMainData(int n) {
  // A frame holds at most 2016 bytes of main data (Layer I bitrate row, 448 kbit/s at
  // 32 kHz), so n never exceeds the ring; should it, the pieces below simply keep the last
  // 4096 bytes, as a ring does.
  if (n <= 0) return;
  uint32_t remaining = static_cast<uint32_t>(n);
  uint32_t pos = Decoder.RingWritePos;
  while (remaining > 0) {
    uint32_t piece = RingSize - pos;
    if (piece > remaining) piece = remaining;
    // A short read (the input ends inside the frame) leaves the old ring bytes in place.
    if (Decoder.Input != nullptr) ReadInput(Decoder.MainDataRing + pos, piece);
    pos = (pos + piece) & (RingSize - 1);
    remaining -= piece;
  }
  Decoder.RingWritePos = pos;
  std::memcpy(Decoder.MainDataRing + RingSize, Decoder.MainDataRing, 4);
}

uint32_t PeekMainBits(int n) { return RingPeek(Decoder.MainBitPos, n); }

void SkipMainBits(int n) {
  Decoder.MainBitPos = (Decoder.MainBitPos + static_cast<uint32_t>(n)) & RingBitMask;
}

uint32_t GetMainBits(int n) {
  if (n <= 0) return 0;
  uint32_t v = RingPeek(Decoder.MainBitPos, n);
  Decoder.MainBitPos = (Decoder.MainBitPos + static_cast<uint32_t>(n)) & RingBitMask;
  return v;
}

int FrameLength(const FrameHeader& header) {
  // Every frame is decoded as Layer III, with the bitrate of its own layer's row. Free format
  // (bitrate_index 0), index 15, sampling_frequency 3 and layer 0 are not in the tables: 0 tells
  // the caller to end the stream at this header.
  const int layerIII = 1;
  return FrameBytes(header.ID, layerIII, FrameBitrate(header.ID, header.layer, header.bitrate_index),
                    FrameSampleRate(header.ID, header.sampling_frequency), 0);
}
