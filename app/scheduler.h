// The converter's scheduler: the 500 ms tick that starts jobs, handles their end and keeps the
// displays, the buttons that act on the queue, and the enqueue and format rules of the queue
// list. Everything here runs on the GUI thread and uses no widget: the tick fills MainView, a
// plain record of what the window must show, and the window applies it.
#pragma once
#include <cstdint>
#include <string>

#include "model/queue.h"
#include "encoder/commandline.h"
#include "encoder/priority.h"
#include "app/queuelist.h"
#include "inspect/inspect.h"

// What the main window shows of the converter. The tick and the handlers write it; the window
// applies it after each of them. Counters make the list changes idempotent: the window remembers
// how many it has applied. StartBT's look is not here: it follows Converter.SubmissionActive.
struct MainView {
  bool JobRunning = false;  // hints of the job displays shown, AbortBT enabled
  std::string QueueCounter = "  0 files in queue";
  std::string StatusLine;         // StatusP, two blanks before the text
  // Where the status line holds a path (bytes [StatusPathBegin, StatusPathEnd)): the window
  // shortens only that part when the line is too long for its panel.
  size_t StatusPathBegin = 0, StatusPathEnd = 0;
  std::string TimeText = " ";     // TimeP
  std::string PercentText = " ";  // PercentP
  uint32_t Progress = 0;          // ProgressBar 0..100
  bool HasCurrentLine = false;    // CurrentLB holds a line
  std::string CurrentLine;        // its text
  bool CurrentSelected = false;   // the line is selected (blinks while suspended)
  const char* CurrentHint = "";   // "Suspend" or "Resume" while a job runs
  uint32_t HeadLinesTaken = 0;    // job changes so far: each removes line 0 of JobLB
  uint32_t FileListRereads = 0;   // each asks FileLB to re-read its directory
};
extern MainView View;

// What the scheduler calls outside itself. The defaults are the real encoder, decoder thread,
// trash and message box; tests replace them to drive every row of the state table.
struct SchedulerOps {
  EncoderLaunchResult (*LaunchEncoderJob)(const QueueEntry& entry, const std::string& output, int priority);
  bool (*StartDecoderJob)(int priority);  // the thread reads DecoderInput/DecoderOutput
  uint32_t (*JobExitCode)();              // STILL_ACTIVE while the current job runs; reads only
  void (*ReadFinalLines)();               // an ended encoder's last console lines
  std::string (*EncoderFailure)();        // why the ended encoder job failed; "" when it succeeded
  void (*StopJob)();                      // Abort and closing: asks the job to end
  void (*KillEncoder)();                  // an encoder that did not end on being asked
  void (*RemoveLeftovers)(const std::string& output);  // what a failed encoder left of its output
  // Before a job: a file of the output's name goes to the Trash, kept in place until the output
  // replaces it. "" when done (or nothing is there), else why it cannot.
  std::string (*SetOutputAside)(const std::string& output);
  // After a job that did not convert: the file set aside takes its name back over what the job
  // left; where none was, a file the job left there is removed.
  void (*TakeOutputBack)(const std::string& output);
  // Whether the Trash would take a source now ("" when it would, else why not), and the move of a
  // converted source there ("" when done, else why it stays).
  std::string (*SourceTrashRefusal)(const std::string& path);
  std::string (*RemoveSource)(const std::string& path);
  bool (*SameFile)(const std::string& a, const std::string& b);
  // The running job's priority: given again, and seen to hold (encoder/priority.h).
  JobPriorityResult (*ApplyPriority)(int position, int& actual);
  void (*ApplyView)();  // the window shows View (after a tick)
  void (*QueueDone)(uint32_t converted, uint32_t failed);  // the active queue has run empty
};
extern SchedulerOps Scheduler;
// Restores the real operations (ApplyView and QueueDone do nothing until the window sets them).
void SetDefaultSchedulerOps();

// The track bar position the next job starts with (0 Low, 1 Normal, 2 High); where the system
// refuses a job's priority, the position of the one it really has (the window's slider follows).
extern int PriorityPosition;

// One scheduler tick at the millisecond tick count `now`, steps 2 to 8 (the window refreshes the
// format controls first, see FormatDisplayFor). It may run at any moment: every 500 ms, and at
// once when a job has ended. It never waits for a box.
void StatusTMTimer(uint32_t now);
// Start / Stop: switches the converter on or off.
void StartBTClick();
// Abort: the next tick kills the running job.
void AbortBTClick();
// Clear: empties the queue; the running job and its line are untouched.
void ClearBTClick();
// The window is about to close: true when it may. A running job is killed only after OK; while
// the question is open no job starts, and a job that ends meanwhile is handled by the tick.
bool FormCloseQuery();
// The window closes: a stopped job is waited for, so that nothing runs on after the window, and
// what its output's name held before it holds it again.
void FinishJobOnClose();

// "x.mp3" numbered as file managers number a copy: "x (2).mp3".
std::string NumberedPath(const std::string& path, int number);
std::string QueueCounterText(int count, bool active);
uint32_t PercentOf(uint32_t bytesDone, uint32_t bytesTotal);
std::string RemainingText(double remainingMs);  // "%02u:%02u:%02u"
double RemainingMsOf(uint32_t bytesDone, uint32_t bytesTotal, double elapsedMs);
