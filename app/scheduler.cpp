#include "app/scheduler.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "model/settings.h"
#include "decoder/decoder.h"
#include "encoder/consolemonitor.h"
#include "encoder/encoderjob.h"
#include "encoder/priority.h"
#include "encoder/rates.h"
#include "platform/files.h"
#include "platform/jobthread.h"
#include "platform/messagebox.h"
#include "platform/outputfile.h"
#include "platform/paths.h"

// The configuration window refuses destination directories too long for a decoder job's paths.
static_assert(MaxDestinationDirLength + 5 < DecoderPathSize, "destination limit and decoder buffers agree");

MainView View;
int PriorityPosition = 1;

namespace {

// Jobs ended since the converter was last switched on or last ran its queue empty, for the
// completion notice. A job stopped by Abort or by closing counts in neither.
uint32_t JobsConverted = 0;
uint32_t JobsFailed = 0;

EncoderLaunchResult RealLaunchEncoder(const QueueEntry& entry, const std::string& output, int priority) {
  return LaunchEncoder(entry, output, priority);
}
bool RealStartDecoder(int priority) {
  // The progress shown from the first moment is this job's, not what the last decode reached.
  InputPosition.store(0, std::memory_order_relaxed);
  return StartJobThread(Converter.DecoderThread, DecoderThreadMain, PriorityNice(priority));
}
bool RealEncoderSucceeded() { return EncoderJobSucceeded(Converter.EncoderProcess, Converter.FramesDone); }
void RealRemoveLeftovers(const std::string& output) { RemoveLeftoverOutputs(output, Converter.EncoderProcess.Pid); }
void NoView() {}
void NoNotice(uint32_t, uint32_t) {}

bool Running() { return Scheduler.JobExitCode() == STILL_ACTIVE; }

// Boxes open without waiting: the tick goes on at once, and so does the queue.
void Box(const std::string& text, const std::string& caption) { ShowMessageBox(text.c_str(), caption.c_str()); }

// Step 5: the end of the last job.
void HandleJobEnd() {
  Converter.EndHandled = true;
  View.HasCurrentLine = false;
  View.CurrentLine.clear();
  View.CurrentSelected = false;
  const std::string source = Converter.CurrentSource;
  const bool stopped = Converter.StopSent;
  if (Converter.EncoderJob) {
    const bool succeeded = Scheduler.EncoderSucceeded();
    Converter.FramesDone = -1;
    // An encoder ended by force (by us or from outside) had no chance to remove its temporary
    // output.
    if (!succeeded) Scheduler.RemoveLeftovers(Converter.CurrentOutput);
    if (succeeded) {
      ++JobsConverted;
    } else if (!stopped) {
      ++JobsFailed;
    }
    if (succeeded && (AppSettings.Flags & FlagDeleteAfterEncoding)) {
      if (Scheduler.RemoveSource(source)) {
        ++View.FileListRereads;
      } else if (AppSettings.Flags & FlagShowErrorBox) {
        Box("Unable to delete source file", source);
      }
    }
  } else {
    const uint32_t code = Scheduler.JobExitCode();
    if (code == DecoderOk) {
      if (!stopped) ++JobsConverted;
    } else {
      ++JobsFailed;
      // The reason follows on a second line: a full disk and an unreadable source call for
      // different remedies.
      Box(std::string("Unable to decode source file\n") + DecoderExitText(code), source);
    }
  }
}

// The job change: the head entry leaves the queue and its line moves to CurrentLB.
void JobChange(const QueueEntry& entry) {
  RemoveQueueEntry(0);
  View.HasCurrentLine = true;
  View.CurrentLine = JobLineText(entry);
  ++View.HeadLinesTaken;
}

std::string FormatDetails(const QueueEntry& e, uint32_t kbits) {
  char details[96];
  std::snprintf(details, sizeof details, " [Layer %u; %s; %u kbit/s] ...", static_cast<unsigned>(e.Layer + 1),
                ModeNameTable[e.ChannelMode & 3], static_cast<unsigned>(kbits));
  return details;
}

// Drops the head entry without starting it, says why, and lets the queue go on.
void DropHead(const std::string& text, const std::string& caption) {
  RemoveQueueEntry(0);
  ++View.HeadLinesTaken;
  Box(text, caption);
}

// The first later entry whose source is the file `output` names, or -1.
int QueuedSourceAt(const std::string& output) {
  // An output that does not exist yet (the usual case) is no queued source: one look, not one per
  // entry of a queue of up to a thousand.
  if (!Scheduler.SameFile(output, output)) return -1;
  for (int i = 1; i < QueueCount; ++i) {
    if (Scheduler.SameFile(output, JobQueue[i].Path)) return i;
  }
  return -1;
}

// Step 6: starts entry 0.
void StartNextJob(uint32_t now) {
  const QueueEntry entry = JobQueue[0];
  const std::string output = OutputPathFor(entry);
  // A job whose output is its own source would destroy it: it is dropped, and the queue goes on.
  if (Scheduler.SameFile(entry.Path, output)) {
    DropHead(entry.Path + "\nwould be replaced by its own output. The file was taken from the queue.",
             "Output file is the source file");
    return;
  }
  // Nor may an output replace a file that a later job still has to convert.
  if (QueuedSourceAt(output) >= 0) {
    DropHead(entry.Path + "\nwould be converted to\n" + output +
                 "\nwhich is still waiting in the queue to be converted itself. The file was taken from "
                 "the queue; the other one stays.",
             "Output file is a queued source");
    return;
  }
  Converter.BytesTotal = entry.FileSize;
  Converter.BytesBase = 0;
  if (!entry.IsWave && entry.AudioEnd > entry.AudioStart) {
    Converter.BytesTotal = static_cast<uint32_t>(std::min<uint64_t>(entry.AudioEnd - entry.AudioStart, UINT32_MAX));
    Converter.BytesBase = static_cast<uint32_t>(std::min<uint64_t>(entry.AudioStart, UINT32_MAX));
  }
  Converter.BytesDone = 0;
  Converter.FramesDone = -1;
  Converter.CurrentSource = entry.Path;
  Converter.CurrentOutput = output;
  Converter.StopSent = false;
  if (entry.IsWave) {
    const EncoderLaunchResult launched = Scheduler.LaunchEncoderJob(entry, output, PriorityPosition);
    if (launched != EncoderLaunched) {
      Converter.SubmissionActive = false;
      if (launched == EncoderNotStarted) {
        Box("Please change configuration settings", "TOMPG not found");
      } else if (launched == EncoderProgramUnusable) {
        Box(TompgDirText() + "\n" + EncoderLaunchText(launched) + "\nPlease change configuration settings",
            "Unable to start encoding");
      } else {
        // The encoder is there; the paths are what cannot be handed to it.
        Box(entry.Path + "\n" + output + "\n" + EncoderLaunchText(launched), "Unable to start encoding");
      }
      return;
    }
    Converter.StartTick = now;
    Converter.StatusText = "Encoding " + entry.Path + FormatDetails(entry, EncodedBitrate(entry));
    JobChange(entry);
    Converter.EndHandled = false;
    Converter.EncoderJob = true;
    return;
  }
  // The decoder's path buffers are never cut: a path that does not fit refuses the job.
  if (!DecoderPathsFit(entry.Path, output)) {
    Converter.SubmissionActive = false;
    Box(entry.Path + "\n" + output + "\nA path is longer than the decoder accepts (399 characters).",
        "Unable to start decoding");
    return;
  }
  std::memcpy(DecoderInput, entry.Path.c_str(), entry.Path.size() + 1);
  std::memcpy(DecoderOutput, output.c_str(), output.size() + 1);
  // The exit status is read from the thread from now on, also when its start fails.
  Converter.EncoderJob = false;
  if (!Scheduler.StartDecoderJob(PriorityPosition)) {
    Converter.SubmissionActive = false;
    Box("Unable to start decoding thread", "Severe Error");
    return;
  }
  Converter.StartTick = now;
  Converter.StatusText =
      "Decoding " + entry.Path + FormatDetails(entry, static_cast<uint32_t>(entry.Bitrate));
  JobChange(entry);
  Converter.EndHandled = false;
}

void ShowProgress(uint32_t now) {
  View.JobRunning = true;
  Converter.Percent = PercentOf(Converter.BytesDone, Converter.BytesTotal);
  View.Progress = Converter.Percent;
  View.PercentText = std::to_string(Converter.Percent) + "%";
  if (!Converter.Suspended) Converter.ElapsedMs = static_cast<double>(now) - Converter.StartTick;
  Converter.RemainingMs = RemainingMsOf(Converter.BytesDone, Converter.BytesTotal, Converter.ElapsedMs);
  View.TimeText = RemainingText(Converter.RemainingMs);
  if (Converter.Suspended) {
    View.CurrentHint = "Resume";
    View.CurrentSelected = !View.CurrentSelected;
  } else {
    View.CurrentHint = "Suspend";
    View.CurrentSelected = View.HasCurrentLine;
  }
}

void ShowIdle() {
  Converter.StatusText = "Idle ...";
  Converter.Suspended = false;
  // An abort asks for the end of the job that runs when it is pressed; with none running it is
  // spent, and must not kill the next job that starts.
  Converter.AbortRequested = false;
  View.JobRunning = false;
  View.CurrentHint = "";
  View.CurrentSelected = false;
  Converter.Percent = 0;
  View.Progress = 0;
  View.PercentText.assign(1, ' ');  // one blank
  View.TimeText.assign(1, ' ');
}

// Step 8: the status line, and where in it the path stands: a notice starts with it, and
// "Encoding " or "Decoding " is followed by it.
void ShowStatusLine() {
  const std::string text = Converter.NoticeTicks != 0 ? Converter.NoticeText : Converter.StatusText;
  if (Converter.NoticeTicks != 0) --Converter.NoticeTicks;
  View.StatusLine = "  " + text;
  View.StatusPathBegin = View.StatusPathEnd = 0;
  const std::string& path = Converter.CurrentSource;
  if (path.empty()) return;
  size_t at = std::string::npos;
  if (text.compare(0, path.size(), path) == 0) {
    at = 0;
  } else if ((text.rfind("Encoding ", 0) == 0 || text.rfind("Decoding ", 0) == 0) &&
             text.compare(9, path.size(), path) == 0) {
    at = 9;
  }
  if (at == std::string::npos) return;
  View.StatusPathBegin = 2 + at;
  View.StatusPathEnd = 2 + at + path.size();
}

}  // namespace

