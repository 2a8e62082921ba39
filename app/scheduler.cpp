#include "app/scheduler.h"

#include <algorithm>
#include <cerrno>
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
std::string RealEncoderFailure() {
  return EncoderJobFailure(Converter.EncoderProcess, Converter.FramesDone, Converter.CurrentOutput,
                           Converter.OutputBefore);
}
void RealRemoveLeftovers(const std::string& output) { RemoveLeftoverOutputs(output, Converter.EncoderProcess.Pid); }
std::string RealSetOutputAside(const std::string& output) {
  const std::string target = FollowLinks(output);
  Converter.OutputBefore = IdentityOf(target);
  Converter.OutputInTrash = TrashedFile{};
  // A device or a FIFO is written in place: there is nothing on a disk to keep.
  if (!Converter.OutputBefore.Regular) return {};
  const TrashResult r = TrashBeforeReplace(target, &Converter.OutputInTrash);
  return TrashFailureText(r, errno);
}
void RealTakeOutputBack(const std::string& output) {
  if (!Converter.OutputInTrash.File.empty()) {
    TakeBackFromTrash(Converter.OutputInTrash);
  } else if (Converter.EncoderJob) {
    // No half output stays: a new file the failed encoder put under the name goes. (The decoder
    // gives its output the name only when it succeeds.)
    RemoveNewOutput(output, Converter.OutputBefore);
  }
  Converter.OutputInTrash = TrashedFile{};
}
std::string RealSourceTrashRefusal(const std::string& path) {
  if (!IdentityOf(path).Exists) return {};  // a source gone meanwhile fails its job, and says so
  const TrashResult r = TrashReady(path);
  return TrashFailureText(r, errno);
}
std::string RealRemoveSource(const std::string& path) {
  const TrashResult r = MoveToTrash(path);
  return TrashFailureText(r, errno);
}
void NoView() {}
void NoNotice(uint32_t, uint32_t) {}

bool Running() { return Scheduler.JobExitCode() == STILL_ACTIVE; }

// Boxes open without waiting: the tick goes on at once, and so does the queue. Their text says
// the reason first and the files below it: a desktop that attaches a box to its window shows no
// caption.
void Box(const std::string& text, const std::string& caption) { ShowMessageBox(text.c_str(), caption.c_str()); }

