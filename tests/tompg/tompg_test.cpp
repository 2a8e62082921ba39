// tompg end to end: the program as the host runs it (pseudo-terminal, 80 x 2 screen), its
// console contract, and the MPEG audio it writes, decoded and measured.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>

#include "tests/tompg/tompg_support.h"

namespace {

constexpr const char* PrefixUnrecognized = "UNRECOGNIZED PCM FILE ";
constexpr const char* PrefixCannotCreate = "CANNOT CREATE OUTPUT F";
constexpr const char* PrefixCannotOpen = "CANNOT_OPEN_INPUT_FILE";

long FileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

std::vector<std::string> Args(const std::string& in, const std::string& out, int layer, int b, int mode) {
  return {
      in,    out,  "-L" + std::to_string(layer), "-B" + std::to_string(b), "-M" + std::to_string(mode), "-P2",
      "-S0", "-N4"};
}

int SamplesPerFrame(int layer, int rate) {
  if (layer == 1) return 384;
  return layer == 3 && rate < 32000 ? 576 : 1152;
}

// Joint stereo lets the encoder choose, frame by frame, between plain and joint coding
// (ISO/IEC 11172-3 2.4.2.3, mode 00 or 01); the other modes are fixed.
void ExpectModeInEveryFrame(const std::string& path, int mode) {
  bool endsAtEof = false;
  std::vector<FrameHeader> frames = ReadFrames(path, endsAtEof);
  EXPECT_TRUE(endsAtEof) << path;
  ASSERT_FALSE(frames.empty()) << path;
  for (const FrameHeader& h : frames) {
    if (mode == 1)
      ASSERT_TRUE(h.mode == 0 || h.mode == 1) << "frame mode " << h.mode;
    else
      ASSERT_EQ(h.mode, mode);
  }
}

bool RowIsBlank(const std::string& row) { return row.find_first_not_of(' ') == std::string::npos; }

// The default test signal, seconds long, written to name in dir.
WavFile WriteSeconds(const ScratchDir& dir, double seconds, const char* name = "in.wav",
                     int rate = WavSignal{}.rate) {
  WavSignal signalShape;
  signalShape.seconds = seconds;
  signalShape.rate = rate;
  return WriteWav(dir.File(name), signalShape);
}

// ---------------------------------------------------------------------------------------------
// The progress line

class ProgressLine : public ::testing::TestWithParam<int> {};

TEST_P(ProgressLine, HoldsTheBottomRowWithFinalTotalsAndExitStatus) {
  const int layer = GetParam();
  ScratchDir dir;
  WavFile wav = WriteSeconds(dir, 2.0);
  const std::string out = dir.File("out.mp" + std::to_string(layer));
  RunResult run = RunTompg(Args(dir.File("in.wav"), out, layer, 64, 1));

  ASSERT_TRUE(run.exited);
  uint32_t frames = 0, bytesIn = 0, bytesOut = 0;
  ASSERT_TRUE(ParseProgressRow(run.rows[1], frames, bytesIn, bytesOut)) << "[" << run.rows[1] << "]";
  EXPECT_TRUE(RowIsBlank(run.rows[0])) << "[" << run.rows[0] << "]";
  EXPECT_EQ(bytesIn, FileSize(dir.File("in.wav")));
  EXPECT_EQ(static_cast<long>(bytesOut), FileSize(out));
  EXPECT_EQ(run.status, static_cast<int>(frames % 256));
  // Nothing but progress lines, each rewritten in place from column 0.
  EXPECT_EQ(run.raw.find('\n'), std::string::npos);
  EXPECT_EQ(run.raw.rfind("\r frames ", 0), 0u);

  // The count is the number of audio frames in the stream: Layer III's information frame (Info,
  // with the LAME extension's delay and padding) is none. The stream is nothing but frames.
  bool endsAtEof = false;
  const std::vector<FrameHeader> all = ReadFrames(out, endsAtEof);
  EXPECT_TRUE(endsAtEof);
  EXPECT_EQ(all.size(), frames + (layer == 3 ? 1u : 0u));
  const std::string first = ReadFile(out).substr(0, static_cast<size_t>(all.at(0).length));
  EXPECT_EQ(first.find("Info") != std::string::npos && first.find("LAME") != std::string::npos, layer == 3);
  Pcm pcm = Decode(out, layer, dir.File("dec.wav"));
  EXPECT_EQ(pcm.frames, layer == 3 ? wav.frames : static_cast<long>(frames) * SamplesPerFrame(layer, 44100));
}

INSTANTIATE_TEST_SUITE_P(Layers, ProgressLine, ::testing::Values(1, 2, 3),
                         [](const auto& info) { return "Layer" + std::to_string(info.param); });

TEST(ProgressLine, UpdatesRiseInPlaceAtMostTwentyTimesASecond) {
  ScratchDir dir;
  WavFile wav = WriteSeconds(dir, 60.0, "long.wav", 48000);
  timespec t0{}, t1{};
  clock_gettime(CLOCK_MONOTONIC, &t0);
  RunResult run = RunTompg(Args(dir.File("long.wav"), dir.File("long.mp3"), 3, 64, 1));
  clock_gettime(CLOCK_MONOTONIC, &t1);
  ASSERT_TRUE(run.exited);
  double seconds = (t1.tv_sec - t0.tv_sec) + (t1.tv_nsec - t0.tv_nsec) * 1e-9;

  std::vector<uint32_t> framesSeen, inSeen;
  for (size_t at = run.raw.find('\r'); at != std::string::npos; at = run.raw.find('\r', at + 1)) {
    size_t end = run.raw.find('\r', at + 1);
    std::string line = run.raw.substr(at, end == std::string::npos ? std::string::npos : end - at);
    uint32_t f = 0, i = 0, o = 0;
    ASSERT_TRUE(ParseProgressRow(line.substr(1), f, i, o)) << line;
    framesSeen.push_back(f);
    inSeen.push_back(i);
  }
  ASSERT_GE(framesSeen.size(), 2u);
  for (size_t k = 1; k < framesSeen.size(); ++k) {
    EXPECT_GE(framesSeen[k], framesSeen[k - 1]);
    EXPECT_GE(inSeen[k], inSeen[k - 1]);
  }
  EXPECT_EQ(inSeen.back(), FileSize(dir.File("long.wav")));
  (void)wav;
  // The first line, one per 50 ms at most, and the final one.
  EXPECT_LE(static_cast<double>(framesSeen.size()), 2 + seconds * 20 + 1) << seconds << " s";
}

TEST(ProgressLine, SurvivesStopAndContinue) {
  ScratchDir dir;
  WavFile wav = WriteSeconds(dir, 40.0);
  RunOptions options;
  options.stopAndContinue = true;
  RunResult run = RunTompg(Args(dir.File("in.wav"), dir.File("out.mp2"), 2, 96, 0), options);
  ASSERT_TRUE(run.exited);
  EXPECT_TRUE(run.stoppedSeen);
  uint32_t frames = 0, bytesIn = 0, bytesOut = 0;
  ASSERT_TRUE(ParseProgressRow(run.rows[1], frames, bytesIn, bytesOut)) << run.rows[1];
  EXPECT_EQ(bytesIn, FileSize(dir.File("in.wav")));
  EXPECT_EQ(frames, static_cast<uint32_t>(std::ceil((wav.frames + 481) / 1152.0)));
  EXPECT_EQ(run.status, static_cast<int>(frames % 256));
  EXPECT_EQ(static_cast<long>(bytesOut), FileSize(dir.File("out.mp2")));
}

// Ended from outside (the console closed, an interrupt, a termination request): no half-written
// output is left behind to be taken for a result, and the parent sees the signal.
TEST(ProgressLine, EndedBySignalLeavesNoPartialOutput) {
  for (int sig : {SIGHUP, SIGTERM, SIGINT}) {
    ScratchDir dir;
    WriteSeconds(dir, 60.0);
    RunOptions options;
    options.endSignal = sig;
    RunResult run = RunTompg(Args(dir.File("in.wav"), dir.File("out.mp3"), 3, 64, 1), options);
    EXPECT_FALSE(run.exited) << strsignal(sig);
    EXPECT_EQ(run.signal, sig);
    EXPECT_FALSE(FileExists(dir.File("out.mp3"))) << strsignal(sig);
  }
}

// ---------------------------------------------------------------------------------------------
// Error lines

struct ErrorCase {
  const char* name;
  const char* prefix;
  // Prepares the files in dir; returns the source and output paths.
  void (*prepare)(const ScratchDir& dir, std::string& in, std::string& out);
};

// A source of the default signal changed by shape, written to name in dir; the output o.mp3.
void ShapedSource(const ScratchDir& dir, std::string& in, std::string& out, const char* name,
                  void (*shape)(WavSignal&)) {
  WavSignal signalShape;
  shape(signalShape);
  WriteWav(in = dir.File(name), signalShape);
  out = dir.File("o.mp3");
}

const ErrorCase ErrorCases[] = {
    {"MissingSource", PrefixCannotOpen,
     [](const ScratchDir& d, std::string& in, std::string& out) {
       in = d.File("nothing.wav"), out = d.File("o.mp3");
     }},
    {"SourceIsADirectory", PrefixCannotOpen,
     [](const ScratchDir& d, std::string& in, std::string& out) { in = d.Path, out = d.File("o.mp3"); }},
    {"OutputDirectoryMissing", PrefixCannotCreate,
     [](const ScratchDir& d, std::string& in, std::string& out) {
       WriteWav(in = d.File("a.wav"), WavSignal{});
       out = d.File("no/such/dir/o.mp3");
     }},
    {"OutputParentIsAFile", PrefixCannotCreate,
     [](const ScratchDir& d, std::string& in, std::string& out) {
       WriteWav(in = d.File("a.wav"), WavSignal{});
       out = d.File("a.wav/o.mp3");
     }},
    {"OutputIsTheSource", PrefixCannotCreate,
     [](const ScratchDir& d, std::string& in, std::string& out) {
       WriteWav(in = out = d.File("a.wav"), WavSignal{});
     }},
    {"Garbage", PrefixUnrecognized,
     [](const ScratchDir& d, std::string& in, std::string& out) {
       std::string junk;
       for (int i = 0; i < 5000; ++i) junk += static_cast<char>((i * 7919) >> 3);
       WriteFile(in = d.File("junk.wav"), junk);
       out = d.File("o.mp3");
     }},
    {"EmptyFile", PrefixUnrecognized,
     [](const ScratchDir& d, std::string& in, std::string& out) {
       WriteFile(in = d.File("e.wav"), ""), out = d.File("o.mp3");
     }},
    {"DataBeforeFormat", PrefixUnrecognized,
     [](const ScratchDir& d, std::string& in, std::string& out) {
       ShapedSource(d, in, out, "d.wav", [](WavSignal& s) { s.dataBeforeFmt = true; });
     }},
    // MP3 is the decoder's: not read, and nothing but the error line is written, as a decoder of
    // it would write its warnings to the console.
    {"Mp3InWav", PrefixUnrecognized,
     [](const ScratchDir& d, std::string& in, std::string& out) {
       ASSERT_EQ(RunQuiet({"ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i", "sine=d=1", "-c:a",
                           "libmp3lame", in = d.File("m.wav")}),
                 0);
       out = d.File("o.mp3");
     }},
    {"TaggedMp3", PrefixUnrecognized,
     [](const ScratchDir& d, std::string& in, std::string& out) {
       WriteWav(d.File("a.wav"), WavSignal{});
       ASSERT_EQ(
           RunQuiet({"lame", "--quiet", "--tt", "t", "--id3v2-only", d.File("a.wav"), in = d.File("m.mp3")}),
           0);
       ASSERT_EQ(truncate(in.c_str(), 2000), 0);  // cut: a decoder of it has warnings to write
       out = d.File("o.mp3");
     }},
    {"NoSamples", PrefixUnrecognized,
     [](const ScratchDir& d, std::string& in, std::string& out) {
       ShapedSource(d, in, out, "n.wav", [](WavSignal& s) { s.seconds = 0; });
     }},
    {"NoDataChunk", PrefixUnrecognized,
     [](const ScratchDir& d, std::string& in, std::string& out) {
       WriteWav(in = d.File("t.wav"), WavSignal{});
       EXPECT_EQ(truncate(in.c_str(), 36), 0);  // RIFF, WAVE and the format chunk only
       out = d.File("o.mp3");
     }},
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class ErrorLine : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ErrorLine, StandsInTheUpperRowFromColumnOneWithTheBottomRowBlank) {
  const ErrorCase& c = GetParam();
  ScratchDir dir;
  std::string in, out;
  c.prepare(dir, in, out);
  std::vector<uint8_t> sourceBefore = ReadFileBytes(in);
  bool outputExisted = FileExists(out);
  // An earlier run left its final progress line on the bottom row, as the host's console keeps it.
  RunOptions options;
  options.screenBefore = "\r frames 999999 bytes in 123456789 bytes out 98765432";
  RunResult run = RunTompg(Args(in, out, 3, 64, 1), options);

  ASSERT_TRUE(run.exited);
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(run.rows[0].substr(0, 23), std::string(" ") + c.prefix) << "[" << run.rows[0] << "]";
  // Nothing of the earlier line is mixed into the error line.
  EXPECT_EQ(run.rows[0].find("bytes"), std::string::npos) << "[" << run.rows[0] << "]";
  EXPECT_TRUE(RowIsBlank(run.rows[1])) << "[" << run.rows[1] << "]";
  EXPECT_EQ(run.raw.find("frames"), std::string::npos);
  EXPECT_LE(run.raw.find(c.prefix), 4u) << "written before the error line: " << run.raw;
  if (!outputExisted) {
    EXPECT_FALSE(FileExists(out));
  }
  EXPECT_EQ(ReadFileBytes(in), sourceBefore) << "the source was changed";
}

INSTANTIATE_TEST_SUITE_P(Cases, ErrorLine, ::testing::ValuesIn(ErrorCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ErrorLine, WriteFailureAfterProgressIsReportedAndRemovesThePartialOutput) {
  ScratchDir dir;
  WriteSeconds(dir, 10.0);
  RunOptions options;
  options.fileSizeLimit = 40000;  // the file system refuses more than this
  RunResult run = RunTompg(Args(dir.File("in.wav"), dir.File("out.mp3"), 3, 128, 0), options);

  ASSERT_TRUE(run.exited);
  EXPECT_EQ(run.rows[0].substr(0, 23), std::string(" ") + PrefixCannotCreate) << "[" << run.rows[0] << "]";
  EXPECT_TRUE(RowIsBlank(run.rows[1])) << "[" << run.rows[1] << "]";
  EXPECT_FALSE(FileExists(dir.File("out.mp3")));
  // The exit status can never pass for success: it differs from the last frame count shown.
  size_t last = run.raw.rfind("\r frames ");
  ASSERT_NE(last, std::string::npos);
  uint32_t frames = 0, bytesIn = 0, bytesOut = 0;
  std::string line = run.raw.substr(last + 1, run.raw.find('\r', last + 1) - last - 1);
  ASSERT_TRUE(ParseProgressRow(line, frames, bytesIn, bytesOut)) << line;
  EXPECT_NE(run.status, static_cast<int>(frames % 256));
  EXPECT_NE(run.status, 0);
}

// A failed encode (a full disk, a signal) leaves a file that already had the output's name as it
// was, and no temporary file.
TEST(ErrorLine, FailedEncodeKeepsTheExistingOutput) {
  RunOptions full, terminated;
  full.fileSizeLimit = 40000;
  terminated.endSignal = SIGTERM;
  for (const RunOptions& options : {full, terminated}) {
    ScratchDir dir;
    WriteSeconds(dir, 60.0);
    WriteFile(dir.File("out.mp3"), "old");
    RunResult run = RunTompg(Args(dir.File("in.wav"), dir.File("out.mp3"), 3, 128, 0), options);
    EXPECT_FALSE(run.exited && run.status == 0);
    EXPECT_EQ(ReadFileBytes(dir.File("out.mp3")), std::vector<uint8_t>({'o', 'l', 'd'}));
    EXPECT_EQ(ListDir(dir.Path), "in.wav out.mp3") << "a temporary file was left behind";
  }
}

// A link at the output's name is written through, as an open for writing does: the link stays.
TEST(ErrorLine, OutputLinkIsWrittenThroughAndKept) {
  ScratchDir dir;
  WriteWav(dir.File("in.wav"), WavSignal{});
  ASSERT_EQ(symlink("target.mp2", dir.File("out.mp2").c_str()), 0);
  RunResult run = RunTompg(Args(dir.File("in.wav"), dir.File("out.mp2"), 2, 64, 1));
  EXPECT_TRUE(run.exited);
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("out.mp2")));
  EXPECT_TRUE(ReadFirstHeader(dir.File("target.mp2")).valid);
}

