// Frame header, header/side-information reader and the main-data bit reservoir
// (ISO/IEC 11172-3, 2.4.1.3, 2.4.2.3 and 2.4.3.4 "main_data_begin").
#include <cstdio>
#include <cstring>

#include "decoder/bitreader.h"
#include "decoder/stages.h"

int ReadHeaderBytes(int n) {
  if (n < 0) n = 0;
  if (n > 32) n = 32;  // the largest side information
  Decoder.HeaderBitPos = 0;
  if (n == 0) return 0;
  return static_cast<int>(InputRead(Decoder.HeaderBuffer, static_cast<size_t>(n)));
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
  if (sync != 0xFFF && sync != 0xFFE) return HeaderEndOfStream;
  header.mpeg25 = sync == 0xFFE;
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
    InputRead(Decoder.MainDataRing + pos, piece);
    pos = (pos + piece) & (RingSize - 1);
    remaining -= piece;
  }
  Decoder.RingWritePos = pos;
  std::memcpy(Decoder.MainDataRing + RingSize, Decoder.MainDataRing, 8);
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