// Step 5: the end of the last job. Converted: the job's output is complete under its name (the
// decoder ends with 0 only then, unless stopped). Otherwise whatever the output's name held
// before the job holds it again, and a failure is told once.
void HandleJobEnd() {
  Converter.EndHandled = true;
  View.HasCurrentLine = false;
  View.CurrentLine.clear();
  View.CurrentSelected = false;
  const std::string source = Converter.CurrentSource;
  const bool stopped = Converter.StopSent;
  bool converted = false;
  if (Converter.EncoderJob) {
    const std::string failure = Scheduler.EncoderFailure();
    Converter.FramesDone = -1;
    converted = failure.empty();
    // An encoder ended by force (by us or from outside) had no chance to remove its temporary
    // output. Its error line, when it wrote one, has told the user already.
    if (!converted) Scheduler.RemoveLeftovers(Converter.CurrentOutput);
    if (!converted && !stopped && !ConsoleMonitor.JobFailureReported) ReportEncoderFailure(failure);
    if (!converted && !stopped) ++JobsFailed;
  } else {
    const uint32_t code = Scheduler.JobExitCode();
    converted = code == DecoderOk && !stopped;
    if (code != DecoderOk) {
      ++JobsFailed;
      // The reason follows on a second line: a full disk and an unreadable source call for
      // different remedies.
      Box(std::string("Unable to decode source file\n") + DecoderExitText(code) + "\n" + source, source);
    }
  }
  if (!converted) {
    Scheduler.TakeOutputBack(Converter.CurrentOutput);
    return;
  }
  ++JobsConverted;
  Converter.WrittenOutputs.push_back(Converter.CurrentOutput);
  Converter.OutputInTrash = TrashedFile{};  // the replaced file stays in the Trash
  if (!Converter.EncoderJob || !(AppSettings.Flags & FlagDeleteAfterEncoding)) return;
  const std::string why = Scheduler.RemoveSource(source);
  if (why.empty()) {
    ++View.FileListRereads;
  } else if (AppSettings.Flags & FlagShowErrorBox) {
    Box("Unable to delete source file: " + why + "\n" + source, source);
  } else {
    ShowNotice(source + ": Unable to delete source file: " + why);
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

// Whether an earlier job of this run wrote `output` (by its name, or as the same file).
bool WrittenThisRun(const std::string& output) {
  const bool exists = Scheduler.SameFile(output, output);
  for (const std::string& written : Converter.WrittenOutputs) {
    if (written == output || (exists && Scheduler.SameFile(output, written))) return true;
  }
  return false;
}

// The entry's output, or the next free name where an earlier job of this run wrote it: two
// sources of one base name (a/x.wav and b/x.wav, x.wav and x.WAV) never share an output.
std::string FreeOutputPath(const QueueEntry& entry) {
  const std::string first = OutputPathFor(entry);
  std::string output = first;
  for (int n = 2; n <= MaxQueueEntries + 1 && WrittenThisRun(output); ++n) output = NumberedPath(first, n);
  return output;
}

// A job that did not start leaves the output's name as it found it.
void LaunchFailed(const std::string& text, const std::string& caption) {
  Converter.SubmissionActive = false;
  Scheduler.TakeOutputBack(Converter.CurrentOutput);
  Box(text, caption);
}

// Step 6: starts entry 0.
void StartNextJob(uint32_t now) {
  const QueueEntry entry = JobQueue[0];
  const std::string output = FreeOutputPath(entry);
  // A job whose output is its own source would destroy it: it is dropped, and the queue goes on.
  if (Scheduler.SameFile(entry.Path, output)) {
    DropHead("The output would replace the source itself. The file was taken from the queue.\n" + entry.Path,
             "Output file is the source file");
    return;
  }
  // Nor may an output replace a file that a later job still has to convert.
  if (QueuedSourceAt(output) >= 0) {
    DropHead("The output would replace a file that is still waiting in the queue to be converted itself. "
             "The file was taken from the queue; the other one stays.\n" +
                 entry.Path + "\nwould be converted to\n" + output,
             "Output file is a queued source");
    return;
  }
  // Where the Trash cannot take a file, nothing is deleted or replaced in its stead: the job is
  // dropped before it starts.
  std::string why;
  if (entry.IsWave && (AppSettings.Flags & FlagDeleteAfterEncoding) &&
      !(why = Scheduler.SourceTrashRefusal(entry.Path)).empty()) {
    DropHead("The source cannot go to the Trash after its encode: " + why +
                 ". It was kept, and taken from the queue.\n" + entry.Path,
             "Source file cannot go to the Trash");
    return;
  }
  Converter.CurrentOutput = output;
  if (!(why = Scheduler.SetOutputAside(output)).empty()) {
    DropHead("A file has the output's name and cannot go to the Trash: " + why +
                 ". It was kept, and the source was taken from the queue.\n" + output + "\n" + entry.Path,
             "Output file cannot go to the Trash");
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
  Converter.StopSent = false;
  ConsoleMonitor.JobFailureReported = false;
  // The name written, where it is not the source's own.
  const std::string as =
      output == OutputPathFor(entry) ? std::string() : " as " + output.substr(output.rfind('/') + 1);
  if (entry.IsWave) {
    const EncoderLaunchResult launched = Scheduler.LaunchEncoderJob(entry, output, PriorityPosition);
    if (launched != EncoderLaunched) {
      if (launched == EncoderNotStarted) {
        LaunchFailed("TOMPG not found. Please change configuration settings.\n" + TompgDirText() + "tompg",
                     "TOMPG not found");
      } else if (launched == EncoderProgramUnusable) {
        LaunchFailed(std::string(EncoderLaunchText(launched)) + "\nPlease change configuration settings.\n" +
                         TompgDirText(),
                     "Unable to start encoding");
      } else {
        // The encoder is there; the paths are what cannot be handed to it.
        LaunchFailed(std::string(EncoderLaunchText(launched)) + "\n" + entry.Path + "\n" + output,
                     "Unable to start encoding");
      }
      return;
    }
    Converter.StartTick = now;
    Converter.StatusText = "Encoding " + entry.Path + as + FormatDetails(entry, EncodedBitrate(entry));
    JobChange(entry);
    Converter.EndHandled = false;
    Converter.EncoderJob = true;
    Converter.PriorityToCheck = true;
    return;
  }
  // The decoder's path buffers are never cut: a path that does not fit refuses the job.
  if (!DecoderPathsFit(entry.Path, output)) {
    LaunchFailed("A path is longer than the decoder accepts (399 characters).\n" + entry.Path + "\n" + output,
                 "Unable to start decoding");
    return;
  }
  std::memcpy(DecoderInput, entry.Path.c_str(), entry.Path.size() + 1);
  std::memcpy(DecoderOutput, output.c_str(), output.size() + 1);
  // The exit status is read from the thread from now on, also when its start fails.
  Converter.EncoderJob = false;
  if (!Scheduler.StartDecoderJob(PriorityPosition)) {
    LaunchFailed("Unable to start decoding thread\n" + entry.Path, "Severe Error");
    return;
  }
  Converter.StartTick = now;
  Converter.StatusText =
      "Decoding " + entry.Path + as + FormatDetails(entry, static_cast<uint32_t>(entry.Bitrate));
  JobChange(entry);
  Converter.EndHandled = false;
  Converter.PriorityToCheck = true;
}

// The running job's priority: where the system refuses it, the status line says so and the
// slider goes to the priority the job really has.
void CheckPriority() {
  int actual = PriorityPosition;
  const JobPriorityResult result = Scheduler.ApplyPriority(PriorityPosition, actual);
  if (result == PriorityPending) return;
  Converter.PriorityToCheck = false;
  if (result != PriorityRefused) return;
  static const char* const Names[3] = {"Low", "Normal", "High"};
  ShowNotice(std::string("Priority ") + Names[PriorityPosition % 3] + " refused: " + strerror(errno) + "; runs at " +
             Names[actual % 3]);
  PriorityPosition = actual;
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
  Scheduler = SchedulerOps{RealLaunchEncoder,   RealStartDecoder,       ReadJobExitCode,   ReadFinalEncoderLines,
                           RealEncoderFailure,  StopRunningJob,         KillRunningEncoder, RealRemoveLeftovers,
                           RealSetOutputAside,  RealTakeOutputBack,     RealSourceTrashRefusal, RealRemoveSource,
                           IsSameFile,          ApplyJobPriority,       NoView,            NoNotice};
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
  if (Converter.SubmissionActive && !Converter.HoldQueue && Converter.EndHandled && QueueCount > 0 &&
      !Running()) {
    StartNextJob(now);
  }
  // The queue has run empty while the converter was on: one notice for the whole run.
  if (Converter.SubmissionActive && Converter.EndHandled && QueueCount == 0 && JobsConverted + JobsFailed > 0 &&
      !Running()) {
    Scheduler.QueueDone(JobsConverted, JobsFailed);
    JobsConverted = JobsFailed = 0;
  }
  // The run is over when its queue is: later files may replace what it wrote.
  if (QueueCount == 0 && Converter.EndHandled && !Running()) Converter.WrittenOutputs.clear();

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
    if (Converter.PriorityToCheck) CheckPriority();
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
  Converter.HoldQueue = true;
  const bool ok = AskOkCancel(text.c_str(), "Close Sonivert");
  Converter.HoldQueue = false;
  if (!ok) return false;
  Converter.StopSent = true;
  Scheduler.StopJob();
  return true;
}

void FinishJobOnClose() {
  FinishRunningJob(Converter.CurrentOutput);
  // No tick handles this end: the job was cancelled, and the output's name holds what it held.
  if (Converter.EndHandled) return;
  Converter.EndHandled = true;
  Scheduler.TakeOutputBack(Converter.CurrentOutput);
}

// ---- displays -------------------------------------------------------------------------------

std::string NumberedPath(const std::string& path, int number) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  const size_t at = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1) ? dot : path.size();
  return path.substr(0, at) + " (" + std::to_string(number) + ")" + path.substr(at);
}

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
