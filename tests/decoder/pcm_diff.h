// Comparison of decoded 16-bit PCM against a reference decode, shared by the compliance test and
// the pcm_compare tool. Two decoders of the same stream may start their output at different
// points (a frame the reference leaves out, a different delay), so the streams are aligned first:
// the offset, within a few granules, with the smallest mean square difference wins, and the RMS
// and maximum difference are measured over the overlap at that offset.
//
// Limits used by the tests (ISO/IEC 11172-4 full accuracy asks RMS < 2^-15/sqrt(12) of full scale,
// i.e. 0.2887 LSB, and max <= 1 LSB for a rounding decoder; a truncating decoder adds about
// 0.71 LSB RMS and up to one more LSB against a rounded reference).
#pragma once
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tests/support/waveheader.h"

namespace pcmdiff {

inline constexpr double MaxRmsLsb = 0.80;
inline constexpr long MaxAbsLsb = 2;

struct DiffResult {
  bool valid = false;         // an overlap of at least the required size was found
  double rms = 0;             // LSB
  long maxAbs = 0;            // LSB
  long offset = 0;            // sample frames (or granules for a granule comparison): test - reference
  size_t compared = 0;        // sample frames compared
  long firstBad = -1;         // index (sample frames, from the start of the test data) of the first
                              // difference above MaxAbsLsb, -1 if none
  long firstBadGranule = -1;  // granule of the test data holding firstBad
};

// The header of a decoder's output: valid only in the canonical 44-byte layout.
using WaveInfo = WaveHeader;

inline uint32_t ReadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t ReadLe16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// Reads a whole stream from its current position; false when there is none.
inline bool ReadFileBytes(FILE* f, std::vector<uint8_t>& out) {
  out.clear();
  if (!f) return false;
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  return true;
}

inline WaveInfo ParseWaveHeader(const std::vector<uint8_t>& b) {
  WaveInfo w = ReadWaveHeader(b.data(), b.size());
  w.valid = w.valid && w.canonical;
  return w;
}

// Samples of raw little-endian PCM starting at byte `start`.
inline std::vector<int16_t> Samples(const std::vector<uint8_t>& b, size_t start) {
  std::vector<int16_t> s(b.size() > start ? (b.size() - start) / 2 : 0);
  for (size_t i = 0; i < s.size(); i++)
    s[i] = int16_t(uint16_t(b[start + 2 * i] | b[start + 2 * i + 1] << 8));
  return s;
}

// Sum of squared differences of n samples, abandoned (returns a value above `bound`) as soon as
// the partial sum exceeds the bound: a partial sum only grows.
inline double SquaredDiff(const int16_t* t, const int16_t* r, size_t n, double bound) {
  double acc = 0;
  for (size_t i = 0; i < n; i++) {
    double d = double(t[i]) - double(r[i]);
    acc += d * d;
    if ((i & 1023) == 1023 && acc > bound) return acc;
  }
  return acc;
}

// Aligns interleaved streams of `channels` channels by a sample-frame offset within
// +-maxOffset frames and measures the differences there. The overlap must cover at least
// `minCompared` frames for an offset to count.
inline DiffResult CompareAligned(const std::vector<int16_t>& test, const std::vector<int16_t>& ref,
                                 int channels, long maxOffset, size_t minCompared) {
  DiffResult best;
  const long tn = long(test.size() / channels), rn = long(ref.size() / channels);
  // Whole granules first: two decoders of one stream usually differ by whole granules, and a
  // good early candidate lets the bound abandon the other offsets quickly.
  std::vector<long> order;
  for (long g = 0; g * 576 <= maxOffset; g++) {
    order.push_back(g * 576);
    if (g) order.push_back(-g * 576);
  }
  for (long off = -maxOffset; off <= maxOffset; off++)
    if (off % 576) order.push_back(off);
  double bestMse = 1e300;
  for (long off : order) {
    const long ti = off > 0 ? off : 0, ri = off < 0 ? -off : 0;
    if (ti >= tn || ri >= rn) continue;
    const size_t n = size_t(std::min(tn - ti, rn - ri));
    if (n < minCompared || n == 0) continue;
    const double acc = SquaredDiff(test.data() + ti * channels, ref.data() + ri * channels, n * channels,
                                   bestMse * double(n * channels));
    const double mse = acc / double(n * channels);
    if (mse < bestMse) {
      bestMse = mse;
      best.valid = true;
      best.offset = off;
      best.compared = n;
    }
  }
  if (!best.valid) return best;
  const long ti = best.offset > 0 ? best.offset : 0, ri = best.offset < 0 ? -best.offset : 0;
  double acc = 0;
  for (size_t i = 0; i < best.compared * channels; i++) {
    const long d = long(test[ti * channels + i]) - long(ref[ri * channels + i]);
    acc += double(d) * double(d);
    if (labs(d) > best.maxAbs) best.maxAbs = labs(d);
    if (labs(d) > MaxAbsLsb && best.firstBad < 0) {
      best.firstBad = long(ti + i / channels);
      best.firstBadGranule = best.firstBad / 576;
    }
  }
  best.rms = std::sqrt(acc / double(best.compared * channels));
  return best;
}

// Streams whose granules carry different channel counts (a stream switching between single
// channel and stereo frames): `testLayout` and `refLayout` give each granule's channel count
// (576 samples per channel). They are aligned by whole granules within +-maxGranules; granules
// whose channel counts disagree at an offset rule that offset out.
inline DiffResult CompareGranules(const std::vector<int16_t>& test, const std::vector<int>& testLayout,
                                  const std::vector<int16_t>& ref, const std::vector<int>& refLayout,
                                  long maxGranules, size_t minGranules) {
  DiffResult best;
  auto starts = [](const std::vector<int>& layout) {
    std::vector<size_t> s(layout.size() + 1, 0);
    for (size_t i = 0; i < layout.size(); i++) s[i + 1] = s[i] + size_t(layout[i]) * 576;
    return s;
  };
  const std::vector<size_t> ts = starts(testLayout), rs = starts(refLayout);
  if (ts.back() > test.size() || rs.back() > ref.size()) return best;
  double bestMse = 1e300;
  for (long off = -maxGranules; off <= maxGranules; off++) {
    const long tg = off > 0 ? off : 0, rg = off < 0 ? -off : 0;
    const long n = std::min(long(testLayout.size()) - tg, long(refLayout.size()) - rg);
    if (n <= 0 || size_t(n) < minGranules) continue;
    bool same = true;
    size_t count = 0;
    for (long i = 0; i < n && same; i++) {
      same = testLayout[tg + i] == refLayout[rg + i];
      count += size_t(testLayout[tg + i]) * 576;
    }
    if (!same) continue;
    // The granules of both sides are consecutive, so the overlap is one contiguous run.
    const double acc = SquaredDiff(test.data() + ts[tg], ref.data() + rs[rg], count, bestMse * double(count));
    if (acc / double(count) < bestMse) {
      bestMse = acc / double(count);
      best.valid = true;
      best.offset = off;
      best.compared = size_t(n);
    }
  }
  if (!best.valid) return best;
  const long tg = best.offset > 0 ? best.offset : 0, rg = best.offset < 0 ? -best.offset : 0;
  double acc = 0;
  size_t count = 0;
  for (size_t g = 0; g < best.compared; g++) {
    const size_t len = size_t(testLayout[tg + g]) * 576;
    const int16_t* t = test.data() + ts[tg + g];
    const int16_t* r = ref.data() + rs[rg + g];
    for (size_t i = 0; i < len; i++) {
      const long d = long(t[i]) - long(r[i]);
      acc += double(d) * double(d);
      if (labs(d) > best.maxAbs) best.maxAbs = labs(d);
      if (labs(d) > MaxAbsLsb && best.firstBad < 0) {
        best.firstBadGranule = long(tg + g);
        best.firstBad = long(i / size_t(testLayout[tg + g]));  // sample frame within the granule
      }
    }
    count += len;
  }
  best.rms = std::sqrt(acc / double(count));
  return best;
}

inline bool WithinLimits(const DiffResult& r) {
  return r.valid && r.rms < MaxRmsLsb && r.maxAbs <= MaxAbsLsb;
}

}  // namespace pcmdiff
