// Layer I encoder: filterbank, scalefactors, bit allocation and the frame format of
// ISO/IEC 11172-3 clause 2.4 (Layer I) and Annex C, with the lower sampling frequencies of
// ISO/IEC 13818-3 (ID = 0).
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "decoder/tables/frame_rates.h"
#include "tools/tompg/layer1_internal.h"

namespace {

// Layer I bitrates in kbit/s by bitrate_index 1..14 for header ID 0 or 1 (the frame header's
// table shared with the decoder; entry 0 is free format).
const int16_t* LayerOneBitrates(int id) { return &FrameBitrateTable[id][0][1]; }

// Returns the ID (0 or 1) and the field value, or -1 for a rate Layer I cannot code.
int RateId(int sampleRate, int& freqIndex) {
  for (int i = 0; i < 3; ++i) {
    if (FrameSampleRateTable[1][i] == sampleRate) {
      freqIndex = i;
      return 1;
    }
    if (FrameSampleRateTable[0][i] == sampleRate) {
      freqIndex = i;
      return 0;
    }
  }
  return -1;
}

struct BitWriter {
  uint8_t* data;
  int size;    // bytes
  int bitPos;  // next bit to write
};

// Writes the n (<= 16) low bits of value, most significant first. The caller has checked
// that the frame fits; the bound check only keeps a wrong count from writing past the end.
void PutBits(BitWriter& w, unsigned value, int n) {
  while (n > 0) {
    const int byte = w.bitPos >> 3;
    if (byte >= w.size) {
      return;
    }
    const int room = 8 - (w.bitPos & 7);
    const int take = n < room ? n : room;
    const unsigned part = (value >> (n - take)) & ((1u << take) - 1u);
    w.data[byte] = static_cast<uint8_t>(w.data[byte] | (part << (room - take)));
    w.bitPos += take;
    n -= take;
  }
}

// Scalefactors of ISO/IEC 11172-3 Table 3-B.1, 2.0 * 2^(-i/3): a power of two times
// 1, 2^(-1/3) or 2^(-2/3).
struct ScalefactorTable {
  float value[63];
  constexpr ScalefactorTable() : value() {
    const double thirds[3] = {1.0, 0.79370052598409973738, 0.62996052494743658238};  // 2^(-1/3), 2^(-2/3)
    for (int i = 0; i < 63; ++i) {
      double v = 2.0 * thirds[i % 3];
      for (int k = 0; k < i / 3; ++k) {
        v *= 0.5;
      }
      value[i] = static_cast<float>(v);
    }
  }
};
constexpr ScalefactorTable Scalefactors;

// Where the factors of the size-n stage of the fast matrixing start: 16 for n = 32 at 0,
// 8 for n = 16 at 16, then 24, 28, 30.
constexpr int DctOffset(int n) { return 32 - n; }

// y[i] = sum_k x[k] cos((2i+1) k pi / 2n), i, k < n (the matrixing folded onto 32 terms is
// this with n = 32), by even/odd splitting: the even-indexed terms form a size n/2 transform
// that is symmetric about the middle, the odd-indexed ones, paired as x[2j+1] + x[2j-1],
// another one that, divided by 2 cos((2i+1) pi / 2n), is antisymmetric. n log n work in
// place of n^2.
template <int N>
void Dct3(const float* scale, const float* x, float* y) {
  if constexpr (N == 1) {
    y[0] = x[0];
  } else {
    constexpr int h = N / 2;
    float even[h];
    float odd[h];
    for (int j = 0; j < h; ++j) {
      even[j] = x[2 * j];
      odd[j] = x[2 * j + 1] + (j > 0 ? x[2 * j - 1] : 0.0f);
    }
    float e[h];
    float o[h];
    Dct3<h>(scale, even, e);
    Dct3<h>(scale, odd, o);
    const float* factor = scale + DctOffset(N);
    for (int i = 0; i < h; ++i) {
      const float t = o[i] * factor[i];
      y[i] = e[i] + t;
      y[N - 1 - i] = e[i] - t;
    }
  }
}

}  // namespace