TEST(ErrorLine, BadCommandLineEndsWithFailureAndNoOutput) {
  ScratchDir dir;
  WriteWav(dir.File("in.wav"), WavSignal{});
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{dir.File("in.wav")}, Args(dir.File("in.wav"), dir.File("o.mp3"), 4, 64, 1),
        Args(dir.File("in.wav"), dir.File("o.mp3"), 3, 64, 7),
        Args(dir.File("in.wav"), dir.File("o.mp3"), 3, 0, 1),
        std::vector<std::string>{dir.File("in.wav"), dir.File("o.mp3"), "-L3", "-M1"}}) {
    RunResult run = RunTompg(args);
    EXPECT_TRUE(run.exited);
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(run.raw.find("frames"), std::string::npos);
    EXPECT_FALSE(FileExists(dir.File("o.mp3")));
  }
}

// ---------------------------------------------------------------------------------------------
// Bitrate mapping: every -B of the host's list, every mode and layer, MPEG-1 and MPEG-2 rates.
// The chosen rate is the nearest legal one; a tie goes up.

const int BitrateList[12] = {56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320};
// Expected total kbit/s per list entry.
const int ExpectMpeg1Layer1[12] = {64, 64, 96, 96, 128, 128, 160, 160, 192, 224, 256, 320};
const int ExpectMpeg1Layer2Two[12] = {64, 64, 96, 96, 112, 128, 160, 160, 192, 224, 256, 320};
const int ExpectMpeg1Layer2Mono[12] = {56, 64, 80, 96, 112, 128, 160, 160, 192, 192, 192, 192};
const int ExpectMpeg1Layer3[12] = {56, 64, 80, 96, 112, 128, 160, 160, 192, 224, 256, 320};
const int ExpectLsfLayer1[12] = {56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 256};
const int ExpectLsfLayer23[12] = {56, 64, 80, 96, 112, 128, 144, 160, 160, 160, 160, 160};