SchedulerOps Scheduler;

void SetDefaultSchedulerOps() {
  Scheduler = SchedulerOps{RealLaunchEncoder,  RealStartDecoder,      ReadJobExitCode,
                           ReadFinalEncoderLines, RealEncoderSucceeded, StopRunningJob,
                           KillRunningEncoder, RealRemoveLeftovers,   RemoveConvertedSource,
                           IsSameFile,         NoView,                NoNotice};
}

namespace {
struct DefaultOpsSetter {
  DefaultOpsSetter() { SetDefaultSchedulerOps(); }
} DefaultOps;
}  // namespace

void StatusTMTimer(uint32_t now) {
  FitConsole();
  View.QueueCounter = QueueCounterText(QueueCount, Converter.SubmissionActive);

  if (!Converter.EndHandled && !Running()) {
    // What an ended encoder wrote last is read before its end is judged.
    if (Converter.EncoderJob) Scheduler.ReadFinalLines();
    HandleJobEnd();
  }
  if (Converter.SubmissionActive && Converter.EndHandled && QueueCount > 0 && !Running()) {
    StartNextJob(now);
  }
  // The queue has run empty while the converter was on: one notice for the whole run.
  if (Converter.SubmissionActive && Converter.EndHandled && QueueCount == 0 && JobsConverted + JobsFailed > 0 &&
      !Running()) {
    Scheduler.QueueDone(JobsConverted, JobsFailed);
    JobsConverted = JobsFailed = 0;
  }

  if (Running()) {
    if (Converter.AbortRequested) {
      Converter.AbortRequested = false;
      Converter.SubmissionActive = false;
      Converter.StopSent = true;
      Converter.StopTick = now;
      Scheduler.StopJob();
    } else if (Converter.StopSent && Converter.EncoderJob &&
               static_cast<uint32_t>(now - static_cast<uint32_t>(Converter.StopTick)) >= EncoderStopGraceMs) {
      // An encoder that does not end when asked (stuck in a write) is killed.
      Scheduler.KillEncoder();
    }
    ShowProgress(now);
  } else {
    ShowIdle();
  }

  ShowStatusLine();
  Scheduler.ApplyView();
}

