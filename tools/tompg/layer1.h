// MPEG audio Layer I encoder (ISO/IEC 11172-3 clause 2.4 and Annexes C/D; the lower sampling
// frequencies of ISO/IEC 13818-3). One frame carries 384 samples per channel.
#pragma once

#include <cstdint>

struct Layer1Encoder {
  int sampleRate;        // 32000/44100/48000 (ID = 1) or 16000/22050/24000 (ID = 0)
  int channels;          // input channels, 1 or 2
  int mode;              // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
  int bitrateKbps;       // total bitrate of the stream
  int id;                // header field ID: 1 MPEG-1, 0 MPEG-2 lower sampling frequencies
  int bitrateIndex;      // header field bitrate_index
  int freqIndex;         // header field sampling_frequency
  int codedChannels;     // channels in the stream: 1 for mode 3, else 2
  int slotRemainder;     // fractional slots per frame times sampleRate: drives padding_bit
  int slotAccumulator;   // fractional slots carried over, times sampleRate
  float athOffsetDb;     // shift of the absolute threshold (lower at high bitrates)
  float fifo[2][512];    // analysis FIFO X[], newest sample at [0]
  float psyBuf[2][896];  // the last 512 input samples before this frame, then the frame
  float window[512];     // analysis window C[i]
  float dctScale[32];    // 1 / (2 cos((2i+1) pi / 2n)) of the fast matrixing, n = 32, 16, .., 2
  float hann[512];       // FFT window of the psychoacoustic model
  float twiddle[256][2];
  float barkLine[257];  // critical band rate of each FFT line
  float athLine[257];   // absolute threshold of each FFT line, model dB
};

// sampleRate one of 32000/44100/48000 (MPEG-1) or 16000/22050/24000 (MPEG-2 LSF);
// channels 1 or 2; mode 0 stereo, 1 joint stereo, 2 dual, 3 mono (mono needs channels == 1);
// bitrateKbps total, must be legal for Layer I at that rate (see Layer1NearestBitrate); false
// for anything else, including a two-channel mode whose frames cannot hold the allocations.
bool Layer1Init(Layer1Encoder& enc, int sampleRate, int channels, int mode, int bitrateKbps);

// Nearest legal Layer I total bitrate for a wanted one at a sample rate (0 for a rate that
// Layer I cannot code). With codedChannels == 2 it skips the rates whose frames are too short
// for the header and two channels' allocations (32 kbit/s at 44.1 and 48 kHz).
int Layer1NearestBitrate(int sampleRate, int wantedKbps, int codedChannels = 1);

// Encodes one frame of 384 samples per channel (float, full scale = 1.0; right ignored when
// channels == 1) into out; returns the frame's byte count (or -1 on error: out too small, the
// record not initialised, right missing for two channels). A decoder's output lags the input
// by 481 samples (filterbank delay): the last 481 input samples come out only if one more frame
// (of silence) follows them. Joint stereo frames carry intensity stereo from subband 16 up
// (lower, down to 4, when the bits run short of the masking threshold).
int Layer1EncodeFrame(Layer1Encoder& enc, const float* left, const float* right, uint8_t* out, int outSize);

// Longest Layer I frame in bytes: 256 kbit/s at 16 kHz, 12 * 256000 / 16000 = 192 slots of 4.
constexpr int Layer1MaxFrameBytes = 768;
