// Whole decodes of damaged or unusual streams: cut-off files, bytes after the last frame, and the
// regression corpus of awkward streams (tests/decoder/regressions/).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "decoder/decoder.h"
#include "tests/decoder/decode_file.h"
#include "tests/decoder/pcm_diff.h"
#include "tests/support/frames.h"

namespace {

using decodetest::Decoded;
using decodetest::FrameInfo;

std::vector<uint8_t> ReadVector(const char* name) {
  return ReadFileBytes(decodetest::TestDataPath(std::string("vectors/") + name));
}

// The header must describe exactly the PCM that follows it.
void ExpectConsistentHeader(const Decoded& d) {
  const pcmdiff::WaveInfo w = pcmdiff::ParseWaveHeader(d.wav);
  ASSERT_TRUE(w.valid);
  EXPECT_EQ(uint64_t(w.dataSize), uint64_t(d.wav.size() - 44));
  EXPECT_EQ(uint64_t(w.riffSize), uint64_t(d.wav.size() - 8));
}

struct CutRow {
  const char* name;
  const char* stream;
  int frame;  // the frame the cut falls in
  int into;   // bytes of that frame kept; -1: half of the frame
};

class CutStream : public ::testing::TestWithParam<CutRow> {};

// A file cut off anywhere decodes like the whole file up to the last complete frame; the cut
// frame itself is left out, as the established decoders leave it out (decoding it would play
// the missing bytes as whatever the reservoir held).
TEST_P(CutStream, KeepsTheAudioOfEveryCompleteFrame) {
  const CutRow& row = GetParam();
  const std::vector<uint8_t> whole = ReadVector(row.stream);
  const std::vector<FrameInfo> frames = decodetest::ParseFrames(whole);
  ASSERT_LT(size_t(row.frame), frames.size());
  const FrameInfo& cutFrame = frames[size_t(row.frame)];
  const size_t keep = row.into < 0 ? cutFrame.length / 2 : size_t(row.into);
  const std::vector<uint8_t> cut(whole.begin(), whole.begin() + long(cutFrame.offset + keep));

  const Decoded full = decodetest::DecodeBytes(whole);
  const Decoded part = decodetest::DecodeBytes(cut);
  ASSERT_EQ(full.exitCode, uint32_t(DecoderOk));
  ASSERT_EQ(part.exitCode, uint32_t(DecoderOk)) << DecoderExitText(part.exitCode);
  ExpectConsistentHeader(part);
  const std::vector<FrameInfo> complete(frames.begin(), frames.begin() + row.frame);
  const size_t prefix = decodetest::PcmBytesOf(complete);
  EXPECT_EQ(part.wav.size() - 44, prefix);
  ASSERT_GE(full.wav.size(), 44 + prefix);
  ASSERT_GE(part.wav.size(), 44 + prefix);
  EXPECT_TRUE(std::equal(full.wav.begin() + 44, full.wav.begin() + 44 + long(prefix), part.wav.begin() + 44))
      << "the complete frames decode differently";
}

INSTANTIATE_TEST_SUITE_P(Cuts, CutStream,
                         ::testing::Values(CutRow{"InHeader", "l3-he_44khz.bit", 200, 2},
                                           CutRow{"InSideInformation", "l3-hecommon.bit", 17, 12},
                                           CutRow{"InMainData", "l3-he_mode.bit", 60, -1},
                                           CutRow{"AtFrameStart", "l3-si_block.bit", 40, 0},
                                           CutRow{"InCrcWord", "l3-hecommon.bit", 5, 5},
                                           CutRow{"AfterHeader", "l3-compl.bit", 3, 4}),
                         [](const ::testing::TestParamInfo<CutRow>& info) {
                           return std::string(info.param.name);
                         });

// Bytes after the last frame that do not start with a sync word (a 128-byte ID3 version 1 tag,
// a run of zeros) end the stream there: the output is that of the stream alone.
TEST(TrailingBytes, EndTheStreamWithoutChangingTheAudio) {
  const std::vector<uint8_t> stream = ReadVector("l3-si_huff.bit");
  const Decoded alone = decodetest::DecodeBytes(stream);
  ASSERT_EQ(alone.exitCode, uint32_t(DecoderOk));
  std::vector<uint8_t> tag(128, 0);
  memcpy(tag.data(), "TAGtitle", 8);
  const std::vector<std::vector<uint8_t>> tails = {tag, std::vector<uint8_t>(1000, 0), {0xFF}};
  for (const std::vector<uint8_t>& tail : tails) {
    std::vector<uint8_t> tagged = stream;
    tagged.insert(tagged.end(), tail.begin(), tail.end());
    const Decoded d = decodetest::DecodeBytes(tagged);
    EXPECT_EQ(d.exitCode, uint32_t(DecoderOk));
    EXPECT_TRUE(d.wav == alone.wav) << "tail of " << tail.size() << " bytes";
  }
}

// Bytes that are no audio frame of the stream (a cut, a damaged header, bytes of another kind, a
// frame of another layer or sampling frequency) are skipped and reported where they stand, every
// frame of the stream around them is decoded, and a frame whose main data began in lost bytes is
// decoded as silence, not from what the reservoir holds.
TEST(Damage, IsSkippedAndReportedAndTheStreamGoesOn) {
  FrameFields f;  // 417-byte single-channel frames: 2304 PCM bytes each
  FrameFields reaching = f;
  reaching.mainDataBegin = 100;
  FrameFields otherRate = f;
  otherRate.sampleIndex = 1;
  // Bytes of no frame: no 0xFF among them.
  std::vector<uint8_t> junk(1000);
  for (size_t i = 0; i < junk.size(); ++i) junk[i] = uint8_t((i * 97 + 13) % 255);
  auto join = [](std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const std::vector<uint8_t>& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  std::vector<uint8_t> layerII = Frames(1, f);
  layerII[1] = 0xFD;  // Layer II bits: 160 kbit/s, 522 bytes at 44.1 kHz
  layerII.resize(522, 0);
  std::vector<uint8_t> badHeader = Frames(10, f);
  badHeader[3 * 417] = 0x00;
  std::vector<uint8_t> cut = Frames(10, f);
  cut.resize(cut.size() - 100);

  struct Row {
    const char* name;
    std::vector<uint8_t> file;
    size_t pcmFrames;
    uint64_t skipped, firstSkip;
    uint32_t silenced, cutBytes;
  } rows[] = {
      {"JunkBetweenFrames", join({Frames(5, f), junk, Frames(5, f)}), 10, 1000, 5 * 417, 0, 0},
      {"JunkAfterTheStream", join({Frames(10, f), junk}), 10, 1000, 10 * 417, 0, 0},
      {"DamagedHeader", badHeader, 9, 417, 3 * 417, 0, 0},
      {"LayerIIFrameBetween", join({Frames(5, f), layerII, Frames(5, f)}), 10, 522, 5 * 417, 0, 0},
      {"OtherRateBetween", join({Frames(5, f), Frames(1, otherRate), Frames(5, f)}), 10, 384, 5 * 417, 0, 0},
      // Frame 0 points before the stream and gives no PCM; the first frame after the gap is silent.
      {"ReservoirLostInTheGap", join({Frames(5, reaching), junk, Frames(5, reaching)}), 9, 1000, 5 * 417, 1, 0},
      {"CutInsideTheLastFrame", cut, 9, 0, 0, 0, 317},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const Decoded d = decodetest::DecodeBytes(r.file);
    ASSERT_EQ(d.exitCode, uint32_t(DecoderOk)) << DecoderExitText(d.exitCode);
    ExpectConsistentHeader(d);
    EXPECT_EQ(d.wav.size() - 44, r.pcmFrames * 2304);
    EXPECT_EQ(LastDecodeReport.SkippedBytes, r.skipped);
    EXPECT_EQ(LastDecodeReport.SkippedRuns, r.skipped ? 1u : 0u);
    if (r.skipped) {
      EXPECT_EQ(LastDecodeReport.RunOffset[0], r.firstSkip);
    }
    EXPECT_EQ(LastDecodeReport.SilencedFrames, r.silenced);
    EXPECT_EQ(LastDecodeReport.CutBytes, r.cutBytes);
  }
}

// The streams listed in the corpus's README, by the first column of its table.
std::set<std::string> ListedRegressions(const std::filesystem::path& readme) {
  std::set<std::string> names;
  std::ifstream in(readme);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("| `", 0) != 0) continue;
    const size_t end = line.find('`', 3);
    if (end != std::string::npos) names.insert(line.substr(3, end - 3));
  }
  return names;
}

