#include "encoder/consolemonitor.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "model/queue.h"
#include "model/settings.h"
#include "platform/console.h"
#include "platform/messagebox.h"

ConsoleMonitorState ConsoleMonitor;

const EncoderErrorLine EncoderErrorLines[3] = {
    {"UNRECOGNIZED PCM FILE ", "Unrecognized PCM format", ": Unrecognized PCM format"},
    {"CANNOT CREATE OUTPUT F", "Cannot create output file", ": Cannot create output file"},
    {"CANNOT_OPEN_INPUT_FILE", "Cannot open input file", ": Cannot open input file"},
};

namespace {

void SetReadTimer(bool enabled) {
  ConsoleMonitor.ReadTimerEnabled = enabled;
  if (ConsoleMonitor.SetReadTimer != nullptr) ConsoleMonitor.SetReadTimer(enabled);
}

// Reads columns 1 to 70 of a row into ConsoleLine; false when the row cannot be read.
bool ReadConsoleLine(int row) {
  char cells[ConsoleLineLength];
  if (!ReadConsoleCells(row, ConsoleLineColumn, ConsoleLineLength, cells)) return false;
  std::memcpy(ConsoleMonitor.ConsoleLine, cells, ConsoleLineLength);
  ConsoleMonitor.ConsoleLine[ConsoleLineLength] = '\0';
  return true;
}

void ErrorBoxClosed() {
  SetReadTimer(true);
  // The converter goes on after an encoder error, unless it was off when the error came or the
  // user switched it off while the box was open.
  if (ConsoleMonitor.ResumeAfterBox && Converter.SwitchOffs == ConsoleMonitor.SwitchOffsAtBox)
    Converter.SubmissionActive = true;
  ConsoleMonitor.ResumeAfterBox = false;
}

// The box or the notice of an encoder failure; `notice` follows the source's path.
void Report(const std::string& box, const std::string& notice) {
  ConsoleMonitor.JobFailureReported = true;
  const bool wasActive = Converter.SubmissionActive;
  // The status tick keeps running while the box is open; it must start no job meanwhile.
  Converter.SubmissionActive = false;
  if (AppSettings.Flags & FlagShowErrorBox) {
    SetReadTimer(false);
    ConsoleMonitor.ResumeAfterBox = wasActive;
    ConsoleMonitor.SwitchOffsAtBox = Converter.SwitchOffs;
    // The reason first, then the file: a desktop that attaches the box to the window shows no
    // caption. Last: the box may be answered before the call returns.
    ShowMessageBox((box + "\n" + Converter.CurrentSource).c_str(), Converter.CurrentSource.c_str(), ErrorBoxClosed);
  } else {
    ShowNotice(Converter.CurrentSource + notice);
    // An encoder error does not stop the queue, nor restart a converter the user had stopped.
    Converter.SubmissionActive = wasActive;
  }
}

void ReportError(const EncoderErrorLine& error) {
  // Scroll the error line out of the two rows, so that it is reported once.
  WriteConsole("\n");
  Report(error.BoxText, error.NoticeSuffix);
}

// Reads the screen as a tick does: the error lines (unless a box of one is open), then the
// progress line.
void ScanConsole() {
  if (!ReadConsoleLine(1)) return;
  if (ConsoleMonitor.ConsoleLine[0] == ' ' && !ReadConsoleLine(0)) return;
  if (ConsoleMonitor.ReadTimerEnabled) {
    for (const EncoderErrorLine& error : EncoderErrorLines) {
      if (std::memcmp(ConsoleMonitor.ConsoleLine, error.Prefix, EncoderErrorPrefixLength) == 0) {
        ReportError(error);
        break;
      }
    }
  }
  if (ConsoleMonitor.ConsoleLine[0] == 'f' && ConsoleMonitor.ConsoleLine[1] == 'r') {
    ScanProgressLine(ConsoleMonitor.ConsoleLine, Converter.FramesDone, Converter.BytesDone,
                     Converter.BytesOut);
  }
}

// One unsigned decimal field as scanf's %u reads it: leading white space, an optional sign,
// digits; the value wraps modulo 2^32 as the conversion to unsigned does.
bool ScanUnsigned(const char*& p, uint32_t& value) {
  const char* q = p;
  while (*q == ' ' || (*q >= '\t' && *q <= '\r')) ++q;
  bool negative = false;
  if (*q == '+' || *q == '-') negative = *q++ == '-';
  if (*q < '0' || *q > '9') return false;
  uint32_t v = 0;
  while (*q >= '0' && *q <= '9') v = v * 10u + static_cast<uint32_t>(*q++ - '0');
  value = negative ? 0u - v : v;
  p = q;
  return true;
}

// The console line last read, without its trailing blanks.
std::string LastConsoleLine() {
  std::string line = ConsoleMonitor.ConsoleLine;
  line.erase(line.find_last_not_of(' ') + 1);
  return line;
}

}  // namespace