struct MappingCase {
  int rate;
  int layer;
  int mode;
};

void PrintTo(const MappingCase& c, std::ostream* os) {
  *os << c.rate << " Hz, Layer " << c.layer << ", mode " << c.mode;
}

class BitrateMapping : public ::testing::TestWithParam<MappingCase> {};

TEST_P(BitrateMapping, EveryListValueGivesTheNearestLegalBitrate) {
  const MappingCase c = GetParam();
  ScratchDir dir;
  WavSignal signalShape;
  signalShape.rate = c.rate;
  signalShape.seconds = 0.06;
  WriteWav(dir.File("in.wav"), signalShape);
  bool lsf = c.rate < 32000;
  const int* expect = lsf            ? (c.layer == 1 ? ExpectLsfLayer1 : ExpectLsfLayer23)
                      : c.layer == 1 ? ExpectMpeg1Layer1
                      : c.layer == 3 ? ExpectMpeg1Layer3
                      : c.mode == 3  ? ExpectMpeg1Layer2Mono
                                     : ExpectMpeg1Layer2Two;
  for (int k = 0; k < 12; ++k) {
    const int b = c.mode == 3 ? BitrateList[k] : BitrateList[k] / 2;
    char name[32];
    std::snprintf(name, sizeof name, "o%d.mp%d", k, c.layer);
    const std::string out = dir.File(name);
    RunResult run = RunTompg(Args(dir.File("in.wav"), out, c.layer, b, c.mode));
    ASSERT_TRUE(run.exited) << "-B" << b;
    FrameHeader h = ReadFirstHeader(out);
    ASSERT_TRUE(h.valid) << "-B" << b << " " << run.rows[0];
    EXPECT_EQ(h.bitrateKbps, expect[k]) << "-B" << b;
    EXPECT_EQ(h.layer, c.layer);
    EXPECT_EQ(h.id, lsf ? 0 : 1);
    EXPECT_EQ(h.sampleRate, c.rate);
    ExpectModeInEveryFrame(out, c.mode);
  }
}

