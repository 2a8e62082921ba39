// The framing rules that source inspection and the decoder share, on files built byte by byte
// from the published layouts: tags at both ends, information frames, headers that no frame has.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "decoder/framing/framing.h"
#include "tests/support/frames.h"

namespace {

using Bytes = std::vector<uint8_t>;

size_t ReadBytes(void* context, uint64_t offset, uint8_t* buffer, size_t n) {
  const Bytes& b = *static_cast<const Bytes*>(context);
  if (offset >= b.size()) return 0;
  n = std::min<size_t>(n, size_t(b.size() - offset));
  std::memcpy(buffer, b.data() + offset, n);
  return n;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes Text(const char* s, size_t size = 0) {
  Bytes b(s, s + std::strlen(s));
  if (size) b.resize(size, 0);
  return b;
}

// Where the audio of a file starts and ends.
TEST(Framing, LocateStreamFindsTheAudioBetweenTheTags) {
  FrameFields f;  // 417-byte frames
  const Bytes frames = Frames(5, f);
  const Bytes id3v1 = Text("TAGtitle", 128);
  const Bytes lyrics = Text("LYRICSBEGININD0000210000021LYRICS200");
  Bytes ape = Cat({Text("APETAGEX"), {0xD0, 7, 0, 0, 40, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0x80}, Bytes(8)});
  ape = Cat({ape, Text("12345678"), ape});  // header, one 8-byte item, footer
  ape[20] = 0;
  ape[23] = 0xA0;  // the first block is the header
  Bytes broken = Id3v2Tag(100);
  broken[8] |= 0x80;  // a size byte with its top bit set: no tag
  Bytes pastTheEnd = Id3v2Tag(100);
  pastTheEnd[6] = 0x7F;
  Bytes layerII = Frames(2, f);
  layerII[1] = 0xFD;
  Bytes freeFormat = Frames(2, f), reservedVersion = Frames(2, f);
  freeFormat[2] = 0x00;       // bitrate index 0: no length
  reservedVersion[1] = 0xEB;  // ID 1 with the sync word 0xFFE
  const struct {
    const char* name;
    Bytes file;
    StreamVerdict verdict;
    uint64_t start, end;  // end 0: the file's end
  } rows[] = {
      {"AtByteZero", frames, StreamLayer3, 0, 0},
      {"TagsAndZeroBytes", Cat({Id3v2Tag(20, 4, true), Id3v2Tag(30, 2), Bytes(500), frames}), StreamLayer3, 580, 0},
      {"EndTags", Cat({frames, lyrics, ape, id3v1}), StreamLayer3, 0, frames.size()},
      {"OneFrameEndingAtATag", Cat({Frames(1, f), id3v1}), StreamLayer3, 0, 417},
      {"InformationFrame", Cat({InformationFrame(f, "Info", 5, 576, 1000), frames}), StreamLayer3, 417, 0},
      {"UnconfirmedFrame", Cat({Frames(1, f), Text("other bytes")}), StreamNone, 0, 0},
      {"BrokenTagSize", Cat({broken, frames}), StreamNone, 0, 0},
      {"TagPastTheEnd", Cat({pastTheEnd, frames}), StreamNone, 0, 0},
      {"InformationFrameAlone", InformationFrame(f, "Xing", 0, 576, 1000), StreamNone, 0, 0},
      {"LayerII", layerII, StreamNotLayer3, 0, 0},
      {"FreeFormat", freeFormat, StreamNone, 0, 0},
      {"ReservedVersion", reservedVersion, StreamNone, 0, 0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    StreamLayout layout;
    ASSERT_EQ(LocateStream(ReadBytes, const_cast<Bytes*>(&r.file), r.file.size(), layout), r.verdict);
    if (r.verdict != StreamLayer3) continue;
    EXPECT_EQ(layout.AudioStart, r.start);
    EXPECT_EQ(layout.AudioEnd, r.end ? r.end : r.file.size());
  }
  // Thousands of tiny tags in a row are skipped one by one.
  Bytes many;
  const Bytes tiny = Id3v2Tag(0);
  for (int i = 0; i < 5000; ++i) many.insert(many.end(), tiny.begin(), tiny.end());
  many.insert(many.end(), frames.begin(), frames.end());
  StreamLayout layout;
  ASSERT_EQ(LocateStream(ReadBytes, &many, many.size(), layout), StreamLayer3);
  EXPECT_EQ(layout.AudioStart, 50000u);
}

// The samples that the gapless trim keeps: frames x samples - delay - padding, after dropping
// delay + 529; nothing is trimmed without the LAME extension or when it asks for more than the
// audio holds.
TEST(Framing, InformationFramesAndTheirGaplessTrim) {
  FrameFields crc;
  crc.protection = 0;
  FrameFields lsf;
  lsf.id = 0;
  lsf.mode = 1;
  const struct {
    const char* name;
    Bytes frame;
    uint64_t lead, keep;
  } rows[] = {
      {"XingAfterCrc", InformationFrame(crc, "Xing", 10, 576, 600), 1105, 10 * 1152 - 1176},
      {"LowerRate", InformationFrame(lsf, "Info", 40, 576, 800), 1105, 40 * 576 - 1376},
      {"NoLameExtension", InformationFrame(FrameFields{}, "Info", 100, -1, 0), 0, UINT64_MAX},
      {"TrimPastTheAudio", InformationFrame(FrameFields{}, "Info", 1, 1000, 1000), 0, UINT64_MAX},
      {"NoFrameCount", InformationFrame(FrameFields{}, "Info", 0, 576, 1000), 1105, UINT64_MAX},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    FrameFacts facts{};
    InfoFrame info{};
    ASSERT_TRUE(ParseFrameHeader(r.frame.data(), facts));
    ASSERT_TRUE(ParseInfoFrame(r.frame.data(), r.frame.size(), facts, info));
    uint64_t lead = 99;
    EXPECT_EQ(GaplessKeep(info, facts.Samples, lead), r.keep);
    EXPECT_EQ(lead, r.lead);
  }
  Bytes vbri = Frames(1, FrameFields{});  // "VBRI" 32 bytes after the header; frames at 14
  std::memcpy(vbri.data() + 36, "VBRI", 4);
  vbri[36 + 17] = 77;
  FrameFacts facts{};
  InfoFrame info{};
  ASSERT_TRUE(ParseFrameHeader(vbri.data(), facts));
  ASSERT_TRUE(ParseInfoFrame(vbri.data(), vbri.size(), facts, info));
  EXPECT_EQ(info.Frames, 77u);
  const Bytes audio = Frames(1, FrameFields{});
  EXPECT_FALSE(ParseInfoFrame(audio.data(), audio.size(), facts, info));
}

}  // namespace