void StartBTClick() {
  Converter.SubmissionActive = !Converter.SubmissionActive;
  if (Converter.SubmissionActive) {
    JobsConverted = JobsFailed = 0;
  } else {
    ++Converter.SwitchOffs;
  }
}

void AbortBTClick() {
  Converter.AbortRequested = true;
  ++Converter.SwitchOffs;
}

void ClearBTClick() { QueueCount = 0; }

bool FormCloseQuery() {
  if (!Running()) return true;
  const std::string text = std::string(Converter.EncoderJob ? "You are about to cancel encoding of\n"
                                                            : "You are about to cancel decoding of\n") +
                           Converter.CurrentSource;
  if (!AskOkCancel(text.c_str(), "Close Sonivert")) return false;
  Converter.StopSent = true;
  Scheduler.StopJob();
  return true;
}

void FinishJobOnClose() { FinishRunningJob(Converter.CurrentOutput); }

// ---- displays -------------------------------------------------------------------------------

std::string QueueCounterText(int count, bool active) {
  char text[64];
  std::snprintf(
      text, sizeof text,
      count == 1 ? "  %u file in queue [submission%sactive]" : "  %u files in queue [submission%sactive]",
      static_cast<unsigned>(count), active ? " " : " in");
  return text;
}

uint32_t PercentOf(uint32_t bytesDone, uint32_t bytesTotal) {
  const uint32_t denominator = bytesTotal + 1u;  // wraps to 0 for the largest size
  if (denominator == 0) return 0;
  const double percent = 100.0 * bytesDone / denominator;
  return percent > 100.0 ? 0 : static_cast<uint32_t>(percent);
}

double RemainingMsOf(uint32_t bytesDone, uint32_t bytesTotal, double elapsedMs) {
  return static_cast<double>(bytesTotal) * elapsedMs / (static_cast<double>(bytesDone) + 1.0) - elapsedMs;
}

std::string RemainingText(double remainingMs) {
  // Whole seconds toward zero, then the low 32 bits read as unsigned (a negative estimate wraps,
  // as the 32-bit conversion it was designed around does).
  double seconds = std::trunc(remainingMs * 0.001);
  if (!std::isfinite(seconds)) seconds = 0;
  double low = std::fmod(seconds, 4294967296.0);
  if (low < 0) low += 4294967296.0;
  const uint32_t s = static_cast<uint32_t>(low);
  char text[32];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", s / 3600, (s / 60) % 60, s % 60);
  return text;
}
