#include "decoder/tables/frame_rates.h"

const int16_t FrameBitrateTable[2][3][15] = {
    {
        // ID 0: lower sampling frequencies
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},  // Layer I
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},       // Layer II
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},       // Layer III
    },
    {
        // ID 1: MPEG-1
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // Layer I
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // Layer II
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // Layer III
    },
};

const int32_t FrameSampleRateTable[2][3] = {{22050, 24000, 16000}, {44100, 48000, 32000}};

int FrameBitrate(int id, int layer, int bitrate_index) {
  if (id < 0 || id > 1 || layer < 1 || layer > 3 || bitrate_index < 0 || bitrate_index > 14) return 0;
  return FrameBitrateTable[id][3 - layer][bitrate_index];
}

int FrameSampleRate(int id, int sampling_frequency) {
  if (id < 0 || id > 1 || sampling_frequency < 0 || sampling_frequency > 2) return 0;
  return FrameSampleRateTable[id][sampling_frequency];
}

const int32_t Mpeg25SampleRateTable[3] = {11025, 12000, 8000};

int HeaderSampleRate(int id, int mpeg25, int sampling_frequency) {
  if (!mpeg25) return FrameSampleRate(id, sampling_frequency);
  if (id != 0 || sampling_frequency < 0 || sampling_frequency > 2) return 0;
  return Mpeg25SampleRateTable[sampling_frequency];
}

int FrameBytes(int id, int layer, int kbps, int sample_rate, int padding_bit) {
  if (id < 0 || id > 1 || layer < 1 || layer > 3 || kbps <= 0 || sample_rate <= 0) return 0;
  const int padding = padding_bit & 1;
  // Layer I: 384 samples in 4-byte slots. Layer II: 1152 samples. Layer III: 1152 samples for
  // ID 1, 576 for the lower sampling frequencies (one granule).
  if (layer == 3) return (12000 * kbps / sample_rate + padding) * 4;
  const int perKbps = layer == 1 && id == 0 ? 72000 : 144000;  // samples per frame / 8 x 1000
  return perKbps * kbps / sample_rate + padding;
}
