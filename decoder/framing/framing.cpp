// Frame headers, tags and information frames of MPEG audio files: ISO/IEC 11172-3 2.4.1.3 and
// 2.4.3.1, ISO/IEC 13818-3 2.4.1.3, the MPEG 2.5 extension, and the published layouts of the
// ID3v2, ID3v1, APEv2 and Lyrics3v2 tags and of the Xing, LAME and VBRI information headers.
#include "decoder/framing/framing.h"

#include <cstring>

#include "decoder/tables/frame_rates.h"

namespace {

uint32_t Big32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

uint32_t Little32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

bool ReadExactly(ByteReader read, void* context, uint64_t offset, uint8_t* buffer, size_t n) {
  return read(context, offset, buffer, n) == n;
}

// The decoder's own delay: the synthesis filterbank puts 529 samples before the first sample of
// the audio, in every standard Layer III decoder.
constexpr uint64_t DecoderDelay = 529;

}  // namespace

bool ParseFrameHeader(const uint8_t* p, FrameFacts& f) {
  const uint32_t h = Big32(p);
  if ((h >> 21) != 0x7FF) return false;  // 11 sync bits
  const int lastSyncBit = (h >> 20) & 1;
  const int id = (h >> 19) & 1;
  if (!lastSyncBit && id) return false;  // reserved version
  const int layer = (h >> 17) & 3;
  const int bitrateIndex = (h >> 12) & 15;
  const int samplingFrequency = (h >> 10) & 3;
  if (layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || samplingFrequency == 3) return false;
  f.Id = id;
  f.Mpeg25 = !lastSyncBit;
  f.Layer = layer;
  f.ProtectionBit = (h >> 16) & 1;
  f.BitrateIndex = bitrateIndex;
  f.SamplingFrequency = samplingFrequency;
  f.PaddingBit = (h >> 9) & 1;
  f.Mode = (h >> 6) & 3;
  f.Bitrate = FrameBitrate(id, layer, bitrateIndex);
  f.SampleRate = HeaderSampleRate(id, f.Mpeg25, samplingFrequency);
  f.Length = FrameBytes(id, layer, f.Bitrate, f.SampleRate, f.PaddingBit);
  // Layer I: 384 samples; Layer II: 1152; Layer III: 1152 for MPEG-1, 576 (one granule) below.
  f.Samples = layer == 3 ? 384 : (layer == 1 && id == 0 ? 576 : 1152);
  return f.Length > 0;
}

bool SameStream(const FrameFacts& a, const FrameFacts& b) {
  return a.Id == b.Id && a.Mpeg25 == b.Mpeg25 && a.Layer == b.Layer && a.SamplingFrequency == b.SamplingFrequency;
}

int Layer3SideInfoEnd(const FrameFacts& f) {
  // 4 header bytes and 17 or 32 bytes of side information (MPEG-1), 9 or 17 below.
  const bool mono = f.Mode == 3;
  const int side = f.Id == 1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
  return 4 + (f.ProtectionBit == 0 ? 2 : 0) + side;
}

bool FrameConfirmed(const FrameFacts& facts, uint64_t offset, const uint8_t* next, uint64_t audioEnd) {
  const uint64_t end = offset + static_cast<uint64_t>(facts.Length);
  if (end == audioEnd) return true;
  FrameFacts following;
  return next != nullptr && end < audioEnd && ParseFrameHeader(next, following) && SameStream(facts, following);
}

uint64_t Id3v2TagLength(const uint8_t* p) {
  if (std::memcmp(p, "ID3", 3) != 0 || p[3] == 0xFF || p[4] == 0xFF) return 0;
  // The size is "syncsafe": four bytes of 7 bits each.
  if ((p[6] | p[7] | p[8] | p[9]) & 0x80) return 0;
  const uint64_t size = uint64_t{p[6]} << 21 | uint64_t{p[7]} << 14 | uint64_t{p[8]} << 7 | p[9];
  const bool footer = p[3] >= 4 && (p[5] & 0x10);
  return 10 + size + (footer ? 10 : 0);
}

