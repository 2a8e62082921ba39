// Source file inspection of files made here: WAVE variants, MPEG audio files, unopenable files.
#include "inspect/inspect.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "inspect/soundfile.h"
#include "tests/support/files.h"
#include "tests/support/frames.h"
#include "tests/support/soundfiles.h"
#include "tests/support/wave.h"

namespace {

std::string Chunk(const std::string& id, const std::string& data, bool pad = true) {
  std::string c = id + Le32(static_cast<uint32_t>(data.size())) + data;
  if (pad && data.size() % 2 == 1) c += '\0';
  return c;
}

// A chunk header that states a size of its own, followed by the given bytes.
std::string ChunkStating(const std::string& id, uint32_t size, const std::string& data = "") {
  return id + Le32(size) + data;
}

std::string FmtRecord(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
  const uint16_t align = static_cast<uint16_t>(channels * (bits / 8));
  return Le16(tag) + Le16(channels) + Le32(rate) + Le32(rate * align) + Le16(align) + Le16(bits);
}

std::string Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                const std::string& extra = "") {
  return Chunk("fmt ", FmtRecord(tag, channels, rate, bits) + extra);
}

std::string Riff(const std::string& body, const std::string& form = "WAVE") {
  return "RIFF" + Le32(static_cast<uint32_t>(4 + body.size())) + form + body;
}

std::string RiffStating(uint32_t size, const std::string& body) {
  return "RIFF" + Le32(size) + "WAVE" + body;
}

// A plain PCM file: "fmt " then "data" of dataSize bytes (zeros).
std::string Wave(uint16_t channels, uint32_t rate, uint16_t bits, uint32_t dataSize) {
  return Riff(Fmt(1, channels, rate, bits) + Chunk("data", std::string(dataSize, '\0')));
}

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

// Values that an inspection must not write unless it accepts the file.
SourceFileInfo Sentinel() {
  SourceFileInfo e;
  e.FileSize = 0xDEADBEEF;
  e.Layer = 77;
  e.ChannelMode = 77;
  e.Bitrate = 77;
  e.Duration = 77;
  e.SampleRate = 77;
  e.Channels = 77;
  e.BitsPerSample = 77;
  e.IsWave = 77;
  return e;
}

void ExpectOnlyFileSizeWritten(const SourceFileInfo& e) {
  EXPECT_EQ(e.Layer, 77);
  EXPECT_EQ(e.ChannelMode, 77);
  EXPECT_EQ(e.Bitrate, 77);
  EXPECT_EQ(e.Duration, 77u);
  EXPECT_EQ(e.SampleRate, 77u);
  EXPECT_EQ(e.Channels, 77u);
  EXPECT_EQ(e.BitsPerSample, 77u);
  EXPECT_EQ(e.IsWave, 77);
}

class InspectTest : public ::testing::Test {
 protected:
  // Writes the bytes (extended with zeros to totalSize) and inspects them; no descriptor may
  // stay open afterwards.
  InspectResult Inspect(const std::string& bytes, SourceFileInfo& entry, uint64_t totalSize = 0) {
    const std::string path = dir_ + "/source";
    WriteFile(path, bytes, totalSize);
    entry = Sentinel();
    const int fds = OpenFdCount();
    const InspectResult r = InspectSourceFile(path, entry);
    EXPECT_EQ(OpenFdCount(), fds) << "a file descriptor leaked";
    const uint64_t size = totalSize > bytes.size() ? totalSize : bytes.size();
    EXPECT_EQ(entry.FileSize, static_cast<uint32_t>(size)) << "FileSize is written once the file is open";
    return r;
  }

  ScratchDir scratch_;
  const std::string dir_ = scratch_.Dir();
};

struct WaveRow {
  const char* name;
  std::string bytes;
  InspectResult result;
  uint32_t rate = 0;
  uint16_t channels = 0;
  uint16_t bits = 0;
  uint32_t duration = 0;
  uint64_t totalSize = 0;  // extend the file with zeros to this size
};

}  // namespace

