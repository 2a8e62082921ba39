// The framing rules that source inspection and the decoder share: frame headers and lengths,
// tags at both ends, the encoder information frame and its gapless trim, and where the audio of
// a file starts and ends. Files are built here byte by byte from the published layouts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "decoder/framing/framing.h"
#include "tests/support/frames.h"

namespace {

using Bytes = std::vector<uint8_t>;

size_t ReadBytes(void* context, uint64_t offset, uint8_t* buffer, size_t n) {
  const Bytes& b = *static_cast<const Bytes*>(context);
  if (offset >= b.size()) return 0;
  if (n > b.size() - offset) n = size_t(b.size() - offset);
  std::memcpy(buffer, b.data() + offset, n);
  return n;
}

void Append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// MPEG-1 Layer III, 128 kbit/s, 44.1 kHz, joint stereo: 417-byte silent frames.
FrameFields Stereo128() {
  FrameFields f;
  f.mode = 1;
  return f;
}

Bytes Id3v1() {
  Bytes t(128, 0);
  std::memcpy(t.data(), "TAGtitle", 8);
  return t;
}

// An APEv2 tag of one item, with or without its header.
Bytes Ape(bool header) {
  const Bytes item = Text("item with its value");
  auto block = [&](bool isHeader) {
    Bytes b = Text("APETAGEX");
    const uint32_t size = uint32_t(item.size() + 32);
    const uint32_t flags = (header ? 0x80000000u : 0) | (isHeader ? 0x20000000u : 0);
    for (uint32_t v : {2000u, size, 1u, flags})
      for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
    b.resize(32, 0);
    return b;
  };
  Bytes t;
  if (header) t = block(true);
  Append(t, item);
  Append(t, block(false));
  return t;
}

Bytes Lyrics3v2() {
  Bytes t = Text("LYRICSBEGININD00002");
  Append(t, Text("10"));
  const std::string size = std::to_string(t.size());
  Append(t, Text(std::string(6 - size.size(), '0') + size + "LYRICS200"));
  return t;
}

TEST(Framing, FrameHeadersOfEveryVersion) {
  struct Row {
    const char* name;
    Bytes header;
    bool valid;
    int rate = 0, length = 0, samples = 0, layer = 0;
  } rows[] = {
      {"Mpeg1_128k_44100", {0xFF, 0xFB, 0x90, 0x64}, true, 44100, 417, 1152, 1},
      {"Mpeg1_Padded", {0xFF, 0xFB, 0x92, 0x64}, true, 44100, 418, 1152, 1},
      {"Mpeg2_8k_22050", {0xFF, 0xF3, 0x10, 0xC4}, true, 22050, 26, 576, 1},
      {"Mpeg25_24k_8000", {0xFF, 0xE3, 0x38, 0xC4}, true, 8000, 216, 576, 1},
      {"Mpeg25_32k_11025", {0xFF, 0xE3, 0x40, 0x44}, true, 11025, 208, 576, 1},
      {"Mpeg25_48k_12000", {0xFF, 0xE3, 0x64, 0x04}, true, 12000, 288, 576, 1},
      {"LayerII_192k_48000", {0xFF, 0xFD, 0xA4, 0x04}, true, 48000, 576, 1152, 2},
      {"ReservedVersion", {0xFF, 0xEB, 0x90, 0x64}, false},
      {"FreeFormat", {0xFF, 0xFB, 0x00, 0x64}, false},
      {"BitrateIndex15", {0xFF, 0xFB, 0xF0, 0x64}, false},
      {"ReservedRate", {0xFF, 0xFB, 0x9C, 0x64}, false},
      {"ReservedLayer", {0xFF, 0xF9, 0x90, 0x64}, false},
      {"NoSync", {0xFF, 0x1B, 0x90, 0x64}, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    FrameFacts f{};
    ASSERT_EQ(ParseFrameHeader(r.header.data(), f), r.valid);
    if (!r.valid) continue;
    EXPECT_EQ(f.SampleRate, r.rate);
    EXPECT_EQ(f.Length, r.length);
    EXPECT_EQ(f.Samples, r.samples);
    EXPECT_EQ(f.Layer, r.layer);
  }
  // A frame belongs to the stream of another with the same version, layer and rate, whatever its
  // bitrate, padding or mode.
  FrameFacts a{}, b{}, c{};
  ASSERT_TRUE(ParseFrameHeader(Bytes{0xFF, 0xFB, 0x90, 0x64}.data(), a));
  ASSERT_TRUE(ParseFrameHeader(Bytes{0xFF, 0xFB, 0xE2, 0xC4}.data(), b));
  ASSERT_TRUE(ParseFrameHeader(Bytes{0xFF, 0xFB, 0x94, 0x64}.data(), c));
  EXPECT_TRUE(SameStream(a, b));
  EXPECT_FALSE(SameStream(a, c)) << "48 kHz is another stream";
}

TEST(Framing, Id3v2TagLengths) {
  EXPECT_EQ(Id3v2TagLength(Id3v2Tag(257).data()), 267u);
  EXPECT_EQ(Id3v2TagLength(Id3v2Tag(0, 2).data()), 10u);
  EXPECT_EQ(Id3v2TagLength(Id3v2Tag(1000, 4, true).data()), 1020u) << "2.4 footer";
  EXPECT_EQ(Id3v2TagLength(Id3v2Tag(1000, 3, true).data()), 1010u) << "no footer before 2.4";
  Bytes broken = Id3v2Tag(300);
  broken[8] |= 0x80;
  EXPECT_EQ(Id3v2TagLength(broken.data()), 0u) << "a size byte with its top bit set";
  Bytes version = Id3v2Tag(10);
  version[3] = 0xFF;
  EXPECT_EQ(Id3v2TagLength(version.data()), 0u);
}

// Where the audio of a file starts and ends, by the file's make-up.
TEST(Framing, LocateStreamFindsTheAudioBetweenTheTags) {
  const Bytes frames = Frames(5, Stereo128());
  FrameFields layerII = Stereo128();
  Bytes two = Frames(3, layerII);
  for (size_t p = 0; p < two.size(); p += 417) two[p + 1] = 0xFD;  // Layer II bits (and its length)

  struct Row {
    const char* name;
    Bytes file;
    StreamVerdict verdict;
    uint64_t start = 0, end = 0;  // end 0: the file's end
  };
  std::vector<Row> rows;
  rows.push_back({"FramesAtByteZero", frames, StreamLayer3, 0});
  {
    Bytes f = Id3v2Tag(1000);
    Append(f, frames);
    rows.push_back({"Id3v2", f, StreamLayer3, 1010});
  }
  {
    Bytes f = Id3v2Tag(20, 4, true);
    Append(f, Id3v2Tag(30, 2));
    Append(f, Bytes(500, 0));
    Append(f, frames);
    rows.push_back({"TwoTagsAndZeroBytes", f, StreamLayer3, 40 + 40 + 500});
  }
  {
    Bytes f;
    for (int i = 0; i < 5000; ++i) Append(f, Id3v2Tag(0));
    Append(f, frames);
    rows.push_back({"ThousandsOfTinyTags", f, StreamLayer3, 50000});
  }
  {
    Bytes f = frames;
    Append(f, Lyrics3v2());
    Append(f, Ape(true));
    Append(f, Id3v1());
    rows.push_back({"EndTags", f, StreamLayer3, 0, frames.size()});
  }
  {
    Bytes f = frames;
    Append(f, Ape(false));
    rows.push_back({"ApeWithoutHeader", f, StreamLayer3, 0, frames.size()});
  }
  {
    Bytes f = Frames(1, Stereo128());
    Append(f, Id3v1());
    rows.push_back({"OneFrameEndingAtTheTag", f, StreamLayer3, 0, 417});
  }
  {
    Bytes f = Frames(1, Stereo128());
    Append(f, Text("chance bytes after a chance header"));
    rows.push_back({"UnconfirmedFrame", f, StreamNone});
  }
  {
    Bytes f = Id3v2Tag(100);
    f[6] = 0x7F;  // the size points past the end
    Append(f, frames);
    rows.push_back({"TagPastTheEnd", f, StreamNone});
  }
  rows.push_back({"TagAlone", Id3v2Tag(100), StreamNone});
  rows.push_back({"LayerII", two, StreamNotLayer3});
  {
    Bytes f = Id3v2Tag(10);
    Append(f, InformationFrame(Stereo128(), "Info", 5, 576, 1000));
    Append(f, frames);
    rows.push_back({"InformationFrame", f, StreamLayer3, 20 + 417});
  }
  rows.push_back({"InformationFrameAlone", InformationFrame(Stereo128(), "Xing", 0, 576, 1000), StreamNone});

  for (Row& r : rows) {
    SCOPED_TRACE(r.name);
    StreamLayout layout;
    ASSERT_EQ(LocateStream(ReadBytes, &r.file, r.file.size(), layout), r.verdict);
    if (r.verdict != StreamLayer3) continue;
    EXPECT_EQ(layout.AudioStart, r.start);
    EXPECT_EQ(layout.AudioEnd, r.end ? r.end : r.file.size());
    EXPECT_EQ(layout.First.SampleRate, 44100);
  }
}

TEST(Framing, InformationFramesAndTheirGaplessTrim) {
  struct Row {
    const char* name;
    Bytes frame;
    FrameFields fields;
    bool gapless;
    uint32_t frames;
    uint64_t lead, keep;
  };
  FrameFields mono = Stereo128();
  mono.mode = 3;
  FrameFields lsf = Stereo128();
  lsf.id = 0;
  lsf.bitrateIndex = 8;
  FrameFields crc = Stereo128();
  crc.protection = 0;
  const Row rows[] = {
      {"InfoStereo", InformationFrame(Stereo128(), "Info", 100, 576, 1200), Stereo128(), true, 100, 576 + 529,
       100 * 1152 - 576 - 1200},
      {"XingMono", InformationFrame(mono, "Xing", 10, 576, 600), mono, true, 10, 1105, 10 * 1152 - 1176},
      {"XingLowerRate", InformationFrame(lsf, "Xing", 40, 576, 800), lsf, true, 40, 1105, 40 * 576 - 1376},
      {"XingAfterCrc", InformationFrame(crc, "Xing", 10, 576, 600), crc, true, 10, 1105, 10 * 1152 - 1176},
      {"NoLameExtension", InformationFrame(Stereo128(), "Info", 100, -1, 0), Stereo128(), false, 100, 0, UINT64_MAX},
      {"TrimPastTheAudio", InformationFrame(Stereo128(), "Info", 1, 1000, 1000), Stereo128(), true, 1, 0, UINT64_MAX},
      {"NoFrameCount", InformationFrame(Stereo128(), "Info", 0, 576, 1000), Stereo128(), true, 0, 1105, UINT64_MAX},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    FrameFacts facts{};
    ASSERT_TRUE(ParseFrameHeader(r.frame.data(), facts));
    InfoFrame info{};
    ASSERT_TRUE(ParseInfoFrame(r.frame.data(), r.frame.size(), facts, info));
    EXPECT_EQ(info.Gapless, r.gapless);
    EXPECT_EQ(info.Frames, r.frames);
    uint64_t lead = 99;
    EXPECT_EQ(GaplessKeep(info, facts.Samples, lead), r.keep);
    EXPECT_EQ(lead, r.lead);
  }
  // VBRI stands 32 bytes after the header.
  Bytes vbri = Frames(1, Stereo128());
  std::memcpy(vbri.data() + 36, "VBRI", 4);
  vbri[36 + 17] = 77;
  FrameFacts facts{};
  InfoFrame info{};
  ASSERT_TRUE(ParseFrameHeader(vbri.data(), facts));
  ASSERT_TRUE(ParseInfoFrame(vbri.data(), vbri.size(), facts, info));
  EXPECT_EQ(info.Frames, 77u);
  EXPECT_FALSE(info.Gapless);
  // An audio frame is none.
  const Bytes audio = Frames(1, Stereo128());
  EXPECT_FALSE(ParseInfoFrame(audio.data(), audio.size(), facts, info));
}

}  // namespace
