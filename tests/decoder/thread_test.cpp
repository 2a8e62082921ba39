#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "decoder/decoder.h"
#include "decoder/stages.h"
#include "platform/jobthread.h"
#include "platform/outputfile.h"
#include "tests/decoder/pcm_diff.h"
#include "tests/support/files.h"
#include "tests/support/frames.h"

namespace {

// The decoder job's thread, as the window keeps it.
JobThread Job;

struct WaveFile {
  bool valid = false;
  uint32_t channels = 0, rate = 0, byteRate = 0, blockAlign = 0, dataSize = 0;
  size_t fileSize = 0;
};

// The output's header, valid only when it is the canonical one for 16-bit PCM and agrees with the
// file's length.
WaveFile ReadWave(const std::string& path) {
  WaveFile w;
  const std::vector<uint8_t> b = ReadFileBytes(path);
  w.fileSize = b.size();
  const pcmdiff::WaveInfo h = pcmdiff::ParseWaveHeader(b);
  w.channels = h.channels;
  w.rate = h.sampleRate;
  w.byteRate = h.byteRate;
  w.blockAlign = h.blockAlign;
  w.dataSize = h.dataSize;
  w.valid = h.valid && h.riffSize == b.size() - 8 && h.format == 1 && h.bitsPerSample == 16 &&
            w.dataSize == b.size() - 44 && w.blockAlign == 2 * w.channels &&
            w.byteRate == w.rate * w.blockAlign;
  return w;
}

class DecoderJob : public ::testing::Test {
 protected:
  void SetUp() override { InitDecoderTables(); }
  std::string Write(const char* name, const std::vector<uint8_t>& bytes) {
    const std::string path = scratch.File(name);
    WriteFile(path, bytes);
    return path;
  }
  // Runs a job as the application does: paths in the shared buffers, the job thread, its code.
  uint32_t RunJob(const std::string& input, const std::string& output, bool stopAtOnce = false) {
    StartJob(input, output);
    if (stopAtOnce) RequestJobStop(Job);
    JoinJobThread(Job);
    return JobThreadExitCode(Job);
  }
  void StartJob(const std::string& input, const std::string& output) {
    snprintf(DecoderInput, DecoderPathSize, "%s", input.c_str());
    snprintf(DecoderOutput, DecoderPathSize, "%s", output.c_str());
    EXPECT_TRUE(StartJobThread(Job, DecoderThreadMain, 0));
  }
  ScratchDir scratch;
  // Without the trailing separator, so that paths read dir + "/name".
  const std::string dir = scratch.Dir();
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
    EXPECT_EQ(InputPosition.load(), static_cast<uint32_t>((row.frames - 1) * FrameBytes(row.frame) +
                                                          (row.frame.protection ? 4 : 6)));
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
        StreamRow{
            "StereoWithCrcAndPadding", Fields(1, 9, 0, 0, 1, 0), 4, {}, DecoderOk, 2, 44100, 4 * 2 * 2304},
        StreamRow{"DualChannelIsTwoChannels", Fields(1, 14, 1, 2), 2, {}, DecoderOk, 2, 48000, 2 * 2 * 2304},
        StreamRow{"LsfOneGranulePerFrame", Fields(0, 8, 0, 1), 3, {}, DecoderOk, 2, 22050, 3 * 2304},
        StreamRow{"LsfMono16kHz", Fields(0, 1, 2, 3), 6, {}, DecoderOk, 1, 16000, 6 * 1152},
        StreamRow{"BytesAfterTheStreamAreNoAudio",
                  Fields(1, 9, 0, 3),
                  3,
                  {'T', 'A', 'G', 'x', 'y'},
                  DecoderOk,
                  1,
                  44100,
                  3 * 2304},
        StreamRow{"Mpeg25HeaderAfterMpeg1IsNoFrameOfTheStream", Fields(1, 9, 0, 3), 2,
                  Header(0xFF, 0xE3, 0x90, 0xC0), DecoderOk, 1, 44100, 2 * 2304},
        StreamRow{"FreeFormatHeaderIsNoFrame", Fields(1, 9, 0, 3), 2, Header(0xFF, 0xFB, 0x00, 0xC0), DecoderOk,
                  1, 44100, 2 * 2304},
        StreamRow{"BitrateIndex15IsNoFrame", Fields(1, 9, 0, 3), 2, Header(0xFF, 0xFB, 0xF0, 0xC0),
                  DecoderOk, 1, 44100, 2 * 2304},
        StreamRow{"ReservedRateIsNoFrame", Fields(1, 9, 0, 3), 2, Header(0xFF, 0xFB, 0x9C, 0xC0),
                  DecoderOk, 1, 44100, 2 * 2304},
        StreamRow{"ReservedLayerIsNoFrame", Fields(1, 9, 0, 3), 2, Header(0xFF, 0xF9, 0x90, 0xC0),
                  DecoderOk, 1, 44100, 2 * 2304},
        StreamRow{"CutLastFrameIsLeftOut", Fields(1, 9, 0, 3), 2, Header(0xFF, 0xFB, 0x90, 0xC0), DecoderOk, 1,
                  44100, 2 * 2304},
        StreamRow{"EmptyInputHasNoAudio", Fields(1, 9, 0, 3), 0, {}, DecoderNoAudio, 2, 44100, 0},
        StreamRow{"FirstHeaderUncoveredHasNoAudio", Fields(1, 9, 0, 3), 0, Header(0xFF, 0xFB, 0x00, 0xC0),
                  DecoderNoAudio, 2, 44100, 0}),
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

// A stopped decode is cancelled: it ends with 0, leaves no temporary file, and an earlier output
// of the same name stays as it was, not replaced by the part decoded before the stop.
TEST_F(DecoderJob, StopRequestKeepsAnEarlierOutputAndLeavesNothing) {
  const std::vector<uint8_t> stream = Frames(4000, Fields(1, 9, 0, 0));  // 100 s: far from done at once
  const std::string in = Write("in.mp3", stream);
  const std::string out = dir + "/out.wav";
  WriteFile(out, "an earlier, complete file");
  EXPECT_EQ(RunJob(in, out, true), DecoderOk);
  ASSERT_LT(InputPosition.load(), stream.size()) << "the decode ended before the stop reached it";
  EXPECT_EQ(ReadFile(out), "an earlier, complete file");
  EXPECT_EQ(ListDir(dir), "in.mp3 out.wav");
}

// A finished decode replaces a file of the output's name, never into the Trash (the window puts
// what its queue replaces there itself); under the rule of -n the file stays and the decode says so.
TEST_F(DecoderJob, AnExistingOutputIsReplacedOrUnderNoClobberKept) {
  const std::string in = Write("in.mp3", Frames(3, Fields(1, 9, 0, 3)));
  WriteFile(dir + "/out.wav", "earlier");
  SetOutputReplaceRule(KeepExisting);
  EXPECT_EQ(RunJob(in, dir + "/out.wav"), DecoderOutputExists);
  EXPECT_EQ(ReadFile(dir + "/out.wav"), "earlier");
  SetOutputReplaceRule(ReplaceExisting);
  EXPECT_EQ(RunJob(in, dir + "/out.wav"), DecoderOk);
  EXPECT_EQ(ReadFile(dir + "/out.wav").substr(0, 4) + " " + ListDir(dir), "RIFF in.mp3 out.wav");
  EXPECT_FALSE(FileExists(std::string(getenv("XDG_DATA_HOME")) + "/Trash"));
}

TEST_F(DecoderJob, SameFileTwiceGivesTheSameOutput) {
  const std::string in = Write("in.mp3", Frames(3, Fields(0, 8, 1, 0)));
  EXPECT_EQ(RunJob(in, dir + "/a.wav"), DecoderOk);
  EXPECT_EQ(RunJob(in, dir + "/b.wav"), DecoderOk);
  EXPECT_EQ(ReadFileBytes(dir + "/a.wav"), ReadFileBytes(dir + "/b.wav"));
}

// An output that is the source itself, by any name (a symbolic or a hard link), is refused and
// the source is untouched.
TEST_F(DecoderJob, OutputThatIsTheSourceIsRefused) {
  const std::string in = Write("in.mp3", Frames(3, Fields(1, 9, 0, 3))), source = ReadFile(in);
  ASSERT_EQ(symlink(in.c_str(), (dir + "/sym.wav").c_str()), 0);
  ASSERT_EQ(link(in.c_str(), (dir + "/hard.wav").c_str()), 0);
  for (const std::string& out : {in, dir + "/sym.wav", dir + "/hard.wav"}) {
    EXPECT_EQ(RunJob(in, out), DecoderOutputFailed) << out;
    EXPECT_EQ(ReadFile(in), source) << out;
  }
  EXPECT_EQ(ListDir(dir), "hard.wav in.mp3 sym.wav");
}

// Only a regular file is a source: a directory, or a FIFO without a writer (where no stop request
// would reach the job), is refused at once, and no output is made.
TEST_F(DecoderJob, SourceThatIsNotARegularFileIsRefusedWithoutBlocking) {
  const std::string fifo = dir + "/fifo.mp3";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(mkdir((dir + "/folder.mp3").c_str(), 0700), 0);
  for (const std::string& in : {dir + "/folder.mp3", fifo}) {
    StartJob(in, dir + "/out.wav");
    WaitFor([] { return JobThreadExitCode(Job) != STILL_ACTIVE; }, 10000);
    EXPECT_EQ(JobThreadExitCode(Job), DecoderInputFailed) << in;
    const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // releases a job that blocked
    JoinJobThread(Job);
    if (writer >= 0) close(writer);
  }
  EXPECT_EQ(ListDir(dir), "fifo.mp3 folder.mp3");
}

// A failed decode (a full disk, a stream without audio) leaves an existing output as it was, and
// no temporary file.
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
    rlimit old{}, limit{};
    getrlimit(RLIMIT_FSIZE, &old);
    limit = {row.fileSizeLimit, old.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    EXPECT_EQ(RunJob(in, out), row.exitCode) << row.name;
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(ReadFile(out), "old") << row.name;
    EXPECT_EQ(ListDir(dir), "in.mp3 out.wav") << row.name;
  }
  signal(SIGXFSZ, SIG_DFL);
}