bool ParseInfoFrame(const uint8_t* frame, size_t n, const FrameFacts& facts, InfoFrame& info) {
  info = InfoFrame{};
  const size_t xing = static_cast<size_t>(Layer3SideInfoEnd(facts));
  if (xing + 8 <= n && (std::memcmp(frame + xing, "Xing", 4) == 0 || std::memcmp(frame + xing, "Info", 4) == 0)) {
    info.Present = true;
    const uint32_t flags = Big32(frame + xing + 4);
    size_t at = xing + 8;
    if (flags & 1) {
      if (at + 4 <= n) info.Frames = Big32(frame + at);
      at += 4;
    }
    if (flags & 2) at += 4;    // bytes of the stream
    if (flags & 4) at += 100;  // table of contents
    if (flags & 8) at += 4;    // quality indicator
    // The LAME extension: 9 bytes of encoder version, then at 21 the delay and padding, 12 bits
    // each. An encoder that writes no extension leaves the bytes zero or free: only a printable
    // version string is taken as one.
    if (at + 24 <= n) {
      bool version = true;
      for (size_t i = 0; i < 4; ++i) version = version && frame[at + i] >= 0x20 && frame[at + i] < 0x7F;
      if (version) {
        const uint8_t* d = frame + at + 21;
        info.Gapless = true;
        info.Delay = uint32_t{d[0]} << 4 | d[1] >> 4;
        info.Padding = static_cast<uint32_t>(d[1] & 15) << 8 | d[2];
      }
    }
    return true;
  }
  // VBRI stands 32 bytes after the header, whatever the mode: version, delay, quality (2 bytes
  // each), bytes and frames (4 each).
  if (n >= 36 + 18 && std::memcmp(frame + 36, "VBRI", 4) == 0) {
    info.Present = true;
    info.Frames = Big32(frame + 36 + 14);
    return true;
  }
  return false;
}

uint64_t GaplessKeep(const InfoFrame& info, int samplesPerFrame, uint64_t& lead) {
  lead = 0;
  if (!info.Present || !info.Gapless) return UINT64_MAX;
  // Without a frame count only the start is known.
  if (info.Frames == 0) {
    lead = info.Delay + DecoderDelay;
    return UINT64_MAX;
  }
  const uint64_t total = uint64_t{info.Frames} * static_cast<uint64_t>(samplesPerFrame);
  const uint64_t trimmed = uint64_t{info.Delay} + info.Padding;
  // Trimming more than the audio would drop everything: such facts are wrong, and the stream is
  // played whole.
  if (trimmed >= total) return UINT64_MAX;
  lead = info.Delay + DecoderDelay;
  return total - trimmed;
}

uint64_t EndOfAudio(ByteReader read, void* context, uint64_t fileSize, uint64_t start) {
  if (fileSize == UINT64_MAX) return fileSize;
  uint64_t end = fileSize;
  uint8_t b[32];
  // ID3v1 only as the last 128 bytes, with the 227-byte enhanced block that may stand before it.
  if (end >= start + 128 && ReadExactly(read, context, end - 128, b, 3) && std::memcmp(b, "TAG", 3) == 0) {
    end -= 128;
    if (end >= start + 227 && ReadExactly(read, context, end - 227, b, 4) && std::memcmp(b, "TAG+", 4) == 0)
      end -= 227;
  }
  // APEv2 and Lyrics3v2 blocks, each found from its end; every one found moves the end back by
  // at least its fixed part, so the loop ends.
  for (;;) {
    if (end >= start + 32 && ReadExactly(read, context, end - 32, b, 32) && std::memcmp(b, "APETAGEX", 8) == 0) {
      // Tag size: items and footer; the header, when bit 31 of the flags says there is one, comes
      // in front of them.
      const uint64_t size = Little32(b + 12);
      const uint64_t whole = size + ((Little32(b + 20) & 0x80000000u) ? 32 : 0);
      if (size >= 32 && whole <= end - start) {
        end -= whole;
        continue;
      }
    }
    if (end >= start + 15 + 11 && ReadExactly(read, context, end - 15, b, 15) &&
        std::memcmp(b + 6, "LYRICS200", 9) == 0) {
      // Six ASCII digits: the bytes from "LYRICSBEGIN" up to the size field.
      uint64_t size = 0;
      bool digits = true;
      for (int i = 0; i < 6; ++i) {
        digits = digits && b[i] >= '0' && b[i] <= '9';
        size = size * 10 + static_cast<uint64_t>(b[i] - '0');
      }
      uint8_t begin[11];
      if (digits && size >= 11 && size + 15 <= end - start &&
          ReadExactly(read, context, end - 15 - size, begin, 11) && std::memcmp(begin, "LYRICSBEGIN", 11) == 0) {
        end -= size + 15;
        continue;
      }
    }
    return end;
  }
}