TEST_F(InspectTest, PcmWaveFilesAreAcceptedWithTheirFormat) {
  const std::string pcm16 = FmtRecord(1, 2, 44100, 16);
  const std::vector<WaveRow> rows = {
      {"mono 8-bit 22.05 kHz", Wave(1, 22050, 8, 22050 * 3), InspectAccepted, 22050, 1, 8, 3},
      {"mono 16-bit 44.1 kHz", Wave(1, 44100, 16, 88200 * 2 + 5000), InspectAccepted, 44100, 1, 16, 2},
      {"stereo 16-bit 22.05 kHz", Wave(2, 22050, 16, 88200 * 4), InspectAccepted, 22050, 2, 16, 4},
      {"stereo 24-bit 44.1 kHz", Wave(2, 44100, 24, 264600 * 2), InspectAccepted, 44100, 2, 24, 2},
      {"stereo 8-bit 44.1 kHz", Wave(2, 44100, 8, 88200 - 2), InspectAccepted, 44100, 2, 8, 0},
      // Sixty seconds of CD audio: 10,584,000 bytes (the file is sparse).
      {"one minute of CD audio", Riff(Fmt(1, 2, 44100, 16) + ChunkStating("data", 10584000)), InspectAccepted,
       44100, 2, 16, 60, 44 + 10584000},
      {"18-byte fmt with extension size",
       Riff(Fmt(1, 2, 44100, 16, Le16(0)) + Chunk("data", std::string(176400, 'a'))), InspectAccepted, 44100,
       2, 16, 1},
      {"40-byte fmt with tag 1",
       Riff(Fmt(1, 1, 22050, 16, Le16(22) + std::string(22, 'x')) + Chunk("data", "")), InspectAccepted,
       22050, 1, 16, 0},
      {"odd-sized chunks padded to even",
       Riff(Chunk("LIST", "INFOabc") + Chunk("junk", "x") + Fmt(1, 1, 22050, 8) +
            Chunk("bext", std::string(13, 'b')) + Chunk("data", std::string(22050, 'a'))),
       InspectAccepted, 22050, 1, 8, 1},
      {"odd data size at the end, no pad byte",
       Riff(Fmt(1, 1, 22050, 8) + Chunk("data", std::string(22051, 'a'), false)), InspectAccepted, 22050, 1,
       8, 1},
      {"RIFF size larger than the file",
       RiffStating(0xFFFFFFFF, Fmt(1, 1, 8000, 8) + Chunk("data", std::string(16000, 0))), InspectAccepted,
       8000, 1, 8, 2},
      {"RIFF size of the whole file",
       RiffStating(8 + 4 + 24 + 8 + 8000, Fmt(1, 1, 8000, 8) + Chunk("data", std::string(8000, 0))),
       InspectAccepted, 8000, 1, 8, 1},
      // A cut-off recording: its playing time is that of the bytes present.
      {"data size beyond the end of the file",
       Riff(Fmt(1, 1, 8000, 8) + ChunkStating("data", 80000, std::string(24000, 0))), InspectAccepted, 8000,
       1, 8, 3},
      // Programs that stream their output leave the RIFF size 0 or wrong: the data is still there.
      {"RIFF size 0", RiffStating(0, Fmt(1, 1, 8000, 8) + Chunk("data", std::string(8000, 0))),
       InspectAccepted, 8000, 1, 8, 1},
      {"RIFF size ends before data",
       RiffStating(4 + 24, Fmt(1, 1, 8000, 8) + Chunk("data", std::string(8000, 0))), InspectAccepted, 8000,
       1, 8, 1},
      {"data size near 4 GiB",
       Riff(Fmt(1, 1, 8000, 8) + ChunkStating("data", 0xFFFFFFF0, std::string(8000, 0))), InspectAccepted,
       8000, 1, 8, 1},
      {"4 bits per sample", Riff(Fmt(1, 1, 8000, 4) + Chunk("data", std::string(4000, 0))), InspectAccepted,
       8000, 1, 4, 0},
  };
  for (const WaveRow& row : rows) {
    SCOPED_TRACE(row.name);
    SourceFileInfo e;
    ASSERT_EQ(Inspect(row.bytes, e, row.totalSize), row.result);
    EXPECT_EQ(e.IsWave, 1);
    EXPECT_EQ(e.SampleRate, row.rate);
    EXPECT_EQ(e.Channels, row.channels);
    EXPECT_EQ(e.BitsPerSample, row.bits);
    EXPECT_EQ(e.Duration, row.duration);
    // The encoding choices are the enqueue step's, not the inspection's.
    EXPECT_EQ(e.Layer, 77);
    EXPECT_EQ(e.ChannelMode, 77);
    EXPECT_EQ(e.Bitrate, 77);
  }
}

