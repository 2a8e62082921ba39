#include "tools/tompg/backend.h"

#include <lame/lame.h>
#include <twolame.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "decoder/tables/frame_rates.h"
#include "encoder/rates.h"

namespace {

// The libraries must not write to our console: the host reads it.
void Silent(const char*, va_list) {}

bool OpenLayer3(Backend& b, int sampleRate, int mode, int kbps) {
  lame_t lame = lame_init();
  if (!lame) return false;
  b.lame = lame;
  lame_set_errorf(lame, Silent);
  lame_set_debugf(lame, Silent);
  lame_set_msgf(lame, Silent);
  lame_set_num_channels(lame, b.channels);
  // The source is already at a rate Layer III codes: the library must not resample again.
  lame_set_in_samplerate(lame, sampleRate);
  lame_set_out_samplerate(lame, sampleRate);
  lame_set_VBR(lame, vbr_off);
  lame_set_brate(lame, kbps);
  MPEG_mode lameMode = mode == ModeMono          ? MONO
                       : mode == ModeJointStereo ? JOINT_STEREO
                       : mode == ModeDualChannel ? DUAL_CHANNEL
                                                 : STEREO;
  lame_set_mode(lame, lameMode);
  // The stream starts with the information frame (written by BackendInfoFrame at the end: the
  // library's first frame keeps its place) and ends with the last audio frame: no ID3 tags.
  lame_set_bWriteVbrTag(lame, 1);
  lame_set_write_id3tag_automatic(lame, 0);
  return lame_init_params(lame) >= 0;
}

bool OpenLayer2(Backend& b, int sampleRate, int mode, int kbps) {
  twolame_options* opts = twolame_init();
  if (!opts) return false;
  b.twolame = opts;
  twolame_set_verbosity(opts, 0);
  twolame_set_num_channels(opts, b.channels);
  twolame_set_in_samplerate(opts, sampleRate);
  twolame_set_out_samplerate(opts, sampleRate);
  TWOLAME_MPEG_mode twoMode = mode == ModeMono          ? TWOLAME_MONO
                              : mode == ModeJointStereo ? TWOLAME_JOINT_STEREO
                              : mode == ModeDualChannel ? TWOLAME_DUAL_CHANNEL
                                                        : TWOLAME_STEREO;
  twolame_set_mode(opts, twoMode);
  twolame_set_version(opts, IsLowSamplingFrequency(sampleRate) ? TWOLAME_MPEG2 : TWOLAME_MPEG1);
  twolame_set_bitrate(opts, kbps);
  // Model 3, as the twolame program uses by default: the library's own default costs twice the time.
  twolame_set_psymodel(opts, 3);
  return twolame_init_params(opts) == 0;
}

// The library reserves the information frame's place with a frame of its header and zeros: no
// audio frame looks like that (its side information is never all zero).
bool StartsWithInfoPlaceholder(const uint8_t* bytes, long size) {
  if (size < 4) return false;
  const int length = FrameLength(bytes);
  if (length <= 4 || length > size) return false;
  for (int i = 4; i < length; ++i)
    if (bytes[i] != 0) return false;
  return true;
}

void NoteFirstOutput(Backend& b, const uint8_t* out, long bytes) {
  if (bytes <= 0 || b.outputSeen) return;
  b.outputSeen = true;
  b.leadingFrames = StartsWithInfoPlaceholder(out, bytes) ? 1 : 0;
}

long EncodeLayer1(Backend& b, const float* left, const float* right, long n, uint8_t* out, long capacity,
                  bool flush) {
  long written = 0;
  long i = 0;
  for (;;) {
    while (i < n && b.pendingCount < 384) {
      b.pending[0][b.pendingCount] = left[i];
      b.pending[1][b.pendingCount] = b.channels == 2 ? right[i] : 0.0f;
      ++b.pendingCount;
      ++i;
    }
    if (b.pendingCount < 384) {
      if (!flush || b.pendingCount == 0) break;
      // The last frame is filled up with silence.
      for (int k = b.pendingCount; k < 384; ++k) b.pending[0][k] = b.pending[1][k] = 0.0f;
    }
    int bytes = Layer1EncodeFrame(b.layer1, b.pending[0], b.pending[1], out + written,
                                  static_cast<int>(capacity - written));
    if (bytes < 0) return -1;
    written += bytes;
    b.pendingCount = 0;
  }
  return written;
}

}  // namespace

bool BackendOpen(Backend& b, int layer, int sampleRate, int channels, int mode, int kbps) {
  b.layer = layer;
  b.channels = channels;
  b.pendingCount = 0;
  switch (layer) {
    case 1:
      return Layer1Init(b.layer1, sampleRate, channels, mode, kbps);
    case 2:
      return OpenLayer2(b, sampleRate, mode, kbps);
    case 3:
      return OpenLayer3(b, sampleRate, mode, kbps);
  }
  return false;
}

