#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "app/core/queue.h"
#include "decoder/decoder.h"
#include "decoder/stages.h"
#include "platform/jobthread.h"
#include "tests/decoder/bitwriter.h"

namespace {

// One silent Layer III frame: header, side information with main_data_begin and empty
// granules (part2_3_length 0), and zero main data up to the frame length.
struct FrameFields {
  int id = 1;
  int bitrateIndex = 9;   // 128 kbit/s (ID 1)
  int sampleIndex = 0;    // 44.1 kHz (ID 1)
  int mode = 3;
  int padding = 0;
  int protection = 1;     // 1: no CRC word
  int mainDataBegin = 0;
  uint32_t sync = 0xFFF;
};

// The frame length from the test's own copy of the tables, apart from the decoder's.
int FrameBytes(const FrameFields& f) {
  static const int Rates[2][3] = {{22050, 24000, 16000}, {44100, 48000, 32000}};
  static const int Bitrates[2][15] = {{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
                                      {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}};
  return (f.id ? 144000 : 72000) * Bitrates[f.id][f.bitrateIndex] / Rates[f.id][f.sampleIndex] + f.padding;
}

void PutFrame(std::vector<uint8_t>& out, const FrameFields& f) {
  BitWriter w;
  w.Put(f.sync, 12);
  w.Put(f.id, 1);
  w.Put(1, 2);  // Layer III
  w.Put(f.protection, 1);
  w.Put(f.bitrateIndex, 4);
  w.Put(f.sampleIndex, 2);
  w.Put(f.padding, 1);
  w.Put(0, 1);
  w.Put(f.mode, 2);
  w.Put(0, 2);
  w.Put(0, 4);
  if (!f.protection) w.Put(0xBEEF, 16);
  const int channels = f.mode == 3 ? 1 : 2;
  const int sideBytes = f.id ? (channels == 1 ? 17 : 32) : (channels == 1 ? 9 : 17);
  w.Put(f.mainDataBegin, f.id ? 9 : 8);
  // The rest of the side information is zero: empty long-block granules with table 0.
  w.PadTo(w.Bytes.size() + sideBytes - (f.id ? 1 : 1));
  w.PadTo(static_cast<size_t>(FrameBytes(f)));
  out.insert(out.end(), w.Bytes.begin(), w.Bytes.end());
}

std::vector<uint8_t> Frames(int count, const FrameFields& f) {
  std::vector<uint8_t> out;
  for (int i = 0; i < count; ++i) PutFrame(out, f);
  return out;
}

struct WaveFile {
  bool valid = false;
  uint32_t channels = 0, rate = 0, byteRate = 0, blockAlign = 0, dataSize = 0;
  size_t fileSize = 0;
};

WaveFile ReadWave(const std::string& path) {
  WaveFile w;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return w;
  std::vector<uint8_t> b;
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) b.insert(b.end(), buf, buf + n);
  fclose(f);
  w.fileSize = b.size();
  if (b.size() < 44) return w;
  auto le32 = [&](size_t o) { return uint32_t(b[o]) | uint32_t(b[o + 1]) << 8 | uint32_t(b[o + 2]) << 16 | uint32_t(b[o + 3]) << 24; };
  auto le16 = [&](size_t o) { return uint32_t(b[o]) | uint32_t(b[o + 1]) << 8; };
  w.channels = le16(22);
  w.rate = le32(24);
  w.byteRate = le32(28);
  w.blockAlign = le16(32);
  w.dataSize = le32(40);
  w.valid = !memcmp(b.data(), "RIFF", 4) && le32(4) == b.size() - 8 && !memcmp(b.data() + 8, "WAVEfmt ", 8) &&
            le32(16) == 16 && le16(20) == 1 && le16(34) == 16 && !memcmp(b.data() + 36, "data", 4) &&
            w.dataSize == b.size() - 44 && w.blockAlign == 2 * w.channels && w.byteRate == w.rate * w.blockAlign;
  return w;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

// Names in a directory, sorted: a temporary file left behind shows at once.
std::string Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  std::string all;
  for (const std::string& n : names) all += (all.empty() ? "" : " ") + n;
  return all;
}

class DecoderJob : public ::testing::Test {
 protected:
  void SetUp() override {
    InitDecoderTables();
    char pattern[] = "/tmp/sonivert-decoder-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override {
    std::string command = "rm -rf '" + dir + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }
  std::string Write(const char* name, const std::vector<uint8_t>& bytes) {
    std::string path = dir + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    return path;
  }
  // Runs a job as the application does: paths in the shared buffers, the job thread, its code.
  uint32_t RunJob(const std::string& input, const std::string& output, bool stopAtOnce = false) {
    StartJob(input, output);
    if (stopAtOnce) RequestJobStop(Converter.DecoderThread);
    JoinJobThread(Converter.DecoderThread);
    return JobThreadExitCode(Converter.DecoderThread);
  }
  void StartJob(const std::string& input, const std::string& output) {
    snprintf(Converter.DecoderInput, DecoderPathSize, "%s", input.c_str());
    snprintf(Converter.DecoderOutput, DecoderPathSize, "%s", output.c_str());
    EXPECT_TRUE(StartJobThread(Converter.DecoderThread, DecoderThreadMain, 0));
  }
  std::string dir;
};

struct StreamRow {
  const char* name;
  FrameFields frame;
  int frames;
  std::vector<uint8_t> tail;
  uint32_t exitCode;
  uint32_t channels, rate, dataBytes;
};

class DecoderStreams : public DecoderJob, public ::testing::WithParamInterface<StreamRow> {};

TEST_P(DecoderStreams, EveryOutputGetsAValidHeader) {
  const StreamRow& row = GetParam();
  std::vector<uint8_t> stream = Frames(row.frames, row.frame);
  stream.insert(stream.end(), row.tail.begin(), row.tail.end());
  const std::string in = Write("in.mp3", stream);
  const std::string out = dir + "/out.wav";
  EXPECT_EQ(RunJob(in, out), row.exitCode);
  const WaveFile w = ReadWave(out);
  if (row.exitCode != DecoderOk) {
    EXPECT_EQ(w.fileSize, 0u) << "a failed decode leaves no output";
    return;
  }
  EXPECT_TRUE(w.valid);
  EXPECT_EQ(w.channels, row.channels);
  EXPECT_EQ(w.rate, row.rate);
  EXPECT_EQ(w.dataSize, row.dataBytes);
  // Published per frame: the offset just after the last frame's header (and CRC word).
  if (row.frames > 0 && row.tail.empty()) {
    EXPECT_EQ(InputPosition.load(),
              static_cast<uint32_t>((row.frames - 1) * FrameBytes(row.frame) + (row.frame.protection ? 4 : 6)));
  }
}

FrameFields Fields(int id, int bitrate, int rate, int mode, int padding = 0, int protection = 1) {
  FrameFields f;
  f.id = id;
  f.bitrateIndex = bitrate;
  f.sampleIndex = rate;
  f.mode = mode;
  f.padding = padding;
  f.protection = protection;
  return f;
}

std::vector<uint8_t> Header(uint32_t b0, uint32_t b1, uint32_t b2, uint32_t b3) {
  return {uint8_t(b0), uint8_t(b1), uint8_t(b2), uint8_t(b3)};
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DecoderStreams,
    ::testing::Values(
        StreamRow{"MonoAtEndOfInput", Fields(1, 9, 0, 3), 5, {}, DecoderOk, 1, 44100, 5 * 2 * 1152},
        StreamRow{"StereoWithCrcAndPadding", Fields(1, 9, 0, 0, 1, 0), 4, {}, DecoderOk, 2, 44100, 4 * 2 * 2304},
        StreamRow{"DualChannelIsTwoChannels", Fields(1, 14, 1, 2), 2, {}, DecoderOk, 2, 48000, 2 * 2 * 2304},
        StreamRow{"LsfOneGranulePerFrame", Fields(0, 8, 0, 1), 3, {}, DecoderOk, 2, 22050, 3 * 2304},
        StreamRow{"LsfMono16kHz", Fields(0, 1, 2, 3), 6, {}, DecoderOk, 1, 16000, 6 * 1152},
        StreamRow{"TrailingTagEndsTheStream", Fields(1, 9, 0, 3), 3, {'T', 'A', 'G', 'x', 'y'}, DecoderOk, 1, 44100, 3 * 2304},
        StreamRow{"Mpeg25SyncEndsTheStreamWithAHeader", Fields(1, 9, 0, 3), 2, Header(0xFF, 0xE3, 0x90, 0xC0), DecoderOk, 1, 44100, 2 * 2304},
        StreamRow{"FreeFormatEndsTheStream", Fields(1, 9, 0, 3), 2, Header(0xFF, 0xFB, 0x00, 0xC0), DecoderOk, 1, 44100, 2 * 2304},
        StreamRow{"BitrateIndex15EndsTheStream", Fields(1, 9, 0, 3), 2, Header(0xFF, 0xFB, 0xF0, 0xC0), DecoderOk, 1, 44100, 2 * 2304},
        StreamRow{"ReservedRateEndsTheStream", Fields(1, 9, 0, 3), 2, Header(0xFF, 0xFB, 0x9C, 0xC0), DecoderOk, 1, 44100, 2 * 2304},
        StreamRow{"ReservedLayerEndsTheStream", Fields(1, 9, 0, 3), 2, Header(0xFF, 0xF9, 0x90, 0xC0), DecoderOk, 1, 44100, 2 * 2304},
        StreamRow{"TruncatedLastFrameIsStillDecoded", Fields(1, 9, 0, 3), 2, Header(0xFF, 0xFB, 0x90, 0xC0), DecoderOk, 1, 44100, 3 * 2304},
        StreamRow{"EmptyInputHasNoAudio", Fields(1, 9, 0, 3), 0, {}, DecoderNoAudio, 2, 44100, 0},
        StreamRow{"FirstHeaderUncoveredHasNoAudio", Fields(1, 9, 0, 3), 0, Header(0xFF, 0xFB, 0x00, 0xC0), DecoderNoAudio, 2, 44100, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DecoderJob, FramesThatPointBeforeTheStreamGiveNoPcm) {
  // 417-byte mono frames carry 396 bytes of main data; main_data_begin 500 lies before the
  // stream's first byte in frames 0 and 1 (write positions 0 and 396), not in frame 2 (792).
  FrameFields f = Fields(1, 9, 0, 3);
  f.mainDataBegin = 500;
  const std::string in = Write("in.mp3", Frames(4, f));
  const std::string out = dir + "/out.wav";
  EXPECT_EQ(RunJob(in, out), DecoderOk);
  EXPECT_EQ(ReadWave(out).dataSize, 2u * 2304);
}

TEST_F(DecoderJob, MissingInputCreatesNoOutput) {
  const std::string out = dir + "/out.wav";
  EXPECT_EQ(RunJob(dir + "/missing.mp3", out), DecoderInputFailed);
  struct stat st;
  EXPECT_NE(stat(out.c_str(), &st), 0);
}

TEST_F(DecoderJob, UncreatableOutputIsExitCode2) {
  const std::string in = Write("in.mp3", Frames(2, Fields(1, 9, 0, 3)));
  EXPECT_EQ(RunJob(in, dir + "/no/such/dir/out.wav"), DecoderOutputFailed);
}

TEST_F(DecoderJob, FullDiskIsReportedAsAFailedWrite) {
  const std::string in = Write("in.mp3", Frames(200, Fields(1, 9, 0, 0)));
  EXPECT_EQ(RunJob(in, "/dev/full"), DecoderWriteFailed);
  // Also when everything fits into the stream buffer and only the final flush fails.
  const std::string small = Write("small.mp3", Frames(1, Fields(1, 9, 0, 3)));
  EXPECT_EQ(RunJob(small, "/dev/full"), DecoderWriteFailed);
}

TEST_F(DecoderJob, StopRequestKeepsAValidFile) {
  const std::string in = Write("in.mp3", Frames(400, Fields(1, 9, 0, 0)));
  const std::string out = dir + "/out.wav";
  EXPECT_EQ(RunJob(in, out, true), DecoderOk);
  const WaveFile w = ReadWave(out);
  EXPECT_TRUE(w.valid);
  EXPECT_EQ(w.dataSize % 2304, 0u);
  EXPECT_LE(w.dataSize, 400u * 2 * 2304);
}

TEST_F(DecoderJob, SameFileTwiceGivesTheSameOutput) {
  const std::string in = Write("in.mp3", Frames(3, Fields(0, 8, 1, 0)));
  EXPECT_EQ(RunJob(in, dir + "/a.wav"), DecoderOk);
  EXPECT_EQ(RunJob(in, dir + "/b.wav"), DecoderOk);
  const std::string cmp = "cmp -s '" + dir + "/a.wav' '" + dir + "/b.wav'";
  EXPECT_EQ(std::system(cmp.c_str()), 0);
}

// Decoding a file onto itself, or onto a link to it, left a 44-byte WAV where the source was.
TEST_F(DecoderJob, OutputThatIsTheSourceIsRefused) {
  const std::string in = Write("in.mp3", Frames(3, Fields(1, 9, 0, 3))), source = ReadBytes(in);
  ASSERT_EQ(symlink(in.c_str(), (dir + "/sym.wav").c_str()), 0);
  ASSERT_EQ(link(in.c_str(), (dir + "/hard.wav").c_str()), 0);
  for (const std::string& out : {in, dir + "/sym.wav", dir + "/hard.wav"}) {
    EXPECT_EQ(RunJob(in, out), DecoderOutputFailed) << out;
    EXPECT_EQ(ReadBytes(in), source) << out;
  }
  EXPECT_EQ(Names(dir), "hard.wav in.mp3 sym.wav");
}

// A directory gave an empty output; a FIFO without a writer blocked the job for good, where no
// stop request reaches it. Both are refused at once, and no output is made.
TEST_F(DecoderJob, SourceThatIsNotARegularFileIsRefusedWithoutBlocking) {
  const std::string fifo = dir + "/fifo.mp3";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(mkdir((dir + "/folder.mp3").c_str(), 0700), 0);
  for (const std::string& in : {dir + "/folder.mp3", fifo}) {
    StartJob(in, dir + "/out.wav");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (JobThreadExitCode(Converter.DecoderThread) == STILL_ACTIVE && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(JobThreadExitCode(Converter.DecoderThread), DecoderInputFailed) << in;
    const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // releases a job that blocked
    JoinJobThread(Converter.DecoderThread);
    if (writer >= 0) close(writer);
  }
  EXPECT_EQ(Names(dir), "fifo.mp3 folder.mp3");
}

// A full disk left 44 zero bytes in place of an existing output; a stream without audio left an
// empty WAV. A failed decode now leaves an existing output as it was, and no temporary file.
TEST_F(DecoderJob, FailedDecodeKeepsTheExistingOutput) {
  struct Row {
    const char* name;
    std::vector<uint8_t> stream;
    rlim_t fileSizeLimit;  // a write past it fails with EFBIG, as on a full disk
    uint32_t exitCode;
  };
  const Row rows[] = {{"DiskFull", Frames(400, Fields(1, 9, 0, 0)), 100000, DecoderWriteFailed},
                      {"DiskFullAtTheLastFlush", Frames(1, Fields(1, 9, 0, 3)), 1000, DecoderWriteFailed},
                      {"NoAudio", {'I', 'D', '3', 4, 0}, RLIM_INFINITY, DecoderNoAudio}};
  signal(SIGXFSZ, SIG_IGN);
  for (const Row& row : rows) {
    const std::string in = Write("in.mp3", row.stream), out = Write("out.wav", {'o', 'l', 'd'});
    rlimit old {}, limit {};
    getrlimit(RLIMIT_FSIZE, &old);
    limit = {row.fileSizeLimit, old.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    EXPECT_EQ(RunJob(in, out), row.exitCode) << row.name;
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(ReadBytes(out), "old") << row.name;
    EXPECT_EQ(Names(dir), "in.mp3 out.wav") << row.name;
  }
  signal(SIGXFSZ, SIG_DFL);
}

// Reaching the WAV size limit closed the file there but reported success. It now has its own
// exit code; a stream that ends exactly at the limit lost nothing and succeeds.
TEST_F(DecoderJob, PcmAtTheSizeLimitIsClosedThereAndReported) {
  struct Row {
    const char* name;
    uint64_t limit;
    uint32_t exitCode, dataBytes;
  };
  // Ten mono frames of two granules: 1152 PCM bytes per granule.
  for (const Row& row : {Row{"InsideAFrame", 11 * 1152 + 1000, DecoderSizeLimit, 11 * 1152},
                         Row{"BetweenFrames", 8 * 1152, DecoderSizeLimit, 8 * 1152},
                         Row{"AtTheStreamsEnd", 20 * 1152, DecoderOk, 20 * 1152}}) {
    SetWaveDataLimit(row.limit);
    EXPECT_EQ(RunJob(Write("in.mp3", Frames(10, Fields(1, 9, 0, 3))), dir + "/out.wav"), row.exitCode) << row.name;
    SetWaveDataLimit(0);
    const WaveFile w = ReadWave(dir + "/out.wav");
    EXPECT_TRUE(w.valid) << row.name;
    EXPECT_EQ(w.dataSize, row.dataBytes) << row.name;
  }
}

TEST(DecoderExitText, NamesEveryCode) {
  for (uint32_t code : {DecoderOk, DecoderInputFailed, DecoderOutputFailed, DecoderWriteFailed, DecoderNoAudio,
                        DecoderSizeLimit}) {
    EXPECT_STRNE(DecoderExitText(code), DecoderExitText(99)) << code;
  }
}

#ifdef SONIVERT_DECODE_TOOL
TEST(DecodeTool, RefusesWrongArgumentsAndOverlongPaths) {
  EXPECT_EQ(WEXITSTATUS(std::system(SONIVERT_DECODE_TOOL " 2>/dev/null")), 64);
  const std::string longPath(400, 'a');
  const std::string command = std::string(SONIVERT_DECODE_TOOL " ") + longPath + " out.wav 2>/dev/null";
  EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 64);
  EXPECT_EQ(WEXITSTATUS(std::system(SONIVERT_DECODE_TOOL " /nonexistent/in.mp3 /tmp/x.wav 2>/dev/null")), 1);
}

// SIGINT, SIGTERM or SIGHUP mid-decode left a broken file in place of an existing output. The
// tool now removes its temporary file, and the output stays as it was.
TEST_F(DecoderJob, ToolEndedBySignalLeavesTheExistingOutput) {
  const std::string in = Write("in.mp3", Frames(30000, Fields(1, 9, 0, 3)));  // minutes of audio
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    const std::string out = Write("out.wav", {'o', 'l', 'd'});
    const pid_t pid = fork();
    if (pid == 0) {
      execl(SONIVERT_DECODE_TOOL, SONIVERT_DECODE_TOOL, in.c_str(), out.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    // Signalled as soon as its temporary file is there, long before the decode could end.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Names(dir).find(".tmp-") == std::string::npos && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    kill(pid, sig);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << strsignal(sig);
    EXPECT_EQ(ReadBytes(out), "old") << strsignal(sig);
    EXPECT_EQ(Names(dir), "in.mp3 out.wav") << strsignal(sig);
  }
}
#endif

}  // namespace