TEST_F(InspectTest, RefusedWaveFilesGiveTheirCode) {
  const std::string data = Chunk("data", std::string(100, 0));
  const std::vector<WaveRow> rows = {
      {"extensible with an unknown sub-format",
       Riff(Fmt(0xFFFE, 2, 44100, 16, Le16(22) + std::string(22, 0)) + data), InspectNotPcm},
      {"MP3 in WAV", Riff(Fmt(0x55, 2, 44100, 0, Le16(12) + std::string(12, 1)) + data), InspectNotPcm},
      {"A-law", Riff(Fmt(6, 1, 8000, 8) + data), InspectNotPcm},
      {"IMA ADPCM", Riff(Fmt(0x11, 1, 22050, 4, Le16(2) + Le16(505)) + data), InspectNotPcm},
      {"format tag 0", Riff(Fmt(0, 2, 44100, 16) + data), InspectNotPcm},
      {"not PCM and no data", Riff(Fmt(2, 2, 44100, 16)), InspectNotPcm},
      {"no fmt", Riff(data), InspectBrokenWave},
      // The library reads the data after the format only.
      {"data before fmt", Riff(Chunk("data", std::string(44100, 'a')) + Fmt(1, 1, 22050, 8)),
       InspectBrokenWave},
      {"zero channels", Riff(Fmt(1, 0, 8000, 16) + data), InspectBrokenWave},
      {"zero sample rate", Riff(Fmt(1, 2, 0, 16) + data), InspectBrokenWave},
      {"a rate no sound has", Riff(Fmt(1, 1, 0x40000001, 8) + data), InspectBrokenWave},
      {"no data", Riff(Fmt(1, 2, 44100, 16)), InspectBrokenWave},
      {"no chunks", Riff(""), InspectBrokenWave},
      {"fmt of 14 bytes", Riff(Chunk("fmt ", FmtRecord(1, 2, 44100, 16).substr(0, 14)) + data),
       InspectBrokenWave},
      {"fmt cut off by the end of the file",
       Riff(ChunkStating("fmt ", 16, FmtRecord(1, 2, 44100, 16).substr(0, 10))), InspectBrokenWave},
      {"chunk header cut off", Riff(Fmt(1, 2, 44100, 16) + "dat"), InspectBrokenWave},
      {"data hidden behind a huge chunk",
       Riff(ChunkStating("junk", 0xFFFFFFF0) + Fmt(1, 2, 44100, 16) + data), InspectBrokenWave},
      {"unpadded odd chunk before fmt", Riff(Chunk("junk", "abc", false) + Fmt(1, 2, 44100, 16) + data),
       InspectBrokenWave},
      // The walk ends where the RIFF chunk says it ends: chunks past it are not part of it.
      {"RIFF but AVI", Riff(Fmt(1, 2, 44100, 16) + data, "AVI "), InspectUnknownType},
      {"big-endian RIFX", "RIFX" + Riff(Fmt(1, 2, 44100, 16) + data).substr(4), InspectUnknownType},
      {"lower-case riff", "riff" + Riff(Fmt(1, 2, 44100, 16) + data).substr(4), InspectUnknownType},
      {"RIFF without form type", "RIFF" + Le32(4) + "WA", InspectUnknownType},
      {"RIFF header only", "RIFF" + Le32(4), InspectUnknownType},
      {"4 bytes RIFF", "RIFF", InspectUnknownType},
      {"text file", "Hello, this is a text file and no sound at all.\n", InspectUnknownType},
      {"empty file", "", InspectUnknownType},
      {"3 bytes", "RIF", InspectUnknownType},
      {"3 bytes of a frame header", Bytes({0xFF, 0xFB, 0x90}), InspectUnknownType},
      {"ID3v2 tag before a lone frame header",
       "ID3" + Bytes({3, 0, 0, 0, 0, 0, 10}) + std::string(10, 0) + Bytes({0xFF, 0xFB, 0x90, 0x64}),
       InspectUnknownType},
      {"frame header after one junk byte", Bytes({0, 0xFF, 0xFB, 0x90, 0x64}), InspectUnknownType},
      {"12-bit sync missing its top bits", Bytes({0xFF, 0xDB, 0x90, 0x64}), InspectUnknownType},
  };
  for (const WaveRow& row : rows) {
    SCOPED_TRACE(row.name);
    SourceFileInfo e;
    EXPECT_EQ(Inspect(row.bytes, e), row.result);
    ExpectOnlyFileSizeWritten(e);
  }
}

