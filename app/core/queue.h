// The conversion queue and the scheduler's shared state.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/jobthread.h"
#include "platform/process.h"

// One queued source file with its format facts and encoding choices.
struct QueueEntry {
  std::string Path;            // full path of the source file
  std::string BaseName;        // file name without directory and without the last extension
  uint32_t FileSize = 0;       // bytes (low 32 bits)
  int32_t Layer = 0;           // WAV: chosen output layer 0..2; MP3: 2
  int32_t ChannelMode = 0;     // 0 Stereo, 1 Joint stereo, 2 Dual, 3 Mono
  int32_t Bitrate = 0;         // WAV: index into BitrateTable; MP3: kbit/s of the first frame
  uint32_t Duration = 0;       // WAV: playing time in whole seconds
  uint32_t SampleRate = 0;     // Hz
  uint16_t Channels = 0;       // WAV only
  uint16_t BitsPerSample = 0;  // WAV only
  int32_t IsWave = 0;          // 1 WAV (encoder job), 0 MP3 (decoder job)
};

constexpr int MaxQueueEntries = 1000;
extern QueueEntry JobQueue[MaxQueueEntries];
extern int QueueCount;

// Removes entry i, moving the later ones down; an index at or past QueueCount does nothing.
void RemoveQueueEntry(int i);
// Appends an entry; false when the queue is full.
bool AppendQueueEntry(const QueueEntry& entry);

// Paths handed to the decoder thread live in buffers of this size (with the terminating zero).
constexpr int DecoderPathSize = 400;

// The scheduler's state, shared by the GUI handlers, the console reader and the decoder thread.
struct ConverterState {
  bool SubmissionActive = false;
  bool EncoderJob = true;  // the current or last job is an encoder process
  bool EndHandled = true;
  bool AbortRequested = false;
  bool Suspended = false;
  uint32_t BytesDone = 0;
  uint32_t BytesTotal = 1;
  uint32_t Percent = 0;
  int32_t FramesDone = -1;  // -1 while the encoder reported no frame count
  uint32_t BytesOut = 0;
  double StartTick = 0;
  double ElapsedMs = 0;
  double RemainingMs = 0;
  double SuspendTick = 0;
  std::string StatusText = "Idle ...";
  std::string NoticeText;
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
  ProcessInfo EncoderProcess;
  JobThread DecoderThread;
  char DecoderInput[DecoderPathSize] = {};
  char DecoderOutput[DecoderPathSize] = {};
};
extern ConverterState Converter;

// Total bitrates in kbit/s, indexed by a WAV entry's Bitrate.
constexpr int BitrateCount = 12;
extern const uint32_t BitrateTable[BitrateCount];
// Channel mode names, each in a fixed 20-character slot.
extern const char ModeNameTable[4][20];
// Process priority classes by PriorityTB position: idle, normal, high.
extern const uint32_t PriorityClassTable[3];
