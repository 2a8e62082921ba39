// The encoder's command line and the splitting rules it is read back with.
#include "encoder/commandline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/process.h"

namespace {

// -B per bitrate index, written out from the bitrate list: half for two channels, all for Mono.
const unsigned StereoB[12] = {28, 32, 40, 48, 56, 64, 72, 80, 96, 112, 128, 160};
const unsigned MonoB[12] = {56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320};

TEST(EncoderCommandLine, EveryLayerModeAndBitrate) {
  for (int layer = 0; layer < 3; ++layer) {
    for (int mode = 0; mode < 4; ++mode) {
      for (int bitrate = 0; bitrate < 12; ++bitrate) {
        char line[EncoderCommandLineSize];
        ASSERT_EQ(BuildEncoderCommandLine("/opt/enc/", "/s/a.wav", "/d/a.mp3", layer, mode, bitrate, line),
                  EncoderLaunched);
        const std::string expected = "/opt/enc/tompg \"/s/a.wav\" \"/d/a.mp3\" -L" +
                                     std::to_string(layer + 1) + " -B" +
                                     std::to_string(mode == 3 ? MonoB[bitrate] : StereoB[bitrate]) + " -M" +
                                     std::to_string(mode) + " -P2 -S0 -N4";
        EXPECT_EQ(line, expected) << "layer " << layer << " mode " << mode << " bitrate " << bitrate;
      }
    }
  }
}

TEST(EncoderCommandLine, JointStereoLayer3At128) {
  char line[EncoderCommandLineSize];
  ASSERT_EQ(BuildEncoderCommandLine("/e/", "/s/x.wav", "/d/x.mp3", 2, 1, 5, line), EncoderLaunched);
  EXPECT_STREQ(line, "/e/tompg \"/s/x.wav\" \"/d/x.mp3\" -L3 -B64 -M1 -P2 -S0 -N4");
}

struct PathRow {
  const char* Name;
  const char* Dir;
  const char* Source;
  const char* Output;
  EncoderLaunchResult Result;
  const char* Line = nullptr;  // the exact line, where it is pinned
};

class EncoderCommandLinePaths : public testing::TestWithParam<PathRow> {};

// Every name the file system allows reaches the encoder unchanged: the line reads back as exactly
// these arguments. Only a double quote in the program's directory is refused (its path has no
// escapes), and a name that needs no escaping gives the line as it always was.
TEST_P(EncoderCommandLinePaths, ReadsBackUnchanged) {
  const PathRow& row = GetParam();
  char line[EncoderCommandLineSize];
  line[0] = 'x';
  ASSERT_EQ(BuildEncoderCommandLine(row.Dir, row.Source, row.Output, 1, 0, 3, line), row.Result);
  if (row.Result != EncoderLaunched) {
    EXPECT_STREQ(line, "");
    return;
  }
  const std::vector<std::string> expected = {
      std::string(row.Dir) + "tompg", row.Source, row.Output, "-L2", "-B48", "-M0", "-P2", "-S0", "-N4"};
  EXPECT_EQ(SplitCommandLine(line), expected) << line;
  if (row.Line) {
    EXPECT_STREQ(line, row.Line);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, EncoderCommandLinePaths,
    testing::Values(
        PathRow{"Blanks", "/opt/enc/", "/home/u/My Music/a b.wav", "/out dir/a b.mp2", EncoderLaunched,
                "/opt/enc/tompg \"/home/u/My Music/a b.wav\" \"/out dir/a b.mp2\" -L2 -B48 -M0 -P2 -S0 -N4"},
        PathRow{"TabsAndSingleQuotes", "/e/", "/s/it's\tfine.wav", "/d/o'k.mp2", EncoderLaunched},
        PathRow{"InnerBackslashes", "/e/", "/s/a\\b\\\\c.wav", "/d/x\\y.mp2", EncoderLaunched,
                "/e/tompg \"/s/a\\b\\\\c.wav\" \"/d/x\\y.mp2\" -L2 -B48 -M0 -P2 -S0 -N4"},
        PathRow{"EmptyProgramDir", "", "a.wav", "a.mp2", EncoderLaunched},
        PathRow{
            "QuotesAndParentheses", "/e/", "/m/Song (12\" Mix).wav", "/d/Song (12\" Mix).mp2",
            EncoderLaunched,
            "/e/tompg \"/m/Song (12\\\" Mix).wav\" \"/d/Song (12\\\" Mix).mp2\" -L2 -B48 -M0 -P2 -S0 -N4"},
        PathRow{"QuoteAtTheEnds", "/e/", "\"a\"", "\"", EncoderLaunched},
        PathRow{"TwoQuotesInARow", "/e/", "/s/x\"\"y.wav", "/d/\"\"\".mp2", EncoderLaunched},
        PathRow{"LeadingDashAndBackslashBlank", "/e/", "/m/-a \\ b.wav", "-a \\ b.mp2", EncoderLaunched},
        PathRow{"OnlyADash", "/e/", "-", "--", EncoderLaunched},
        PathRow{"BackslashBeforeClosingQuote", "/e/", "/s/odd\\", "/d/x\\\\", EncoderLaunched},
        PathRow{"BackslashesBeforeAQuote", "/e/", "/s/a\\\"b.wav", "/d/a\\\\\\\"b\\", EncoderLaunched},
        PathRow{"NonAscii", "/ö/", "/Musik/Größe – ♪ 東京.wav", "/d/Größe – ♪ 東京.mp2", EncoderLaunched},
        PathRow{"ControlCharacters", "/e/", "/s/line\nbreak\x01.wav", "/d/\x7f.mp2", EncoderLaunched},
        PathRow{"BlankInProgramDir", "/opt/My Tools/", "/s/a.wav", "/d/a.mp2", EncoderLaunched,
                "\"/opt/My Tools/tompg\" \"/s/a.wav\" \"/d/a.mp2\" -L2 -B48 -M0 -P2 -S0 -N4"},
        PathRow{"TabAndBackslashInProgramDir", "/opt/a\tb\\c/", "/s/a.wav", "/d/a.mp2", EncoderLaunched},
        PathRow{"QuoteInProgramDir", "/opt/\"x\"/", "/s/a.wav", "/d/a.mp2", EncoderProgramUnusable}),
    [](const testing::TestParamInfo<PathRow>& info) { return std::string(info.param.Name); });

// An escaped name takes more room: the limit counts the line as written.
TEST(EncoderCommandLine, EscapesCountTowardsTheLimit) {
  char line[EncoderCommandLineSize];
  ASSERT_EQ(BuildEncoderCommandLine("/e/", "", "/d/a.mp3", 0, 0, 0, line), EncoderLaunched);
  const size_t rest = std::string(line).size();
  const std::string quotes((EncoderCommandLineSize - 1 - rest) / 2, '"');  // each written as \"
  EXPECT_EQ(BuildEncoderCommandLine("/e/", quotes.c_str(), "/d/a.mp3", 0, 0, 0, line), EncoderLaunched);
  EXPECT_EQ(BuildEncoderCommandLine("/e/", (quotes + "\"").c_str(), "/d/a.mp3", 0, 0, 0, line),
            EncoderLineTooLong);
}

TEST(EncoderCommandLine, LongestLineFitsAndOneMoreIsRefused) {
  // The rest of the line around the source path: "/e/tompg \"" + "\" \"/d/a.mp3\" -L1 -B28 ..."
  char line[EncoderCommandLineSize];
  ASSERT_EQ(BuildEncoderCommandLine("/e/", "", "/d/a.mp3", 0, 0, 0, line), EncoderLaunched);
  const size_t rest = std::string(line).size();
  const std::string fits(EncoderCommandLineSize - 1 - rest, 's');
  ASSERT_EQ(BuildEncoderCommandLine("/e/", fits.c_str(), "/d/a.mp3", 0, 0, 0, line), EncoderLaunched);
  EXPECT_EQ(std::string(line).size(), 499u);
  const std::string tooLong = fits + "s";
  EXPECT_EQ(BuildEncoderCommandLine("/e/", tooLong.c_str(), "/d/a.mp3", 0, 0, 0, line), EncoderLineTooLong);
  EXPECT_STREQ(line, "");
  const std::string huge(4000, 'h');
  EXPECT_EQ(BuildEncoderCommandLine("/e/", "/s/a.wav", huge.c_str(), 0, 0, 0, line), EncoderLineTooLong);
  EXPECT_STREQ(line, "");
}

TEST(EncoderCommandLine, ChoicesOutsideTheTablesAreRefused) {
  const int rows[][3] = {{-1, 0, 0}, {3, 0, 0}, {0, -1, 0}, {0, 4, 0}, {0, 0, -1}, {0, 0, 12}, {0, 0, 320}};
  for (const auto& r : rows) {
    char line[EncoderCommandLineSize];
    EXPECT_EQ(BuildEncoderCommandLine("/e/", "/s/a.wav", "/d/a.mp3", r[0], r[1], r[2], line),
              EncoderBadChoice)
        << r[0] << " " << r[1] << " " << r[2];
  }
}

struct SplitRow {
  const char* Line;
  std::vector<std::string> Args;
};

// The C runtime's rules, with the examples its documentation gives for the arguments.
TEST(SplitCommandLine, WindowsRuntimeRules) {
  const SplitRow rows[] = {
      {"p \"a b c\" d e", {"p", "a b c", "d", "e"}},
      {"p \"ab\\\"c\" \"\\\\\" d", {"p", "ab\"c", "\\", "d"}},
      {"p a\\\\\\b d\"e f\"g h", {"p", "a\\\\\\b", "de fg", "h"}},
      {"p a\\\\\\\"b c d", {"p", "a\\\"b", "c", "d"}},
      {"p a\\\\\\\\\"b c\" d e", {"p", "a\\\\b c", "d", "e"}},
      {"p a\"b\"\" c d", {"p", "ab\" c d"}},
      {"p \"\" x", {"p", "", "x"}},
      {"p  \t a\t\tb  ", {"p", "a", "b"}},
      {"\"/opt/my tools/tompg\" x", {"/opt/my tools/tompg", "x"}},
      {"/opt/my tools/tompg x", {"/opt/my", "tools/tompg", "x"}},
      {"C:\\dir\\tompg.exe \"a\"", {"C:\\dir\\tompg.exe", "a"}},
      {"", {""}},
  };
  for (const SplitRow& row : rows) EXPECT_EQ(SplitCommandLine(row.Line), row.Args) << row.Line;
}

}  // namespace
