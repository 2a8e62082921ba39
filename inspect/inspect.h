// Source file inspection: decides whether a file is an MPEG audio Layer III stream (a decoder
// job) or a PCM WAVE file (an encoder job) and fills the format fields of its queue entry.
#pragma once
#include <cstdint>

#include "app/core/queue.h"

// Result of an inspection; the enqueue step shows the text of every code but InspectAccepted.
enum InspectResult : int {
  InspectAccepted = 0,     // the entry's format fields are filled
  InspectCannotOpen = 1,   // missing, unreadable, or not a regular file
  InspectUnknownType = 2,  // fewer than 4 bytes, or neither an MPEG audio header nor RIFF WAVE
  InspectBrokenWave = 3,   // RIFF WAVE without a readable "fmt " of 16+ bytes or without "data"
  InspectNotPcm = 4,       // format tag other than 1 (PCM), e.g. 0xFFFE (extensible) or 3 (float)
  InspectNotLayer3 = 5,    // an MPEG audio header of another layer than III
};

// The message for a result code ("" for InspectAccepted and unknown codes).
const char* InspectResultText(InspectResult result);

// Inspects the file named by JobQueue[index].Path (the entry being built; it need not be
// counted in QueueCount yet). FileSize (the low 32 bits of the size) is written whenever the
// file could be opened; the other fields only on InspectAccepted. An index outside the array
// gives InspectCannotOpen and touches nothing.
//   MPEG audio (frame sync at byte 0): IsWave 0, Layer 2, ChannelMode, Bitrate (kbit/s; 0 for
//     free format and the forbidden index), SampleRate (Hz; 0 for the reserved index).
//   WAVE: IsWave 1, SampleRate, Channels, BitsPerSample, Duration (see WaveDuration).
InspectResult InspectSource(int index);
// The same for an entry outside the queue.
InspectResult InspectSourceEntry(QueueEntry& entry);

// Playing time in whole seconds of dataSize bytes of PCM: dataSize divided by (rate x channels
// x whole bytes per sample), computed in 64 bits so that no product wraps around. A divisor of
// 0 (rate or channels 0, fewer than 8 bits per sample) gives 0: the length is unknown.
uint32_t WaveDuration(uint32_t dataSize, uint32_t samplesPerSec, uint16_t channels, uint16_t bitsPerSample);
