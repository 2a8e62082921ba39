// The three layer encoders behind one set of calls: Layer I is our own (layer1.h), Layer II is
// libtwolame, Layer III is libmp3lame (constant bitrate, no ID3 tags, and an encoder information
// frame in front, so that decoders give back exactly the source's samples).
#pragma once

#include <cstdint>

#include "tools/tompg/layer1.h"

struct lame_global_struct;
struct twolame_options_struct;

struct Backend {
  int layer = 0;     // 1..3
  int channels = 0;  // coded channels: 1 for mono, else 2
  lame_global_struct* lame = nullptr;
  twolame_options_struct* twolame = nullptr;
  Layer1Encoder layer1{};
  float pending[2][384]{};  // Layer I: samples waiting for a whole frame
  int pendingCount = 0;
  bool outputSeen = false;  // the library has written its first bytes
  int leadingFrames = 0;    // frames without audio at the start: Layer III's information frame
};

// Output room that one BackendEncode call of BackendMaxSamples samples, or a flush, never
// exceeds: 4608 samples are at most four Layer III frames plus the bit reservoir, or twelve
// Layer I frames of at most 768 bytes.
constexpr long BackendMaxSamples = 4608;
constexpr long BackendOutputBytes = 65536;

// Sets up the encoder; false when the library refuses the settings.
bool BackendOpen(Backend& b, int layer, int sampleRate, int channels, int mode, int kbps);

// Encodes n (at most BackendMaxSamples) samples per channel, full scale 1.0; right is ignored for
// one channel. Returns the bytes written into out, or -1 on an error.
long BackendEncode(Backend& b, const float* left, const float* right, long n, uint8_t* out, long capacity);

// Codes what the encoder still holds, including the samples that the filterbanks' delay holds
// back; the last frame is padded with silence.
long BackendFlush(Backend& b, uint8_t* out, long capacity);

// Layer III: the encoder information frame ("Info", with the LAME extension's encoder delay and
// padding), complete once the stream is flushed. It takes the place of the first frame of the
// stream, which the library wrote as a frame of the same length without audio. Returns its length
// in bytes (0 for Layers I and II, or when the library has none).
long BackendInfoFrame(Backend& b, uint8_t* out, long capacity);
// Writes the information frame over the first frame of the output open on fd (buffer: capacity
// bytes of room). True when it was written or there is none; an output that cannot seek (a pipe)
// keeps the library's frame without the facts. False, with errno set, when the write failed.
bool BackendWriteInfoFrame(Backend& b, int fd, uint8_t* buffer, long capacity);
// Frames at the start of the stream that hold no audio: 1 when Layer III starts with the
// information frame (the library leaves it out at bitrates whose frames cannot hold it, as the
// lame program does), else 0. Known from the first bytes the library writes.
int BackendLeadingFrames(const Backend& b);

void BackendClose(Backend& b);

// Counts the frames of an MPEG audio stream as its bytes go by, from the frame headers
// (ISO/IEC 11172-3 2.4.2.3; frame lengths per 2.4.3.1 and ISO/IEC 13818-3).
struct FrameCounter {
  uint64_t position = 0;    // stream bytes seen
  uint64_t nextHeader = 0;  // where the next frame header starts
  uint8_t header[4]{};
  int headerFill = 0;
  uint32_t frames = 0;
  bool lost = false;  // a header did not parse: counting stopped
};

void CountFrames(FrameCounter& counter, const uint8_t* bytes, long size);

// Length in bytes of the frame with this header, or 0 when it is not a valid header.
int FrameLength(const uint8_t header[4]);