// Small streams that exercised a fault during development or that the fuzz targets found
// interesting, each named for what it holds. Each must decode to its end with exactly the PCM
// its frames give (no audio at all is its own exit code) and a header that describes it. A
// missing folder, a stream gone from it or one not listed in its README fails: a skip would hide
// that the corpus is gone.
TEST(Regressions, DecodeWithoutFault) {
  const std::filesystem::path dir = decodetest::TestDataPath("regressions");
  ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir << " is missing";
  const std::set<std::string> listed = ListedRegressions(dir / "README.md");
  ASSERT_FALSE(listed.empty()) << "no streams listed in " << dir / "README.md";
  std::set<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".mp3") continue;
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    found.insert(name);
    const std::vector<uint8_t> stream = ReadFileBytes(entry.path().string());
    ASSERT_FALSE(stream.empty());
    const size_t pcmBytes = decodetest::PcmBytesOf(decodetest::ParseFrames(stream));
    const Decoded d = decodetest::DecodeBytes(stream);
    if (pcmBytes == 0) {
      EXPECT_EQ(d.exitCode, uint32_t(DecoderNoAudio)) << DecoderExitText(d.exitCode);
    } else {
      ASSERT_EQ(d.exitCode, uint32_t(DecoderOk)) << DecoderExitText(d.exitCode);
      ExpectConsistentHeader(d);
      EXPECT_EQ(d.wav.size() - 44, pcmBytes);
    }
  }
  EXPECT_EQ(found, listed) << "the folder and its README list different streams";
}

// A stream decodes to the same PCM whatever the job before it decoded: main data that a damaged
// frame places before the stream's first byte must not come from the previous file.
TEST(Regressions, OutputDoesNotDependOnThePreviousDecode) {
  // 12 KB of two different streams: enough main data to fill the whole ring, differently.
  std::vector<uint8_t> before[2] = {ReadVector("l3-he_mode.bit"), ReadVector("l3-compl.bit")};
  for (std::vector<uint8_t>& b : before) b.resize(std::min<size_t>(b.size(), 12288));
  const std::filesystem::path dir = decodetest::TestDataPath("regressions");
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".mp3") continue;
    SCOPED_TRACE(entry.path().filename().string());
    const std::vector<uint8_t> stream = ReadFileBytes(entry.path().string());
    decodetest::DecodeBytes(before[0]);
    const Decoded first = decodetest::DecodeBytes(stream);
    decodetest::DecodeBytes(before[1]);
    const Decoded second = decodetest::DecodeBytes(stream);
    EXPECT_EQ(first.exitCode, second.exitCode);
    EXPECT_TRUE(first.wav == second.wav);
  }
}

}  // namespace
