// The rules of the queue list, without widgets: how a file enters the queue (its path, base name,
// inspection, defaults and the paths its job will need), what its JobLB line and output are, and
// what the format controls show for the selected entry.
#pragma once
#include <cstdint>
#include <string>

#include "inspect/inspect.h"
#include "model/queue.h"

// The format controls for the selected JobLB line (-1: none).
struct FormatDisplay {
  int Layer = 0, ChannelMode = 0;
  int Bitrate = -1;      // item of BitrateCB to select; -1 leaves BitrateCB as it is
  bool Enabled = false;  // LayerRG, ModeRG and BitrateCB are enabled
  std::string InfoText;  // WavInfoP
};
FormatDisplay FormatDisplayFor(int selected, bool bitrateFollow);
// The mono rule: the channel mode a user's choice in ModeRG becomes for entry i.
int ModeChoiceFor(int i, int choice);

// Inspects the file named by JobQueue[index].Path (the entry being built; it need not be
// counted in QueueCount yet) into that entry. An index outside the array gives
// InspectCannotOpen and touches nothing.
InspectResult InspectSource(int index);

// The enqueue of one file by its full path: base name, inspection and defaults. On
// InspectAccepted the entry is counted and `line` is its JobLB line; otherwise nothing is
// counted. EnqueueQueueFull when the queue already holds its 1000 entries; EnqueuePathUnusable
// and EnqueuePathTooLong when the job could not be started with today's settings because its
// source or output path cannot be handed to the encoder or the decoder.
constexpr int EnqueueQueueFull = -1;
constexpr int EnqueuePathUnusable = -2;
constexpr int EnqueuePathTooLong = -3;
int EnqueueFile(const std::string& path, std::string& line);
// The box caption for a refused file.
const char* EnqueueRefusalCaption(int code);
// The box text for a refused file: why, then its path.
std::string EnqueueRefusalText(int code, const std::string& path);

// Pieces of the above, for the scheduler, the window and tests.
std::string BaseNameOf(const std::string& path);
std::string PlayingTime(uint32_t seconds);           // "%u:%02u"
std::string JobLineText(const QueueEntry& entry);    // what JobLB shows for the entry
std::string OutputPathFor(const QueueEntry& entry);  // DestinationDir + BaseName + extension
// Whether a decoder job's source and output paths fit the decoder's path buffers (never cut).
bool DecoderPathsFit(const std::string& source, const std::string& output);
// The total bitrate (kbit/s) the encoder will really code a WAV entry at: the nearest its layer
// allows at the sample rate it codes (a 22.05 kHz source cannot be coded above 160 kbit/s).
uint32_t EncodedBitrate(const QueueEntry& entry);
