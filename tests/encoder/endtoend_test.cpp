// The real encoder, when it has been built: launch, progress to the whole data chunk, status.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "model/queue.h"
#include "model/settings.h"
#include "encoder/commandline.h"
#include "encoder/consolemonitor.h"
#include "encoder/encoderjob.h"
#include "encoder_test_support.h"
#include "platform/console.h"
#include "platform/messagebox.h"
#include "tests/support/wave.h"

namespace {

std::string BuiltTompgDir() {
  if (const char* dir = std::getenv("SONIVERT_TOMPG_DIR")) return dir;
  return BUILT_TOMPG_DIR;
}

TEST(RealTompg, EncodesWithProgressToTheEndOfTheFileAndAMatchingStatus) {
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
    WavSignal tone;
    tone.channels = row.Channels;
    tone.seconds = 3;
    const uint32_t dataSize = WriteWav(entry.Path, tone).dataSize;
    ASSERT_GT(dataSize, 0u);
    entry.Layer = row.Layer;
    entry.ChannelMode = row.Mode;
    entry.Bitrate = 5;
    const std::string output = dir.Path + "a tone" + row.Extension;
    Converter.CurrentSource = entry.Path;
    Converter.FramesDone = -1;
    Converter.BytesDone = 0;
    Converter.BytesTotal = static_cast<uint32_t>(std::filesystem::file_size(entry.Path));
    ASSERT_EQ(LaunchEncoder(entry, output, 0), EncoderLaunched);
    ASSERT_TRUE(WaitFor(
        [] {
          ReadConsoleTTimer(0);
          return ReadJobExitCode() != STILL_ACTIVE;
        },
        120000));
    ReadFinalEncoderLines();
    EXPECT_TRUE(Converter.EncoderProcess.ExitedNormally) << row.Extension;
    EXPECT_GT(Converter.FramesDone, 0) << row.Extension;
    EXPECT_EQ(Converter.BytesDone, Converter.BytesTotal) << "progress reaches the end " << row.Extension;
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
  ASSERT_TRUE(WaitFor(
      [] {
        ReadConsoleTTimer(0);
        return ReadJobExitCode() != STILL_ACTIVE && Converter.NoticeTicks != 0;
      },
      20000));
  EXPECT_EQ(Converter.NoticeText, entry.Path + ": Cannot open input file");
  EXPECT_FALSE(EncoderJobSucceeded(Converter.EncoderProcess, Converter.FramesDone));
}

}  // namespace