// Files as the tools people use make them: accepted with the facts the information line shows, as
// tompg reads them (the same reader).
TEST_F(InspectTest, SoundFilesMadeByTheToolsAreAcceptedWithTheirFacts) {
  for (const ToolMadeSource& row : ToolMadeSources) {
    SCOPED_TRACE(row.name);
    ScratchDir dir;
    const std::string path = MakeToolSource(dir, row);
    SourceFileInfo e = Sentinel();
    ASSERT_EQ(InspectSourceFile(path, e), InspectAccepted);
    EXPECT_EQ(e.IsWave, 1);
    EXPECT_EQ(e.SampleRate, static_cast<uint32_t>(row.rate));
    EXPECT_EQ(e.Channels, row.channels);
    EXPECT_EQ(e.SoundFrames, static_cast<uint64_t>(2 * row.rate));
    EXPECT_EQ(e.Duration, 2u);
    EXPECT_EQ(SoundFactsText(e.SoundFormat, e.SampleRate, e.Channels, e.BitsPerSample), row.facts);
  }
  // What the tools make of codecs that are no PCM, and of formats we do not take.
  const struct {
    const char* file;
    const char* command;
    InspectResult result;
  } refused[] = {
      {"mp3.wav", "ffmpeg -nostdin -loglevel error -f lavfi -i sine=d=1 -c:a libmp3lame mp3.wav",
       InspectNotPcm},
      {"ulaw.wav", "sox -n -r 8000 -e u-law ulaw.wav synth 1 sine 440", InspectNotPcm},
      {"mp3.rf64",
       "ffmpeg -nostdin -loglevel error -f lavfi -i sine=d=1 -c:a libmp3lame -rf64 always -f wav mp3.rf64",
       InspectNotPcm},
      {"a.au", "sox -n -r 8000 a.au synth 1 sine 440", InspectUnknownType},
  };
  for (const auto& row : refused) {
    SCOPED_TRACE(row.command);
    ScratchDir dir;
    ASSERT_EQ(RunQuiet({"sh", "-c", "cd '" + dir.Path + "' && " + row.command}), 0);
    SourceFileInfo e = Sentinel();
    EXPECT_EQ(InspectSourceFile(dir.File(row.file), e), row.result);
    ExpectOnlyFileSizeWritten(e);
  }
}

