// The record the subsystems share: the conversion queue and the converter's state. Plain data,
// beneath the encoder control and the windows, which both use it; above inspection (whose
// findings each entry carries) and the platform layer (whose process and thread records the
// converter holds).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "inspect/inspect.h"
#include "platform/files.h"
#include "platform/jobthread.h"
#include "platform/paths.h"
#include "platform/process.h"

// One queued source file: its path and name, and its format facts and encoding choices (the
// inspection fills the facts; the enqueue step the choices of a WAV entry).
struct QueueEntry : SourceFileInfo {
  std::string Path;      // full path of the source file
  std::string BaseName;  // file name without directory and without the last extension
};

constexpr int MaxQueueEntries = 1000;
extern QueueEntry JobQueue[MaxQueueEntries];
extern int QueueCount;

// Removes entry i, moving the later ones down; an index at or past QueueCount does nothing.
void RemoveQueueEntry(int i);
// Appends an entry; false when the queue is full.
bool AppendQueueEntry(const QueueEntry& entry);

// What the console monitor reads from the encoder's progress line; BytesDone is also the
// decoder's progress during a decoder job.
struct EncoderProgress {
  int32_t FramesDone = -1;  // frame count last reported by the encoder; -1 while none was reported
  uint32_t BytesDone = 0;   // source bytes consumed so far (progress numerator)
  uint32_t BytesOut = 0;    // output bytes last reported by the encoder (shown nowhere)
};

// The scheduler's state, shared by the GUI handlers, the console reader and the decoder thread.
struct ConverterState : EncoderProgress {
  bool SubmissionActive = false;
  bool EncoderJob = true;  // the current or last job is an encoder process
  bool EndHandled = true;
  bool AbortRequested = false;
  bool Suspended = false;
  uint32_t BytesTotal = 1;
  // A decode's progress runs over the source's audio: BytesDone counts from this offset of the
  // input (past the tags at its start), BytesTotal to the tags at its end.
  uint32_t BytesBase = 0;
  uint32_t Percent = 0;
  double StartTick = 0;
  double ElapsedMs = 0;
  double RemainingMs = 0;
  double SuspendTick = 0;
  std::string StatusText = "Idle ...";
  std::string NoticeText;  // shown instead of StatusText while NoticeTicks count down
  int32_t NoticeTicks = 0;
  std::string CurrentSource;
  std::string CurrentOutput;  // output path of the running or last job
  // Switch-offs of the converter so far (Abort, Stop): a console error box that closes turns the
  // converter back on only when none came while it was open.
  uint32_t SwitchOffs = 0;
  // The running job was asked to end (Abort, closing the window) at StopTick: it then counts
  // neither as converted nor as failed, and an encoder still running after a grace period is
  // killed.
  bool StopSent = false;
  double StopTick = 0;
  // The file that had the output's name when the job started (links followed), and where it went
  // in the Trash then (File empty: nothing went), so that a job that fails can put it back.
  FileIdentity OutputBefore;
  TrashedFile OutputInTrash;
  // The outputs written since the queue last ran empty: no later job of the run replaces one.
  std::vector<std::string> WrittenOutputs;
  // The close question is open: no job starts meanwhile (the running one is still followed).
  bool HoldQueue = false;
  // The running job's priority is still to be seen holding (after its start, after a change).
  bool PriorityToCheck = false;
  ProcessInfo EncoderProcess;
  JobThread DecoderThread;
};
extern ConverterState Converter;

// Puts `text` on the status line in place of the job's status for ten status ticks (five seconds).
void ShowNotice(const std::string& text);
