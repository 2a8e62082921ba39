// The real encoder, when it has been built: launch, progress to the whole data chunk, status.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/core/queue.h"
#include "app/core/settings.h"
#include "encoder/commandline.h"
#include "encoder/consolemonitor.h"
#include "encoder/encoderjob.h"
#include "encoder_test_support.h"
#include "platform/console.h"
#include "platform/messagebox.h"

namespace {

void PutLe(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xff);
}

// A 16-bit PCM WAV file with a tone; returns the size of its data chunk.
uint32_t WriteToneWav(const std::string& path, uint32_t rate, uint16_t channels, uint32_t frames) {
  const uint32_t dataSize = frames * channels * 2;
  std::string file = "RIFF";
  PutLe(file, 36 + dataSize, 4);
  file += "WAVEfmt ";
  PutLe(file, 16, 4);
  PutLe(file, 1, 2);
  PutLe(file, channels, 2);
  PutLe(file, rate, 4);
  PutLe(file, rate * channels * 2, 4);
  PutLe(file, channels * 2, 2);
  PutLe(file, 16, 2);
  file += "data";
  PutLe(file, dataSize, 4);
  for (uint32_t i = 0; i < frames; ++i) {
    const int16_t v = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440.0 * i / rate));
    for (int c = 0; c < channels; ++c) PutLe(file, static_cast<uint16_t>(v), 2);
  }
  WriteFile(path, file);
  return dataSize;
}

std::string BuiltTompgDir() {
  if (const char* dir = std::getenv("SONIVERT_TOMPG_DIR")) return dir;
  return BUILT_TOMPG_DIR;
}

TEST(RealTompg, EncodesWithProgressToTheWholeDataChunkAndAMatchingStatus) {
  const std::string tompgDir = BuiltTompgDir();
  if (access((tompgDir + "tompg").c_str(), X_OK) != 0) GTEST_SKIP() << "tompg is not built in " << tompgDir;
  ResetConverter();
  AppSettings.Flags = FlagShowErrorBox;
  std::strncpy(AppSettings.TompgDir, tompgDir.c_str(), TompgDirSize - 1);
  ScratchDir dir;
  const struct {
    int32_t Layer;
    int32_t Mode;
    uint16_t Channels;
    const char* Extension;
  } rows[] = {{2, 1, 2, ".mp3"}, {1, 0, 2, ".mp2"}, {0, 3, 1, ".mp1"}};
  for (const auto& row : rows) {
    QueueEntry entry;
    entry.Path = dir.Path + "a tone.wav";
    const uint32_t dataSize = WriteToneWav(entry.Path, 44100, row.Channels, 44100 * 3);
    entry.Layer = row.Layer;
    entry.ChannelMode = row.Mode;
    entry.Bitrate = 5;
    const std::string output = dir.Path + "a tone" + row.Extension;
    Converter.CurrentSource = entry.Path;
    Converter.FramesDone = -1;
    Converter.BytesDone = 0;
    Converter.BytesTotal = dataSize;
    ASSERT_EQ(LaunchEncoder(entry, output, 0), EncoderLaunched);
    ASSERT_TRUE(WaitFor(
        [] {
          ReadConsoleTTimer(0);
          return ReadJobExitCode() != STILL_ACTIVE;
        },
        120000));
    EXPECT_TRUE(Converter.EncoderProcess.ExitedNormally) << row.Extension;
    EXPECT_GT(Converter.FramesDone, 0) << row.Extension;
    EXPECT_EQ(Converter.BytesDone, dataSize) << "progress reaches the whole data chunk " << row.Extension;
    EXPECT_TRUE(EncoderJobSucceeded(Converter.EncoderProcess, Converter.FramesDone))
        << "status " << Converter.EncoderProcess.ExitCode << " frames " << Converter.FramesDone;
    EXPECT_GT(std::filesystem::file_size(output), 1000u) << row.Extension;
  }
}

TEST(RealTompg, MissingInputIsReportedOnTheConsole) {
  const std::string tompgDir = BuiltTompgDir();
  if (access((tompgDir + "tompg").c_str(), X_OK) != 0) GTEST_SKIP() << "tompg is not built in " << tompgDir;
  ResetConverter();
  AppSettings.Flags = 0;
  std::strncpy(AppSettings.TompgDir, tompgDir.c_str(), TompgDirSize - 1);
  ScratchDir dir;
  QueueEntry entry;
  entry.Path = dir.Path + "missing.wav";
  entry.Layer = 2;
  entry.ChannelMode = 1;
  entry.Bitrate = 5;
  Converter.CurrentSource = entry.Path;
  ASSERT_EQ(LaunchEncoder(entry, dir.Path + "missing.mp3", 1), EncoderLaunched);
  ASSERT_TRUE(WaitFor([] {
    ReadConsoleTTimer(0);
    return ReadJobExitCode() != STILL_ACTIVE && Converter.NoticeTicks != 0;
  }, 20000));
  EXPECT_EQ(Converter.NoticeText, entry.Path + ": Cannot open input file");
  EXPECT_FALSE(EncoderJobSucceeded(Converter.EncoderProcess, Converter.FramesDone));
}

}  // namespace
