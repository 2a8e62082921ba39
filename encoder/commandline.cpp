#include "encoder/commandline.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "encoder/consolemonitor.h"
#include "encoder/priority.h"
#include "encoder/rates.h"
#include "model/settings.h"
#include "platform/console.h"
#include "platform/process.h"

const char* EncoderLaunchText(EncoderLaunchResult result) {
  switch (result) {
    case EncoderLaunched:
      return "encoder started";
    case EncoderBadChoice:
      return "layer, channel mode, bitrate or priority out of range";
    case EncoderLineTooLong:
      return "encoder command line too long";
    case EncoderLineAmbiguous:
      return "a path cannot be passed on the encoder command line";
    case EncoderNotStarted:
      return "the encoder program cannot be run";
    case EncoderProgramUnusable:
      return "The encoder's directory holds a double quote, which the encoder's command line cannot carry.";
  }
  return "unknown launch result";
}

namespace {

// Appends arg in double quotes, written so that the splitting rules (platform/process.h, the
// Windows C runtime's) read it back unchanged: backslashes stand for themselves unless a double
// quote follows them, so before a quote (one of the name's own, written \", or the closing one)
// they are doubled. A name without double quotes and without a backslash at its end comes out
// exactly as "name".
void AppendQuoted(std::string& line, const char* arg) {
  line += '"';
  size_t backslashes = 0;
  for (const char* p = arg;; ++p) {
    if (*p == '\\') {
      ++backslashes;
      continue;
    }
    if (*p == '"' || *p == '\0') {
      line.append(2 * backslashes, '\\');
      if (*p == '\0') break;
      line += "\\\"";
    } else {
      line.append(backslashes, '\\');
      line += *p;
    }
    backslashes = 0;
  }
  line += '"';
}

}  // namespace

EncoderLaunchResult BuildEncoderCommandLine(const char* tompgDir, const char* source, const char* output,
                                            int32_t layer, int32_t channelMode, int32_t bitrate,
                                            char (&line)[EncoderCommandLineSize]) {
  line[0] = '\0';
  // The indexes come from the queue; never read outside the bitrate table.
  if (layer < 0 || layer > 2 || channelMode < 0 || channelMode > 3 || bitrate < 0 ||
      bitrate >= BitrateCount) {
    return EncoderBadChoice;
  }
  if (!EncoderDirectoryUsable(tompgDir)) return EncoderProgramUnusable;
  const char layerDigit = static_cast<char>('1' + layer);
  // Mono carries the whole bitrate in its one channel; the other modes split it in two.
  const unsigned perChannel = BitrateTable[bitrate] / (channelMode == 3 ? 1u : 2u);
  const unsigned mode = static_cast<unsigned>(channelMode);
  // The program path is the first token: quotes group it, nothing in it is escaped. It is quoted
  // only when it holds a blank or a tab, so that every other line stays as it always was.
  const std::string program = std::string(tompgDir) + "tompg";
  std::string text = std::strpbrk(tompgDir, " \t") ? "\"" + program + "\"" : program;
  text += ' ';
  AppendQuoted(text, source);
  text += ' ';
  AppendQuoted(text, output);
  char options[3][16];
  std::snprintf(options[0], sizeof options[0], "-L%c", layerDigit);
  std::snprintf(options[1], sizeof options[1], "-B%u", perChannel);
  std::snprintf(options[2], sizeof options[2], "-M%u", mode);
  text += std::string(" ") + options[0] + " " + options[1] + " " + options[2] + " -P2 -S0 -N4";
  if (text.size() >= EncoderCommandLineSize) return EncoderLineTooLong;  // a cut line would name other files
  std::memcpy(line, text.c_str(), text.size() + 1);
  // The encoder reads its arguments back with the splitting rules: the line is kept only when
  // they give back exactly the intended arguments, so that it can never read or write some
  // other file.
  const std::vector<std::string> expected = {program,    source, output, options[0], options[1],
                                             options[2], "-P2",  "-S0",  "-N4"};
  if (SplitCommandLine(line) != expected) {
    line[0] = '\0';
    return EncoderLineAmbiguous;
  }
  return EncoderLaunched;
}

// The program path is read without escapes: a double quote in it only switches quoting.
bool EncoderDirectoryUsable(const char* tompgDir) { return std::strchr(tompgDir, '"') == nullptr; }

EncoderLaunchResult CheckEncoderPaths(const char* tompgDir, const std::string& source, const std::string& output) {
  // The longest options any entry can have: -L3 -B320 -M3.
  const std::string dir = EncoderDirectoryUsable(tompgDir) ? std::string(tompgDir) : std::string(std::strlen(tompgDir), 'x');
  char line[EncoderCommandLineSize];
  return BuildEncoderCommandLine(dir.c_str(), source.c_str(), output.c_str(), 2, 3, BitrateCount - 1, line);
}

EncoderLaunchResult LaunchEncoder(const QueueEntry& entry, const std::string& outputPath,
                                  int priorityPosition) {
  if (!ValidPriorityPosition(priorityPosition)) return EncoderBadChoice;
  const std::string tompgDir = TompgDirText();
  char line[EncoderCommandLineSize];
  const EncoderLaunchResult built =
      BuildEncoderCommandLine(tompgDir.c_str(), entry.Path.c_str(), outputPath.c_str(), entry.Layer,
                              entry.ChannelMode, entry.Bitrate, line);
  if (built != EncoderLaunched) return built;

  // Take what an earlier encoder left in the terminal, then clear the screen: its last progress
  // line must not be read as progress of this job (its frame count could match).
  PumpConsole();
  ClearConsole();

  ProcessInfo process;
  if (StartConsoleProcess(line, PriorityNice(priorityPosition), process) != ProcessStarted) return EncoderNotStarted;
  Converter.EncoderProcess = process;
  return EncoderLaunched;
}
