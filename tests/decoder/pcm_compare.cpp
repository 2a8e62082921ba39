// pcm_compare REFERENCE.wav TEST.wav: compares two 16-bit PCM WAV files decoded from one stream
// by two decoders. Both must carry a canonical 44-byte header with the same channel count and
// sample rate; the PCM is aligned (within three granules) and the RMS and maximum differences are
// printed. Exits 0 when RMS < 0.80 LSB, max <= 2 LSB, the overlap covers all but at most three
// granules of the shorter file and the test file's header gives its true data size; 1 when not;
// 2 when a file cannot be read or is no WAV file.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/decoder/pcm_diff.h"

namespace {

enum CompareExit { CompareWithinLimits = 0, CompareOutsideLimits = 1, CompareBadInput = 2 };

bool ReadWholeFile(const char* path, std::vector<uint8_t>& out) {
  FILE* f = fopen(path, "rb");
  if (!f) return false;
  pcmdiff::ReadFileBytes(f, out);
  fclose(f);
  return true;
}

bool Load(const char* path, pcmdiff::WaveInfo& info, std::vector<int16_t>& samples, bool& sizeOk) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, bytes)) {
    fprintf(stderr, "pcm_compare: cannot read %s\n", path);
    return false;
  }
  info = pcmdiff::ParseWaveHeader(bytes);
  if (!info.valid || info.format != 1 || info.bitsPerSample != 16 || info.channels < 1 || info.channels > 2) {
    fprintf(stderr, "pcm_compare: %s is no 16-bit PCM WAV file with a 44-byte header\n", path);
    return false;
  }
  sizeOk = info.dataSize == bytes.size() - 44 && info.riffSize == bytes.size() - 8;
  if (!sizeOk)
    fprintf(stderr, "pcm_compare: %s: data size %u in the header, %zu in the file\n", path, info.dataSize,
            bytes.size() - 44);
  samples = pcmdiff::Samples(bytes, 44);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: pcm_compare REFERENCE.wav TEST.wav\n");
    return CompareBadInput;
  }
  pcmdiff::WaveInfo ri, ti;
  std::vector<int16_t> ref, test;
  bool refSizeOk = true, testSizeOk = true;
  if (!Load(argv[1], ri, ref, refSizeOk) || !Load(argv[2], ti, test, testSizeOk)) return CompareBadInput;
  if (ri.channels != ti.channels || ri.sampleRate != ti.sampleRate) {
    printf("format differs: reference %u ch %u Hz, test %u ch %u Hz\n", ri.channels, ri.sampleRate,
           ti.channels, ti.sampleRate);
    return CompareOutsideLimits;
  }
  const int ch = ri.channels;
  const size_t rn = ref.size() / size_t(ch), tn = test.size() / size_t(ch);
  const size_t shorter = rn < tn ? rn : tn;
  const size_t minCompared = shorter > 3 * 576 ? shorter - 3 * 576 : 1;
  const pcmdiff::DiffResult r = pcmdiff::CompareAligned(test, ref, ch, 3 * 576, minCompared);
  if (!r.valid) {
    printf("no alignment: reference %zu frames, test %zu frames\n", rn, tn);
    return CompareOutsideLimits;
  }
  printf("rms %.4f max %ld offset %ld compared %zu reflen %zu testlen %zu", r.rms, r.maxAbs, r.offset,
         r.compared, rn, tn);
  if (r.firstBad >= 0)
    printf(" first>%ld at frame %ld (granule %ld)", pcmdiff::MaxAbsLsb, r.firstBad, r.firstBadGranule);
  printf("\n");
  return pcmdiff::WithinLimits(r) && testSizeOk ? CompareWithinLimits : CompareOutsideLimits;
}