std::vector<MappingCase> MappingCases() {
  std::vector<MappingCase> cases;
  for (int rate : {44100, 22050})
    for (int layer = 1; layer <= 3; ++layer)
      for (int mode = 0; mode <= 3; ++mode) cases.push_back({rate, layer, mode});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(All, BitrateMapping, ::testing::ValuesIn(MappingCases()), [](const auto& info) {
  return "Rate" + std::to_string(info.param.rate) + "_L" + std::to_string(info.param.layer) + "_M" +
         std::to_string(info.param.mode);
});

// ---------------------------------------------------------------------------------------------
// The decoded sound

struct EncodeCase {
  const char* name;
  int rate, channels, bits;
  int layer, b, mode;
  int codedRate;
  double minSnrDb;             // after alignment against the source; 0: not measured (resampled, mixed)
  double toneTolDb;            // level of each tone against the source
  double maxResidualDb = -30;  // what is not a source tone, against the whole signal
};

const EncodeCase EncodeCases[] = {
    // The residual limit is -30 dB, -20 dB where Layer II has 32 or 40 kbit/s per channel.
    // name                          rate  ch bits L    B  M  coded  SNR  tol  residual
    {"L1_44k1_Stereo16_192k", 44100, 2, 16, 1, 96, 0, 44100, 40, 1.0},
    {"L1_48k_Mono16_192k", 48000, 1, 16, 1, 192, 3, 48000, 40, 1.0},
    {"L1_32k_Stereo24_Dual256k", 32000, 2, 24, 1, 128, 2, 32000, 0, 1.0},
    {"L1_22k05_Stereo16_Joint128k", 22050, 2, 16, 1, 64, 1, 22050, 0, 1.5},
    {"L1_11k025_Mono8_To16k", 11025, 1, 8, 1, 64, 3, 16000, 0, 1.5},
    {"L1_44k1_MonoSource_Joint", 44100, 1, 16, 1, 96, 1, 44100, 0, 1.0},
    {"L2_44k1_Stereo16_192k", 44100, 2, 16, 2, 96, 0, 44100, 40, 1.0},
    {"L2_48k_Stereo24_Joint224k", 48000, 2, 24, 2, 112, 1, 48000, 0, 1.0},
    {"L2_32k_Mono16_80k", 32000, 1, 16, 2, 80, 3, 32000, 0, 1.5},
    {"L2_22k05_Stereo16_Dual80k", 22050, 2, 16, 2, 40, 2, 22050, 0, 1.5, -20},
    {"L2_96k_Stereo24_To48k", 96000, 2, 24, 2, 128, 1, 48000, 0, 1.0},
    {"L2_44k1_StereoSource_Mono", 44100, 2, 16, 2, 96, 3, 44100, 0, 1.5},
    {"L2_44k1_MonoSource_Stereo", 44100, 1, 8, 2, 64, 0, 44100, 0, 1.5, -20},
    {"L3_44k1_Stereo16_Joint128k", 44100, 2, 16, 3, 64, 1, 44100, 0, 1.5},
    {"L3_48k_Stereo16_320k", 48000, 2, 16, 3, 160, 0, 48000, 25, 1.0},  // SNR with no delay: gapless
    {"L3_32k_Mono8_56k", 32000, 1, 8, 3, 56, 3, 32000, 0, 1.5},
    {"L3_22k05_Stereo16_Joint64k", 22050, 2, 16, 3, 32, 1, 22050, 0, 1.5},
    {"L3_16k_Mono24_56k", 16000, 1, 24, 3, 56, 3, 16000, 0, 1.5},
    {"L3_24k_Stereo16_Dual96k", 24000, 2, 16, 3, 48, 2, 24000, 0, 1.5},
    {"L3_11k025_Stereo16_To16k", 11025, 2, 16, 3, 40, 1, 16000, 0, 1.5},
    {"L3_44k1_StereoSource_Mono", 44100, 2, 24, 3, 128, 3, 44100, 0, 1.5},
};

void PrintTo(const EncodeCase& c, std::ostream* os) { *os << c.name; }

class DecodedSound : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(DecodedSound, KeepsRateChannelsDurationTonesAndLevel) {
  const EncodeCase c = GetParam();
  ScratchDir dir;
  WavSignal signalShape;
  signalShape.rate = c.rate;
  signalShape.channels = c.channels;
  signalShape.bits = c.bits;
  signalShape.seconds = 1.5;
  if (c.rate <= 16000 || c.codedRate <= 16000)  // keep the tones inside the narrow band
    signalShape.rightTones = {1000.0, 2500.0};
  WavFile wav = WriteWav(dir.File("in.wav"), signalShape);
  const std::string out = dir.File("out.mp" + std::to_string(c.layer));
  RunResult run = RunTompg(Args(dir.File("in.wav"), out, c.layer, c.b, c.mode));
  ASSERT_TRUE(run.exited);
  uint32_t frames = 0, bytesIn = 0, bytesOut = 0;
  ASSERT_TRUE(ParseProgressRow(run.rows[1], frames, bytesIn, bytesOut)) << run.rows[0] << "|" << run.rows[1];
  EXPECT_EQ(run.status, static_cast<int>(frames % 256));
  EXPECT_EQ(bytesIn, FileSize(dir.File("in.wav")));
  // The libraries say nothing on the console: only progress lines were written.
  EXPECT_EQ(run.raw.find('\n'), std::string::npos) << run.raw;

  FrameHeader h = ReadFirstHeader(out);
  ASSERT_TRUE(h.valid);
  EXPECT_EQ(h.sampleRate, c.codedRate);
  ExpectModeInEveryFrame(out, c.mode);

  Pcm pcm = Decode(out, c.layer, dir.File("dec.wav"));
  ASSERT_EQ(pcm.rate, c.codedRate);
  const int coded = c.mode == 3 ? 1 : 2;
  ASSERT_EQ(pcm.channels, coded);
  // Duration: every source sample comes back, behind the coder's delay (481 samples of
  // polyphase filterbanks for Layers I and II), and the stream ends within the frame that holds
  // the last one. Layer III comes back at exactly the source's length (one sample either way
  // where it was resampled): its information frame tells the decoder what to remove.
  const long expected = std::lround(static_cast<double>(wav.frames) * c.codedRate / c.rate);
  const long frameLength = SamplesPerFrame(c.layer, c.codedRate);
  const long delay = c.layer == 3 ? 0 : 481;
  if (c.layer == 3) {
    EXPECT_NEAR(pcm.frames, expected, c.rate == c.codedRate ? 0 : 1);
    const std::string raw = dir.File("ff.raw");
    ASSERT_EQ(RunQuiet({"ffmpeg", "-loglevel", "error", "-i", out, "-f", "s16le", raw}), 0);
    EXPECT_EQ(FileSize(raw), pcm.frames * 2 * coded) << "ffmpeg decodes another length than mpg123";
  } else {
    EXPECT_GE(pcm.frames, expected + delay);
    EXPECT_LT(pcm.frames, expected + delay + frameLength);
  }
  // The last samples are there: the tones keep their level up to the end of the source.
  for (int ch = 0; ch < coded; ++ch) {
    const long end = std::min(expected + delay, pcm.frames);
    ToneFit all = FitTones(pcm, ch, {440.0}, end - pcm.rate / 100, end);
    EXPECT_GT(all.totalRms, 0.5 * signalShape.amplitude)
        << "channel " << ch << ": the end of the source is missing";
  }

  // Which source tones each coded channel must carry, and at what amplitude.
  const long from = pcm.rate / 4;
  const long to = static_cast<long>(expected) - pcm.rate / 4;
  for (int ch = 0; ch < coded; ++ch) {
    std::vector<double> want, absent;
    double amplitude = signalShape.amplitude;
    if (c.channels == 1) {
      want = signalShape.leftTones;
    } else if (coded == 1) {
      want = signalShape.leftTones;
      want.insert(want.end(), signalShape.rightTones.begin(), signalShape.rightTones.end());
      amplitude /= 2;  // mixed down
    } else {
      want = ch == 0 ? signalShape.leftTones : signalShape.rightTones;
      absent = ch == 0 ? signalShape.rightTones : signalShape.leftTones;
    }
    // All four source tones are fitted: a tone of the other channel shows up with its amplitude.
    std::vector<double> fitted = want;
    fitted.insert(fitted.end(), absent.begin(), absent.end());
    ToneFit fit = FitTones(pcm, ch, fitted, from, to);
    for (size_t k = 0; k < want.size(); ++k)
      EXPECT_NEAR(20 * std::log10(fit.amplitudes[k] / amplitude), 0.0, c.toneTolDb)
          << "channel " << ch << ", " << want[k] << " Hz";
    for (size_t k = want.size(); k < fitted.size(); ++k)
      EXPECT_LT(20 * std::log10(fit.amplitudes[k] / amplitude), -40.0)
          << "channel " << ch << " leaks " << fitted[k] << " Hz";
    // Everything that is not a source tone (noise, distortion) stays far below the tones.
    EXPECT_LT(20 * std::log10(fit.residualRms / fit.totalRms), c.maxResidualDb) << "channel " << ch;
  }
  if (c.minSnrDb > 0) {
    Pcm source;
    ASSERT_TRUE(ReadWav16(dir.File("in.wav"), source));
    for (int ch = 0; ch < coded; ++ch)
      EXPECT_GT(AlignedSnr(source, pcm, ch, c.layer == 3 ? 0 : 2000), c.minSnrDb) << "channel " << ch;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, DecodedSound, ::testing::ValuesIn(EncodeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// WAV layouts a reader meets in practice

struct LayoutCase {
  const char* name;
  void (*shape)(WavSignal& signalShape);
};

const LayoutCase LayoutCases[] = {
    {"Plain16", [](WavSignal&) {}},
    {"Extensible24", [](WavSignal& s) { s.extensible = true, s.bits = 24; }},
    {"Extensible16Mono", [](WavSignal& s) { s.extensible = true, s.channels = 1; }},
    {"FormatChunkOf18Bytes", [](WavSignal& s) { s.fmtOf18 = true; }},
    {"OddChunkBeforeFormat", [](WavSignal& s) { s.chunksBeforeFmt = true; }},
    {"DataSizeRunsPastTheFile", [](WavSignal& s) { s.dataSizeExtra = 1000000; }},
    {"PartialFrameAtTheEnd", [](WavSignal& s) { s.tailBytes = 3; }},
    {"Unsigned8", [](WavSignal& s) { s.bits = 8; }},
    {"Signed32", [](WavSignal& s) { s.bits = 32; }},
};

void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

class WavLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(WavLayout, IsReadAndCodedWithAllDataBytesCounted) {
  ScratchDir dir;
  WavSignal signalShape;
  GetParam().shape(signalShape);
  WavFile wav = WriteWav(dir.File("in.wav"), signalShape);
  RunResult run =
      RunTompg(Args(dir.File("in.wav"), dir.File("out.mp2"), 2, 96, signalShape.channels == 1 ? 3 : 0));
  ASSERT_TRUE(run.exited);
  uint32_t frames = 0, bytesIn = 0, bytesOut = 0;
  ASSERT_TRUE(ParseProgressRow(run.rows[1], frames, bytesIn, bytesOut)) << run.rows[0] << "|" << run.rows[1];
  EXPECT_EQ(bytesIn, FileSize(dir.File("in.wav")));
  EXPECT_EQ(frames, static_cast<uint32_t>(std::ceil((wav.frames + 481) / 1152.0)));
  Pcm pcm = Decode(dir.File("out.mp2"), 2, dir.File("dec.wav"));
  ASSERT_GT(pcm.frames, 44100);
  ToneFit fit = FitTones(pcm, 0, signalShape.leftTones, 10000, 40000);
  for (size_t k = 0; k < signalShape.leftTones.size(); ++k)
    EXPECT_NEAR(20 * std::log10(fit.amplitudes[k] / signalShape.amplitude), 0.0, 1.0)
        << signalShape.leftTones[k] << " Hz";
  EXPECT_LT(20 * std::log10(fit.residualRms / fit.totalRms), -30.0);
}

INSTANTIATE_TEST_SUITE_P(Cases, WavLayout, ::testing::ValuesIn(LayoutCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Runs a shell command in dir; a failing command fails the test.
void Shell(const ScratchDir& dir, const std::string& command) {
  ASSERT_EQ(RunQuiet({"sh", "-c", "cd '" + dir.Path + "' && " + command}), 0) << command;
}

// Files made by the tools people use, in every format the encoder takes: each output has the
// source's length (one sample either way where the rate is changed) and its tones, 440 Hz on the
// left and 1000 Hz on the right; the mix-down of six channels leaves the LFE's 60 Hz out.
TEST(Sources, EveryFormatKeepsItsLengthAndTones) {
  for (const ToolMadeSource& row : ToolMadeSources) {
    SCOPED_TRACE(row.name);
    ScratchDir dir;
    RunResult run = RunTompg(Args(MakeToolSource(dir, row), dir.File("out.mp3"), 3, 128, 0));
    uint32_t frames = 0, bytesIn = 0, bytesOut = 0;
    ASSERT_TRUE(ParseProgressRow(run.rows[1], frames, bytesIn, bytesOut)) << run.rows[0];
    EXPECT_EQ(run.status, static_cast<int>(frames % 256));
    EXPECT_EQ(run.raw.find('\n'), std::string::npos) << run.raw;
    const int coded = row.rate > 48000 ? 48000 : row.rate;
    Pcm pcm = ReadAsFloat(dir.File("out.mp3"), coded, 2, dir.File("f.raw"));
    EXPECT_NEAR(pcm.frames, 2 * coded, row.rate == coded ? 0 : 1);
    for (int ch = 0; ch < 2; ++ch) {
      ToneFit fit = FitTones(pcm, ch, {440.0, 1000.0, 60.0}, coded / 4, pcm.frames - coded / 4);
      const double wanted = fit.amplitudes[ch];
      EXPECT_GT(wanted, 0.05) << "channel " << ch;
      // The right side of a mix-down carries the centre's 440 Hz too, below its own 1000 Hz.
      EXPECT_LT(fit.amplitudes[1 - ch], row.channels == 2 || ch == 0 ? wanted / 100 : wanted)
          << "channel " << ch;
      EXPECT_LT(fit.amplitudes[2], wanted / 100) << "channel " << ch << ": LFE";
    }
  }
}

// A source that ends before the length it announces is encoded as far as it goes, with a notice;
// one that is damaged inside fails with its name; a WAV whose sizes a streaming program left at 0
// or 0xFFFFFFFF is read to the end of the file, never taken for silence.
TEST(Sources, CutDamagedAndUnsizedFilesAreToldTruly) {
  const struct {
    const char* make;  // a shell command that makes s from a.wav (two seconds)
    const char* upperRow;
    size_t minFrames;  // of the output (0: none is written)
  } rows[] = {
      {"flac -s -o f a.wav && head -c 60000 f > s", " SOURCE ENDED EARLY: 0:0", 40},
      {"oggenc -Q -o f a.wav && head -c 9000 f > s", " SOURCE ENDED EARLY: after 0:0", 10},
      {"flac -s -o s a.wav && dd if=/dev/zero of=s bs=1k seek=50 count=3 conv=notrunc",
       " CANNOT_OPEN_INPUT_FILE: damaged", 0},
      {"opusenc --quiet a.wav s && dd if=/dev/zero of=s bs=1k seek=20 count=1 conv=notrunc",
       " CANNOT_OPEN_INPUT_FILE: damaged", 0},
      {"cp a.wav s && dd if=/dev/zero of=s bs=4 seek=1 count=1 conv=notrunc && "
       "dd if=/dev/zero of=s bs=4 seek=10 count=1 conv=notrunc",
       "", 76},
      {"cp a.wav s && printf '\\377\\377\\377\\377' | dd of=s bs=4 seek=10 conv=notrunc", "", 76},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.make);
    ScratchDir dir;
    Shell(dir, std::string("sox -n -r 44100 -c 2 -b 16 a.wav synth 2 sine 440 && ") + row.make);
    RunResult run = RunTompg(Args(dir.File("s"), dir.File("o.mp3"), 3, 64, 1));
    EXPECT_EQ(run.rows[0].substr(0, std::strlen(row.upperRow)), row.upperRow) << run.rows[0];
    bool endsAtEof = false;
    const size_t frames = ReadFrames(dir.File("o.mp3"), endsAtEof).size();
    uint32_t shown = 0, bytesIn = 0, bytesOut = 0;
    const bool succeeded = ParseProgressRow(run.rows[1], shown, bytesIn, bytesOut);
    EXPECT_EQ(succeeded, row.minFrames > 0) << run.rows[1];
    EXPECT_EQ(succeeded ? run.status : 0, static_cast<int>(shown % 256));
    EXPECT_EQ(frames, succeeded ? shown + 1 : 0u);
    EXPECT_GE(frames, row.minFrames);
  }
}

// A source at 24 bits is coded from all its bits: its Layer III output is as close to it as the
// output of the same source cut to 16 bits, or closer; for a quiet source, whose last 8 bits
// matter, clearly closer.
TEST(Sources, TwentyFourBitsAreCodedAtLeastAsCloseAsSixteen) {
  ScratchDir dir;
  Shell(dir,
        "sox -n -r 44100 -c 2 -b 24 s24.wav synth 3 sine 440 sine 1000 gain -40 && sox s24.wav -b 16 -D "
        "s16.wav");
  const Pcm source = ReadAsFloat(dir.File("s24.wav"), 44100, 2, dir.File("s.raw"));
  double snr[2];
  for (int k = 0; k < 2; ++k) {
    ASSERT_TRUE(
        RunTompg(Args(dir.File(k == 0 ? "s24.wav" : "s16.wav"), dir.File("o.mp3"), 3, 160, 0)).exited);
    snr[k] = AlignedSnr(source, ReadAsFloat(dir.File("o.mp3"), 44100, 2, dir.File("o.raw")), 0, 0);
  }
  RecordProperty("snr24", std::to_string(snr[0]));
  RecordProperty("snr16", std::to_string(snr[1]));
  EXPECT_GT(snr[0], snr[1] + 6) << "24 bits: " << snr[0] << " dB, 16 bits: " << snr[1] << " dB";
}

}  // namespace