long BackendEncode(Backend& b, const float* left, const float* right, long n, uint8_t* out, long capacity) {
  if (n > BackendMaxSamples) return -1;
  if (b.channels == 1) right = left;
  switch (b.layer) {
    case 1:
      return EncodeLayer1(b, left, right, n, out, capacity, false);
    case 2:
      return twolame_encode_buffer_float32(b.twolame, left, right, static_cast<int>(n), out,
                                           static_cast<int>(capacity));
    case 3: {
      int bytes = lame_encode_buffer_ieee_float(b.lame, left, right, static_cast<int>(n), out,
                                                static_cast<int>(capacity));
      NoteFirstOutput(b, out, bytes);
      return bytes < 0 ? -1 : bytes;
    }
  }
  return -1;
}

long BackendFlush(Backend& b, uint8_t* out, long capacity) {
  // Layers I and II: the analysis and synthesis filterbanks together delay the sound by 481
  // samples (512 taps each, ISO/IEC 11172-3 Annex C and 2.4.3.5). Silence of that length is
  // coded after the source, or its last samples would fall beyond the last frame.
  constexpr long FilterbankDelay = 481;
  long written = 0;
  if (b.layer == 1 || b.layer == 2) {
    static const float Silence[FilterbankDelay] = {};
    written = BackendEncode(b, Silence, Silence, FilterbankDelay, out, capacity);
    if (written < 0) return -1;
  }
  long bytes = -1;
  switch (b.layer) {
    case 1:
      bytes = EncodeLayer1(b, nullptr, nullptr, 0, out + written, capacity - written, true);
      break;
    case 2:
      bytes = twolame_encode_flush(b.twolame, out + written, static_cast<int>(capacity - written));
      break;
    case 3:
      // The library codes its own delay out.
      bytes = lame_encode_flush(b.lame, out, static_cast<int>(capacity));
      NoteFirstOutput(b, out, bytes);
      break;
  }
  return bytes < 0 ? -1 : written + bytes;
}

long BackendInfoFrame(Backend& b, uint8_t* out, long capacity) {
  if (b.layer != 3 || !b.lame || b.leadingFrames == 0) return 0;
  const size_t bytes = lame_get_lametag_frame(b.lame, out, static_cast<size_t>(capacity));
  return bytes <= static_cast<size_t>(capacity) ? static_cast<long>(bytes) : 0;
}

bool BackendWriteInfoFrame(Backend& b, int fd, uint8_t* buffer, long capacity) {
  const long bytes = BackendInfoFrame(b, buffer, capacity);
  for (long done = 0; done < bytes;) {
    const ssize_t n = pwrite(fd, buffer + done, static_cast<size_t>(bytes - done), static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == ESPIPE) return true;
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

int BackendLeadingFrames(const Backend& b) { return b.leadingFrames; }

void BackendClose(Backend& b) {
  if (b.lame) lame_close(b.lame);
  if (b.twolame) twolame_close(&b.twolame);
  b.lame = nullptr;
  b.twolame = nullptr;
}

int FrameLength(const uint8_t h[4]) {
  if (h[0] != 0xFF || (h[1] & 0xF0) != 0xF0) return 0;
  int id = (h[1] >> 3) & 1;
  int layer = (h[1] >> 1) & 3;
  int bitrateIndex = h[2] >> 4;
  int rateIndex = (h[2] >> 2) & 3;
  int padding = (h[2] >> 1) & 1;
  return FrameBytes(id, layer, FrameBitrate(id, layer, bitrateIndex), FrameSampleRate(id, rateIndex),
                    padding);
}

void CountFrames(FrameCounter& c, const uint8_t* bytes, long size) {
  long i = 0;
  while (i < size && !c.lost) {
    if (c.position < c.nextHeader) {
      uint64_t skip = c.nextHeader - c.position;
      if (skip > static_cast<uint64_t>(size - i)) skip = static_cast<uint64_t>(size - i);
      i += static_cast<long>(skip);
      c.position += skip;
      continue;
    }
    c.header[c.headerFill++] = bytes[i++];
    ++c.position;
    if (c.headerFill == 4) {
      int length = FrameLength(c.header);
      if (length <= 0) {
        c.lost = true;
        break;
      }
      ++c.frames;
      c.nextHeader += static_cast<uint64_t>(length);
      c.headerFill = 0;
    }
  }
  if (c.lost) c.position += static_cast<uint64_t>(size - i);
}