const float Layer1SnrDb[15] = {0.00f,  7.00f,  16.00f, 25.28f, 31.59f, 37.75f, 43.84f, 49.89f,
                               55.93f, 61.96f, 67.98f, 74.01f, 80.03f, 86.05f, 92.01f};

float Layer1Scalefactor(int index) { return index >= 0 && index < 63 ? Scalefactors.value[index] : 0.0f; }

int Layer1ScalefactorIndex(float maxAbs) {
  // The table falls by 2^(1/3) per step; start from the estimate and correct by one step
  // either way so that the exact float comparison decides.
  if (!(maxAbs > 0.0f)) {
    return 62;
  }
  int i = static_cast<int>(std::floor(3.0 * std::log2(2.0 / maxAbs)));
  if (i < 0) {
    return 0;
  }
  if (i > 62) {
    i = 62;
  }
  while (i > 0 && Layer1Scalefactor(i) < maxAbs) {
    --i;
  }
  while (i < 62 && Layer1Scalefactor(i + 1) >= maxAbs) {
    ++i;
  }
  return i;
}

int Layer1Quantize(float x, int nb) {
  // (A*x + B) truncated to nb bits with the MSB inverted equals floor(N (x + 1) / 2) for
  // N = 2^nb - 1 steps; the all-ones code is never produced (it could imitate a sync word).
  const int steps = (1 << nb) - 1;
  const int code = static_cast<int>(std::floor(static_cast<float>(steps) * (x + 1.0f) * 0.5f));
  if (code < 0) {
    return 0;
  }
  if (code > steps - 1) {
    return steps - 1;
  }
  return code;
}

void Layer1InitFilterbank(Layer1Encoder& enc) {
  for (int i = 0; i < 512; ++i) {
    enc.window[i] = static_cast<float>(Layer1WindowK[i] / 2097152.0);  // k / 2^21
  }
  // Factors 1 / (2 cos((2i+1) pi / 2n)) of each stage of the fast matrixing (see Dct3).
  const double pi = 3.14159265358979323846;
  for (int n = 32; n >= 2; n /= 2) {
    for (int i = 0; i < n / 2; ++i) {
      enc.dctScale[DctOffset(n) + i] = static_cast<float>(0.5 / std::cos((2 * i + 1) * pi / (2.0 * n)));
    }
  }
}

void Layer1AnalysisStep(const Layer1Encoder& enc, float* fifo, const float* in32, float* out32) {
  std::memmove(fifo + 32, fifo, 480 * sizeof(float));
  for (int i = 0; i < 32; ++i) {
    fifo[31 - i] = in32[i];  // the first sample read goes to X[31], the last to X[0]
  }
  float y[64];
  for (int i = 0; i < 64; ++i) {
    float sum = 0.0f;
    for (int j = 0; j < 8; ++j) {
      sum += enc.window[i + 64 * j] * fifo[i + 64 * j];
    }
    y[i] = sum;
  }
  // Matrixing S[i] = sum_k cos((2i+1)(k-16) pi/64) Y[k], folded onto m = |k-16| = 0..31:
  // cos is even in (k-16), k = 48 contributes nothing, and k = 49..63 mirror m = 31..17
  // with the opposite sign.
  float z[32];
  z[0] = y[16];
  for (int m = 1; m <= 16; ++m) {
    z[m] = y[16 + m] + y[16 - m];
  }
  for (int m = 17; m < 32; ++m) {
    z[m] = y[16 + m] - y[80 - m];
  }
  Dct3<32>(enc.dctScale, z, out32);
}

