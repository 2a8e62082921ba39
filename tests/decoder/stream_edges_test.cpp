// Whole decodes of damaged or unusual streams: cut-off files, bytes after the last frame, and the
// inputs that once made the decoder fault (tests/decoder/regressions/).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "decoder/decoder.h"
#include "tests/decoder/decode_file.h"
#include "tests/decoder/pcm_diff.h"

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
  int frame;        // the frame the cut falls in
  int into;         // bytes of that frame kept; -1: half of the frame
};

class CutStream : public ::testing::TestWithParam<CutRow> {};

// A file cut off anywhere decodes like the whole file up to the last complete frame; the cut
// frame itself may add its granules (decoded from what was there) or nothing.
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
  const size_t withCut = decodetest::PcmBytesOf(std::vector<FrameInfo>(frames.begin(), frames.begin() + row.frame + 1));
  const size_t got = part.wav.size() - 44;
  if (keep < 4)
    EXPECT_EQ(got, prefix) << "a header read of fewer than 4 bytes ends the stream";
  else
    EXPECT_TRUE(got == prefix || got == withCut) << got << " PCM bytes, expected " << prefix << " or " << withCut;
  ASSERT_GE(full.wav.size(), 44 + prefix);
  ASSERT_GE(part.wav.size(), 44 + prefix);
  EXPECT_TRUE(std::equal(full.wav.begin() + 44, full.wav.begin() + 44 + long(prefix), part.wav.begin() + 44))
      << "the complete frames decode differently";
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, CutStream,
    ::testing::Values(CutRow{"InHeader", "l3-he_44khz.bit", 200, 2},
                      CutRow{"InSideInformation", "l3-hecommon.bit", 17, 12},
                      CutRow{"InMainData", "l3-he_mode.bit", 60, -1},
                      CutRow{"AtFrameStart", "l3-si_block.bit", 40, 0},
                      CutRow{"InCrcWord", "l3-hecommon.bit", 5, 5},
                      CutRow{"AfterHeader", "l3-compl.bit", 3, 4}),
    [](const ::testing::TestParamInfo<CutRow>& info) { return std::string(info.param.name); });

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

// Inputs that once made the decoder fault: each must decode to its end without a fault, and a
// decode that reports success must leave a consistent WAV header.
TEST(Regressions, DecodeWithoutFault) {
  const std::filesystem::path dir = decodetest::TestDataPath("regressions");
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no regression inputs";
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".mp3") continue;
    SCOPED_TRACE(entry.path().filename().string());
    const Decoded d = decodetest::DecodeFile(entry.path().string());
    EXPECT_TRUE(d.exitCode == DecoderOk || d.exitCode == DecoderNoAudio) << d.exitCode;
    if (d.exitCode == DecoderOk) ExpectConsistentHeader(d);
    count++;
  }
  EXPECT_GT(count, 0);
}

}  // namespace