StreamVerdict LocateStream(ByteReader read, void* context, uint64_t fileSize, StreamLayout& layout) {
  layout = StreamLayout{};
  uint64_t pos = 0;
  uint8_t b[4096];
  // ID3v2 tags, several in a row, and zero bytes after them; each step moves on by at least one
  // byte and reads nothing twice.
  for (;;) {
    const size_t got = read(context, pos, b, 10);
    if (got == 10) {
      const uint64_t tag = Id3v2TagLength(b);
      if (tag > 0) {
        layout.Tagged = true;
        pos += tag;
        continue;
      }
    }
    if (got == 0 || b[0] != 0) break;
    // A run of zero bytes: skip to the first byte that is not zero.
    size_t n = read(context, pos, b, sizeof b);
    size_t i = 0;
    while (i < n && b[i] == 0) ++i;
    pos += i;
    while (i == n && n > 0) {
      n = read(context, pos, b, sizeof b);
      for (i = 0; i < n && b[i] == 0; ++i) {
      }
      pos += i;
    }
    if (n == 0) return StreamNone;
  }

  uint8_t header[4];
  FrameFacts first;
  if (!ReadExactly(read, context, pos, header, 4)) return StreamNone;
  if (header[0] == 0xFF && (header[1] & 0xE0) == 0xE0) layout.Tagged = true;
  if (!ParseFrameHeader(header, first)) return StreamNone;
  if (first.Layer != 1) return StreamNotLayer3;

  layout.AudioEnd = EndOfAudio(read, context, fileSize, pos);
  const uint64_t firstEnd = pos + static_cast<uint64_t>(first.Length);
  uint8_t next[4];
  const bool haveNext = firstEnd + 4 <= layout.AudioEnd && ReadExactly(read, context, firstEnd, next, 4);
  if (!FrameConfirmed(first, pos, haveNext ? next : nullptr, layout.AudioEnd)) return StreamNone;

  layout.FirstFrame = layout.AudioStart = pos;
  layout.First = first;
  // A Layer III frame is at most 1441 bytes (320 kbit/s at 32 kHz, with padding).
  const size_t frameBytes = read(context, pos, b, static_cast<size_t>(first.Length));
  if (ParseInfoFrame(b, frameBytes, first, layout.Info)) {
    layout.AudioStart = firstEnd;
    if (layout.AudioStart + 4 > layout.AudioEnd) return StreamNone;
  }
  return StreamLayer3;
}

uint32_t StreamSeconds(const StreamLayout& layout) {
  const FrameFacts& f = layout.First;
  if (f.SampleRate <= 0 || f.Bitrate <= 0) return 0;
  if (layout.Info.Present && layout.Info.Frames > 0) {
    uint64_t lead = 0;
    uint64_t samples = GaplessKeep(layout.Info, f.Samples, lead);
    if (samples == UINT64_MAX) samples = uint64_t{layout.Info.Frames} * static_cast<uint64_t>(f.Samples);
    return static_cast<uint32_t>(samples / static_cast<uint64_t>(f.SampleRate));
  }
  if (layout.AudioEnd == UINT64_MAX) return 0;
  const uint64_t bytes = layout.AudioEnd - layout.AudioStart;
  return static_cast<uint32_t>(bytes * 8 / (static_cast<uint64_t>(f.Bitrate) * 1000));
}