namespace {

// Min-heap of allocation candidates ordered by mask-to-noise ratio, then by index (channel * 32
// + subband) so that equal ratios are served from the lowest subband up.
struct CandidateHeap {
  float mnr[64];
  int index[64];
  int size;
};

bool Before(const CandidateHeap& h, int a, int b) {
  return h.mnr[a] < h.mnr[b] || (h.mnr[a] == h.mnr[b] && h.index[a] < h.index[b]);
}

void Swap(CandidateHeap& h, int a, int b) {
  const float m = h.mnr[a];
  h.mnr[a] = h.mnr[b];
  h.mnr[b] = m;
  const int i = h.index[a];
  h.index[a] = h.index[b];
  h.index[b] = i;
}

void SiftDown(CandidateHeap& h, int pos) {
  for (;;) {
    int smallest = pos;
    const int l = 2 * pos + 1;
    const int r = l + 1;
    if (l < h.size && Before(h, l, smallest)) {
      smallest = l;
    }
    if (r < h.size && Before(h, r, smallest)) {
      smallest = r;
    }
    if (smallest == pos) {
      return;
    }
    Swap(h, pos, smallest);
    pos = smallest;
  }
}

}  // namespace

int Layer1Allocate(const float (*smr)[32], const bool (*active)[32], int channels, int availableBits,
                   int (*alloc)[32], int bound) {
  if (channels < 2) {
    bound = 32;
  }
  CandidateHeap heap;
  heap.size = 0;
  for (int ch = 0; ch < channels; ++ch) {
    for (int sb = 0; sb < 32; ++sb) {
      alloc[ch][sb] = 0;
      // From the bound up the subband is one candidate, the first channel's.
      if (active[ch][sb] && (ch == 0 || sb < bound)) {
        heap.mnr[heap.size] = Layer1SnrDb[0] - smr[ch][sb];
        heap.index[heap.size] = ch * 32 + sb;
        ++heap.size;
      }
    }
  }
  for (int i = heap.size / 2 - 1; i >= 0; --i) {
    SiftDown(heap, i);
  }
  int left = availableBits;
  // The lowest ratio takes one step at a time; a subband leaves when it has 15 bits per
  // sample or its next step no longer fits (the bits left only shrink).
  while (heap.size > 0) {
    const int ch = heap.index[0] / 32;
    const int sb = heap.index[0] % 32;
    int& a = alloc[ch][sb];
    // The first step costs the 6-bit scalefactor (two of them for an intensity coded
    // subband) and 2 bits for each of the 12 samples; each further step one bit per sample.
    const int cost = a == 0 ? (sb >= bound ? 12 : 6) + 24 : 12;
    const bool fits = cost <= left;
    if (fits) {
      left -= cost;
      ++a;
    }
    if (!fits || a >= 14) {
      --heap.size;
      heap.mnr[0] = heap.mnr[heap.size];
      heap.index[0] = heap.index[heap.size];
    } else {
      heap.mnr[0] = Layer1SnrDb[a] - smr[ch][sb];
    }
    SiftDown(heap, 0);
  }
  for (int sb = bound; sb < 32 && channels == 2; ++sb) {
    alloc[1][sb] = alloc[0][sb];
  }
  return availableBits - left;
}

namespace {

// Whether a frame at this rate has room for the header and the allocations of all channels.
bool FrameHoldsAllocations(int id, int sampleRate, int kbps, int codedChannels) {
  const int bits = FrameBytes(id, 3, kbps, sampleRate, 0) * 8;  // unpadded frame
  return bits >= 32 + 4 * 32 * codedChannels;
}

}  // namespace

int Layer1NearestBitrate(int sampleRate, int wantedKbps, int codedChannels) {
  int freqIndex = 0;
  const int id = RateId(sampleRate, freqIndex);
  if (id < 0) {
    return 0;
  }
  const int16_t* table = LayerOneBitrates(id);
  int best = 0;
  for (int i = 0; i < 14; ++i) {
    if (!FrameHoldsAllocations(id, sampleRate, table[i], codedChannels)) {
      continue;
    }
    // On a tie the higher rate wins: more bits never sound worse.
    if (best == 0 || std::abs(table[i] - wantedKbps) <= std::abs(best - wantedKbps)) {
      best = table[i];
    }
  }
  return best;
}

