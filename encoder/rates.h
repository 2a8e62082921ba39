// The formats the encoder offers and the window lists: the twelve total bitrates and the four
// channel-mode names, numbered as every Bitrate and ChannelMode is; and the sample rates and
// bitrates each layer can code, with the choice of the nearest one.
#pragma once
#include <cstdint>

// Total bitrates in kbit/s, indexed by a WAV entry's Bitrate and the items of the bitrate lists.
constexpr int BitrateCount = 12;
extern const uint32_t BitrateTable[BitrateCount];
// Channel mode names, each in a fixed 20-character slot, indexed by ChannelMode.
extern const char ModeNameTable[4][20];

// Channel modes of the command line and of the frame header (ISO/IEC 11172-3 2.4.2.3).
enum ChannelMode { ModeStereo = 0, ModeJointStereo = 1, ModeDualChannel = 2, ModeMono = 3 };

// The coded sample rate for a source rate: the source rate when MPEG-1 (32, 44.1, 48 kHz) or
// MPEG-2 lower sampling frequencies (16, 22.05, 24 kHz) have it, else the nearest of these six
// (a tie goes to the higher rate).
int CodedSampleRate(int sourceRate);

// True for the three MPEG-2 lower sampling frequencies.
bool IsLowSamplingFrequency(int sampleRate);

// The legal total bitrate (kbit/s) nearest to wantedKbps for a layer (1..3) at a coded sample
// rate and channel mode. A tie goes to the higher bitrate: the listener asked for at least that
// quality. MPEG-1 Layer II also obeys the allowed bitrate and mode combinations of
// ISO/IEC 11172-3 2.4.2.3. Returns 0 for a sample rate no layer codes.
//
// The host's twelve totals (56 64 80 96 112 128 144 160 192 224 256 320 kbit/s) come out as:
//   MPEG-1 Layer I                   64  64  96  96 128 128 160 160 192 224 256 320
//   MPEG-1 Layer II, two channels    64  64  96  96 112 128 160 160 192 224 256 320
//   MPEG-1 Layer II, mono            56  64  80  96 112 128 160 160 192 192 192 192
//   MPEG-1 Layer III                 56  64  80  96 112 128 160 160 192 224 256 320
//   MPEG-2 LSF Layer I               56  64  80  96 112 128 144 160 192 224 256 256
//   MPEG-2 LSF Layers II and III     56  64  80  96 112 128 144 160 160 160 160 160
int NearestBitrate(int layer, int sampleRate, int mode, int wantedKbps);
