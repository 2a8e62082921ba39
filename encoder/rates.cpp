#include "encoder/rates.h"

#include <cstdlib>

#include "decoder/tables/frame_rates.h"

const uint32_t BitrateTable[BitrateCount] = {56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320};
const char ModeNameTable[4][20] = {"Stereo", "Joint stereo", "Dual", "Mono"};

namespace {

constexpr int CodedRates[] = {16000, 22050, 24000, 32000, 44100, 48000};

// MPEG-1 Layer II: 32, 48, 56 and 80 kbit/s only in single channel mode; 224 kbit/s and above
// only in the two-channel modes (ISO/IEC 11172-3 2.4.2.3).
bool Layer2Allows(int kbps, int mode) {
  if (mode == ModeMono) return kbps <= 192;
  return kbps != 32 && kbps != 48 && kbps != 56 && kbps != 80;
}

}  // namespace

bool IsLowSamplingFrequency(int sampleRate) {
  return sampleRate == 16000 || sampleRate == 22050 || sampleRate == 24000;
}

int CodedSampleRate(int sourceRate) {
  int best = CodedRates[0];
  for (int rate : CodedRates) {
    if (std::abs(rate - sourceRate) <= std::abs(best - sourceRate)) best = rate;
  }
  return best;
}

int NearestBitrate(int layer, int sampleRate, int mode, int wantedKbps) {
  bool known = false;
  for (int rate : CodedRates) known = known || rate == sampleRate;
  if (!known || layer < 1 || layer > 3) return 0;
  bool lsf = IsLowSamplingFrequency(sampleRate);
  // bitrate_index 1..14 of the frame header's table shared with the decoder (ISO/IEC 11172-3
  // and ISO/IEC 13818-3, Table 2.4.2.3).
  const int16_t* table = &FrameBitrateTable[lsf ? 0 : 1][layer - 1][1];
  int best = 0;
  for (int i = 0; i < 14; ++i) {
    int kbps = table[i];
    if (layer == 2 && !lsf && !Layer2Allows(kbps, mode)) continue;
    // Ascending table: "<=" lets the higher of two equally near bitrates win.
    if (best == 0 || std::abs(kbps - wantedKbps) <= std::abs(best - wantedKbps)) best = kbps;
  }
  return best;
}