bool Layer1Init(Layer1Encoder& enc, int sampleRate, int channels, int mode, int bitrateKbps) {
  std::memset(&enc, 0, sizeof enc);
  int freqIndex = 0;
  const int id = RateId(sampleRate, freqIndex);
  if (id < 0 || channels < 1 || channels > 2 || mode < 0 || mode > 3) {
    return false;
  }
  if (mode == 3 && channels != 1) {
    return false;
  }
  const int16_t* table = LayerOneBitrates(id);
  int bitrateIndex = 0;
  for (int i = 0; i < 14; ++i) {
    if (table[i] == bitrateKbps) {
      bitrateIndex = i + 1;
    }
  }
  if (bitrateIndex == 0 || !FrameHoldsAllocations(id, sampleRate, bitrateKbps, mode == 3 ? 1 : 2)) {
    return false;
  }
  enc.sampleRate = sampleRate;
  enc.channels = channels;
  enc.mode = mode;
  enc.bitrateKbps = bitrateKbps;
  enc.id = id;
  enc.bitrateIndex = bitrateIndex;
  enc.freqIndex = freqIndex;
  enc.codedChannels = mode == 3 ? 1 : 2;
  // Slots of 4 bytes per frame: 12 * bitrate / sampling frequency (ISO/IEC 11172-3 2.4.3.1);
  // the whole slots are the frame length, the fraction left over decides the padding.
  enc.slotRemainder = 12 * bitrateKbps * 1000 % sampleRate;
  enc.slotAccumulator = 0;
  // The threshold in quiet is lowered by 12 dB at 96 kbit/s per channel and above, where the
  // bits allow coding below it (ISO/IEC 11172-3 Annex D, psychoacoustic model 1).
  enc.athOffsetDb = bitrateKbps / enc.codedChannels >= 96 ? -12.0f : 0.0f;
  Layer1InitFilterbank(enc);
  Layer1InitPsycho(enc);
  return true;
}

namespace {

// Lowest mask-to-noise ratio over the coded subbands of an allocation.
float LowestMnr(const float (*smr)[32], const bool (*active)[32], const int (*alloc)[32], int bound) {
  float lowest = 1e30f;
  for (int ch = 0; ch < 2; ++ch) {
    for (int n = 0; n < (ch == 0 ? 32 : bound); ++n) {
      if (active[ch][n]) {
        lowest = std::fmin(lowest, Layer1SnrDb[alloc[ch][n]] - smr[ch][n]);
      }
    }
  }
  return lowest;
}

// Joint stereo frame (ISO/IEC 11172-3 2.4.2.3, intensity stereo in Layer I): subbands from the
// bound up carry the sum signal once, with a scalefactor per channel. The bound is 16 unless the
// bits run short of the masking threshold; then the lowest of 12, 8, 4 that helps enough.
void ChooseIntensity(const float (*sb)[12][32], const float (*smr)[32], const bool (*active)[32],
                     int frameBits, float (*joint)[32], int* jointIndex, int (*intensityIndex)[32],
                     int (*alloc)[32], int& bound) {
  float jointSmr[2][32];
  bool jointActive[2][32];
  bool sumActive[32];
  for (int n = 0; n < 32; ++n) {
    float energy[2] = {};
    float sumEnergy = 0.0f;
    float peak = 0.0f;
    for (int s = 0; s < 12; ++s) {
      const float l = sb[0][s][n];
      const float r = sb[1][s][n];
      const float m = 0.5f * (l + r);
      joint[s][n] = m;
      energy[0] += l * l;
      energy[1] += r * r;
      sumEnergy += m * m;
      peak = std::fmax(peak, std::fabs(m));
    }
    jointIndex[n] = Layer1ScalefactorIndex(peak);
    const float jointScf = Layer1Scalefactor(jointIndex[n]);
    for (int ch = 0; ch < 2; ++ch) {
      // The channel comes back as its scalefactor times the normalised sum: pick the
      // scalefactor (nearest on the 2 dB grid) that gives it its own energy.
      int index = 62;
      if (sumEnergy > 0.0f && energy[ch] > 0.0f) {
        const float target = jointScf * std::sqrt(energy[ch] / sumEnergy);
        index = static_cast<int>(std::lround(3.0 * std::log2(2.0 / target)));
        index = index < 0 ? 0 : (index > 62 ? 62 : index);
      }
      intensityIndex[ch][n] = index;
    }
    sumActive[n] = peak > 1e-7f;
    jointSmr[1][n] = smr[1][n];
    jointActive[1][n] = active[1][n];
  }
  int trial[2][32];
  float bestMnr = -1e30f;
  for (int candidate = 16; candidate >= 4; candidate -= 4) {
    for (int n = 0; n < 32; ++n) {
      const bool shared = n >= candidate;
      jointSmr[0][n] = shared ? std::fmax(smr[0][n], smr[1][n]) : smr[0][n];
      jointActive[0][n] = shared ? sumActive[n] : active[0][n];
    }
    const int available = frameBits - 32 - 4 * (2 * candidate + (32 - candidate));
    Layer1Allocate(jointSmr, jointActive, 2, available, trial, candidate);
    const float mnr = LowestMnr(jointSmr, jointActive, trial, candidate);
    if (candidate == 16 || mnr > bestMnr + 3.0f) {
      bestMnr = mnr;
      bound = candidate;
      std::memcpy(alloc, trial, sizeof trial);
    }
    if (bestMnr >= 0.0f) {
      break;
    }
  }
}

}  // namespace