// PCM that reaches the largest size a WAV file can describe closes the file there and says so with
// an exit code of its own; a stream that ends exactly at the limit lost nothing and succeeds.
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
    EXPECT_EQ(RunJob(Write("in.mp3", Frames(10, Fields(1, 9, 0, 3))), dir + "/out.wav"), row.exitCode)
        << row.name;
    SetWaveDataLimit(0);
    const WaveFile w = ReadWave(dir + "/out.wav");
    EXPECT_TRUE(w.valid) << row.name;
    EXPECT_EQ(w.dataSize, row.dataBytes) << row.name;
  }
}

TEST(DecoderExitText, NamesEveryCode) {
  for (uint32_t code : {DecoderOk, DecoderInputFailed, DecoderOutputFailed, DecoderWriteFailed,
                        DecoderNoAudio, DecoderSizeLimit}) {
    EXPECT_STRNE(DecoderExitText(code), DecoderExitText(99)) << code;
  }
}

#ifdef SONIVERT_DECODE_TOOL
TEST(DecodeTool, RefusesWrongArgumentsAndOverlongPaths) {
  ScratchDir scratch;
  EXPECT_EQ(RunQuiet({SONIVERT_DECODE_TOOL}), 64);
  EXPECT_EQ(RunQuiet({SONIVERT_DECODE_TOOL, std::string(400, 'a'), scratch.File("out.wav")}), 64);
  EXPECT_EQ(RunQuiet({SONIVERT_DECODE_TOOL, "/nonexistent/in.mp3", scratch.File("x.wav")}), 1);
  EXPECT_FALSE(FileExists(scratch.File("x.wav")));
}

// The tool ended by SIGINT, SIGTERM or SIGHUP mid-decode removes its temporary file, and an
// existing output stays as it was.
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
    WaitFor([&] { return ListDir(dir).find(".tmp-") != std::string::npos; }, 20000, 200);
    kill(pid, sig);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << strsignal(sig);
    EXPECT_EQ(ReadFile(out), "old") << strsignal(sig);
    EXPECT_EQ(ListDir(dir), "in.mp3 out.wav") << strsignal(sig);
  }
}
#endif

}  // namespace