// MPEG audio is found as the decoder finds it (the framing rules have their own tests): the entry
// takes the first frame's facts, where the audio lies and its playing time, and a refusal keeps
// its reason.
TEST_F(InspectTest, MpegAudioGivesItsFactsAndPlayingTime) {
  FrameFields lsf;  // MPEG-2 64 kbit/s 22.05 kHz joint stereo
  lsf.id = 0;
  lsf.bitrateIndex = 8;
  lsf.mode = 1;
  FrameFields m25 = lsf;  // MPEG 2.5: 11.025 kHz
  m25.sync = 0xFFE;
  std::vector<uint8_t> layerII = Frames(2, FrameFields{});
  layerII[1] = 0xFD;
  const auto str = [](const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); };
  const std::string tag = str(Id3v2Tag(500000));
  const std::string id3v1 = "TAG" + std::string(125, 0);
  const struct {
    const char* name;
    std::string bytes;
    InspectResult result;
    int32_t mode = 0, bitrate = 0;
    uint32_t rate = 0, seconds = 0;
    uint64_t audioStart = 0, audioEnd = 0;
  } rows[] = {
      // 400 frames of 417 bytes at 128 kbit/s: 10.4 s; the tags are not audio.
      {"tags at both ends", tag + str(Frames(400, FrameFields{})) + id3v1, InspectAccepted, 3, 128, 44100, 10,
       500010, 500010 + 400 * 417},
      {"MPEG-2", str(Frames(2, lsf)), InspectAccepted, 1, 64, 22050, 0, 0, 2 * 208},
      {"MPEG 2.5", str(Frames(2, m25)), InspectAccepted, 1, 64, 11025, 0, 0, 2 * 417},
      // The information frame counts 3900 frames of 1152 samples, less 576 + 1000: 101.8 s.
      {"information frame", str(InformationFrame(FrameFields{}, "Info", 3900, 576, 1000)) + str(Frames(2, FrameFields{})),
       InspectAccepted, 3, 128, 44100, 101, 0, 3 * 417},
      {"a lone frame header", str(Frames(1, FrameFields{})).substr(0, 4), InspectUnknownType},
      {"a tag and no frame", tag, InspectUnknownType},
      {"Layer II", str(layerII), InspectNotLayer3},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SourceFileInfo e;
    ASSERT_EQ(Inspect(row.bytes, e), row.result);
    if (row.result != InspectAccepted) {
      ExpectOnlyFileSizeWritten(e);
      continue;
    }
    EXPECT_EQ(e.IsWave, 0);
    EXPECT_EQ(e.Layer, 2);
    EXPECT_EQ(e.ChannelMode, row.mode);
    EXPECT_EQ(e.Bitrate, row.bitrate);
    EXPECT_EQ(e.SampleRate, row.rate);
    EXPECT_EQ(e.Duration, row.seconds);
    EXPECT_EQ(e.AudioStart, row.audioStart);
    EXPECT_EQ(e.AudioEnd, row.audioEnd);
    EXPECT_EQ(e.Channels, 77u) << "a field of WAVE sources only";
  }
}

TEST_F(InspectTest, FilesThatCannotBeOpenedGiveCode1AndTouchNothing) {
  const std::string locked = dir_ + "/locked.wav";
  WriteFile(locked, Wave(2, 44100, 16, 1000));
  ASSERT_EQ(chmod(locked.c_str(), 0), 0);
  const std::string fifo = dir_ + "/fifo.wav";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  struct Row {
    const char* name;
    std::string path;
  };
  std::vector<Row> rows = {
      {"missing file", dir_ + "/missing.wav"},
      {"empty path", ""},
      {"directory", dir_},
      {"path through a file", locked + "/x.wav"},
      {"FIFO (must not block)", fifo},
  };
  // Permissions do not stop root; the row only means something for other users.
  if (geteuid() != 0) rows.push_back({"no read permission", locked});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SourceFileInfo e = Sentinel();
    const int fds = OpenFdCount();
    EXPECT_EQ(InspectSourceFile(row.path, e), InspectCannotOpen);
    EXPECT_EQ(OpenFdCount(), fds);
    EXPECT_EQ(e.FileSize, 0xDEADBEEFu);
    ExpectOnlyFileSizeWritten(e);
  }
}

TEST_F(InspectTest, FileSizeKeepsTheLow32BitsOfAFileOver4GiB) {
  // A WAVE file whose data runs past 4 GiB (sparse: it takes no space).
  const uint64_t total = (uint64_t{1} << 32) + 1000;
  SourceFileInfo e;
  ASSERT_EQ(Inspect(Riff(Fmt(1, 2, 44100, 16) + ChunkStating("data", 0xFFFFFFF0)), e, total),
            InspectAccepted);
  EXPECT_EQ(e.FileSize, 1000u);
  EXPECT_EQ(e.Duration, 0xFFFFFFF0u / 176400);
}

TEST(InspectTextTest, EveryCodeHasItsMessage) {
  EXPECT_STREQ(InspectResultText(InspectAccepted), "");
  EXPECT_STREQ(InspectResultText(InspectCannotOpen), "Unable to open file");
  EXPECT_STREQ(InspectResultText(InspectUnknownType), "Unknown file type");
  EXPECT_STREQ(InspectResultText(InspectBrokenWave), "Broken WAVE file");
  EXPECT_STREQ(InspectResultText(InspectNotPcm), "Not a PCM WAVE file");
  EXPECT_STREQ(InspectResultText(InspectNotLayer3), "Not a MPEG-1 Layer III file");
  EXPECT_STREQ(InspectResultText(static_cast<InspectResult>(6)), "");
}