int Layer1EncodeFrame(Layer1Encoder& enc, const float* left, const float* right, uint8_t* out, int outSize) {
  if (enc.bitrateIndex == 0 || left == nullptr || out == nullptr) {
    return -1;
  }
  const int nch = enc.codedChannels;
  const float* input[2] = {left, left};  // a mono source in a two-channel mode is coded in both
  if (nch == 2 && enc.channels == 2) {
    if (right == nullptr) {
      return -1;
    }
    input[1] = right;
  }

  // padding_bit: one more slot whenever the carried fractions of a slot add up to one.
  int accumulator = enc.slotAccumulator + enc.slotRemainder;
  int padding = 0;
  if (accumulator >= enc.sampleRate) {
    accumulator -= enc.sampleRate;
    padding = 1;
  }
  const int frameBytes = FrameBytes(enc.id, 3, enc.bitrateKbps, enc.sampleRate, padding);
  if (frameBytes > outSize) {
    return -1;
  }
  enc.slotAccumulator = accumulator;

  float sb[2][12][32];
  float scfMax[2][32];
  int scfIndex[2][32];
  float smr[2][32];
  bool active[2][32];
  for (int ch = 0; ch < nch; ++ch) {
    float* buf = enc.psyBuf[ch];
    for (int i = 0; i < 384; ++i) {
      // NaN, infinities and huge values would poison the FIFO and overflow the
      // arithmetic; anything beyond twice full scale is an overload anyway.
      const float v = input[ch][i];
      buf[512 + i] = std::isfinite(v) ? std::fmin(std::fmax(v, -2.0f), 2.0f) : 0.0f;
    }
    for (int s = 0; s < 12; ++s) {
      Layer1AnalysisStep(enc, enc.fifo[ch], buf + 512 + 32 * s, sb[ch][s]);
    }
    for (int n = 0; n < 32; ++n) {
      float m = 0.0f;
      for (int s = 0; s < 12; ++s) {
        m = std::fmax(m, std::fabs(sb[ch][s][n]));
      }
      scfMax[ch][n] = m;
      scfIndex[ch][n] = Layer1ScalefactorIndex(m);
      // A subband whose samples would all quantise to the middle level carries nothing.
      active[ch][n] = m > 1e-7f;
    }
    // The subband samples of this frame are centred about 49 samples before its first
    // input sample (the FIFO delays by 256 less half a frame); so is the FFT block.
    Layer1Psycho(enc, buf + 512 - 305, scfMax[ch], smr[ch]);
    std::memmove(buf, buf + 384, 512 * sizeof(float));
  }

  const int frameBits = frameBytes * 8;
  int alloc[2][32];
  int bound = 32;
  // Intensity coding (joint stereo): the sum signal of each subband and, per channel, the
  // scalefactor that restores the channel's energy from it.
  float joint[12][32];
  int jointIndex[32];
  int intensityIndex[2][32];
  if (enc.mode == 1) {
    ChooseIntensity(sb, smr, active, frameBits, joint, jointIndex, intensityIndex, alloc, bound);
  } else if (enc.mode == 2) {
    // Dual channel: two independent programmes, each gets half of the bits.
    const int available = frameBits - 32 - 4 * 32 * 2;
    Layer1Allocate(&smr[0], &active[0], 1, available / 2, &alloc[0]);
    Layer1Allocate(&smr[1], &active[1], 1, available / 2, &alloc[1]);
  } else {
    // Header 32 bits, no CRC, 4 allocation bits per subband and channel.
    Layer1Allocate(smr, active, nch, frameBits - 32 - 4 * 32 * nch, alloc);
  }

  std::memset(out, 0, static_cast<size_t>(frameBytes));
  BitWriter w{out, frameBytes, 0};
  // Header, ISO/IEC 11172-3 2.4.1.3.
  PutBits(w, 0xFFF, 12);  // syncword
  PutBits(w, static_cast<unsigned>(enc.id), 1);
  PutBits(w, 3, 2);  // layer '11' = Layer I
  PutBits(w, 1, 1);  // protection_bit: no CRC
  PutBits(w, static_cast<unsigned>(enc.bitrateIndex), 4);
  PutBits(w, static_cast<unsigned>(enc.freqIndex), 2);
  PutBits(w, static_cast<unsigned>(padding), 1);
  PutBits(w, 0, 1);  // private_bit
  PutBits(w, static_cast<unsigned>(enc.mode), 2);
  PutBits(w, enc.mode == 1 ? static_cast<unsigned>(bound / 4 - 1) : 0u, 2);  // mode_extension
  PutBits(w, 0, 1);                                                          // copyright
  PutBits(w, 1, 1);                                                          // original
  PutBits(w, 0, 2);                                                          // emphasis: none

  // audio_data, ISO/IEC 11172-3 2.4.1.5: allocations, scalefactors, then the samples in the
  // order sample, subband, channel; from the bound up one allocation and one sample serve
  // both channels.
  for (int n = 0; n < 32; ++n) {
    for (int ch = 0; ch < (n < bound ? nch : 1); ++ch) {
      PutBits(w, static_cast<unsigned>(alloc[ch][n]), 4);
    }
  }
  for (int n = 0; n < 32; ++n) {
    for (int ch = 0; ch < nch; ++ch) {
      if (alloc[ch][n] != 0) {
        PutBits(w, static_cast<unsigned>(n < bound ? scfIndex[ch][n] : intensityIndex[ch][n]), 6);
      }
    }
  }
  float invScf[2][32];
  for (int n = 0; n < 32; ++n) {
    for (int ch = 0; ch < nch; ++ch) {
      invScf[ch][n] = 1.0f / Layer1Scalefactor(n < bound ? scfIndex[ch][n] : jointIndex[n]);
    }
  }
  for (int s = 0; s < 12; ++s) {
    for (int n = 0; n < 32; ++n) {
      for (int ch = 0; ch < (n < bound ? nch : 1); ++ch) {
        const int nb = alloc[ch][n] + 1;
        if (nb > 1) {
          const float v = n < bound ? sb[ch][s][n] : joint[s][n];
          PutBits(w, static_cast<unsigned>(Layer1Quantize(v * invScf[ch][n], nb)), nb);
        }
      }
    }
  }
  // The rest of the frame stays zero (no ancillary data).
  return frameBytes;
}