int ScanProgressLine(const char* line, int32_t& framesDone, uint32_t& bytesDone, uint32_t& bytesOut) {
  // The pattern "frames %u bytes in %u bytes out %u": a blank in it matches any amount of white
  // space (none included), other characters must match exactly.
  static const char* const words[3] = {"frames", " bytes in", " bytes out"};
  const char* p = line;
  int fields = 0;
  for (int i = 0; i < 3; ++i) {
    for (const char* w = words[i]; *w != '\0'; ++w) {
      if (*w == ' ') {
        while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
      } else if (*p == *w) {
        ++p;
      } else {
        return fields;
      }
    }
    uint32_t value = 0;
    if (!ScanUnsigned(p, value)) return fields;
    if (i == 0)
      framesDone = static_cast<int32_t>(value);
    else if (i == 1)
      bytesDone = value;
    else
      bytesOut = value;
    ++fields;
  }
  return fields;
}

void ReportEncoderFailure(const std::string& reason) {
  std::string box = "Encoding failed: " + reason;
  std::string notice = ": Encoding failed: " + reason;
  const std::string line = LastConsoleLine();
  if (!line.empty()) {
    box += "\nLast line of the encoder: " + line;
    notice += " (last line: " + line + ")";
  }
  Report(box, notice);
}

void ConsoleSetup() {
  char title[64];
  std::snprintf(title, sizeof title, "%s %u", "Sonivert Console", static_cast<unsigned>(getpid()));
  ConsoleMonitor.ConsoleTitle = title;
  OpenConsole();  // a console that cannot be made shows when an encoder is launched
  SetConsoleTitle(ConsoleMonitor.ConsoleTitle.c_str());
  // There is no console window: the search ends at once and there is nothing to hide.
  if (ConsoleMonitor.RaiseMainWindow != nullptr) ConsoleMonitor.RaiseMainWindow();
  FitConsole();
  WriteConsole("\n");
}

void FitConsole() {
  int rows = 0, columns = 0;
  if (!GetConsoleSize(rows, columns)) return;
  // Bottom row minus top row greater than 2: more than three rows.
  if (rows - 1 > 2) SetConsoleSize(ConsoleRows, ConsoleColumns);
}

void ReadConsoleTTimer(uint32_t decoderInputPosition) {
  // A tick that arrives while an error box is open (the timer is off) does nothing.
  if (!ConsoleMonitor.ReadTimerEnabled) return;
  PumpConsole();
  if (!Converter.EncoderJob) {
    Converter.BytesDone = decoderInputPosition > Converter.BytesBase ? decoderInputPosition - Converter.BytesBase : 0;
    return;
  }
  ScanConsole();
}

void ReadFinalEncoderLines() {
  // A second is far more than the terminal takes to hand over what it holds; the screen is read
  // whatever arrived.
  SyncConsole(1000);
  ScanConsole();
}
