// Source file inspection: decides whether a file is an MPEG audio Layer III stream (a decoder
// job) or a PCM WAVE file (an encoder job) and fills the format fields of its queue entry.
#pragma once
#include <cstdint>
#include <string>

// What an inspection learns of a source: the format fields of its queue entry.
struct SourceFileInfo {
  uint32_t FileSize = 0;       // bytes (low 32 bits)
  int32_t Layer = 0;           // MP3: 2 (Layer III); WAV: the chosen output layer 0..2 (set by the queue)
  int32_t ChannelMode = 0;     // 0 Stereo, 1 Joint stereo, 2 Dual, 3 Mono
  int32_t Bitrate = 0;         // MP3: kbit/s of the first frame; WAV: index into BitrateTable (the queue's)
  uint32_t Duration = 0;       // playing time in whole seconds
  uint32_t SampleRate = 0;     // Hz
  uint16_t Channels = 0;       // WAV only
  uint16_t BitsPerSample = 0;  // WAV only
  int32_t IsWave = 0;          // 1 WAV (an encoder job), 0 MP3 (a decoder job)
  // MP3: where the audio frames lie, between the tags at the start and those at the end (an
  // encoder information frame counts as audio here); the progress of a decode runs over them.
  uint64_t AudioStart = 0;
  uint64_t AudioEnd = 0;
};

// Result of an inspection; the enqueue step shows the text of every code but InspectAccepted.
enum InspectResult : int {
  InspectAccepted = 0,     // the entry's format fields are filled
  InspectCannotOpen = 1,   // missing, unreadable, or not a regular file
  InspectUnknownType = 2,  // neither a Layer III stream (after any ID3v2 tags, a frame confirmed by
                           // the next one) nor RIFF WAVE
  InspectBrokenWave = 3,   // RIFF WAVE without a readable "fmt " of 16+ bytes or without "data"
  InspectNotPcm = 4,       // format tag other than 1 (PCM), e.g. 0xFFFE (extensible) or 3 (float)
  InspectNotLayer3 = 5,    // an MPEG audio header of another layer than III
};

// The message for a result code ("" for InspectAccepted and unknown codes).
const char* InspectResultText(InspectResult result);

// Inspects the file at `path` into `info`. FileSize (the low 32 bits of the size) is written
// whenever the file could be opened; the other fields only on InspectAccepted.
//   MPEG audio (a frame after any ID3v2 tags, see LocateStream): IsWave 0, Layer 2, and the first
//     frame's ChannelMode, Bitrate (kbit/s) and SampleRate (Hz); Duration, AudioStart, AudioEnd.
//   WAVE: IsWave 1, SampleRate, Channels, BitsPerSample, Duration (see WaveDuration).
InspectResult InspectSourceFile(const std::string& path, SourceFileInfo& info);

// Playing time in whole seconds of dataSize bytes of PCM: dataSize divided by (rate x channels
// x whole bytes per sample), computed in 64 bits so that no product wraps around. A divisor of
// 0 (rate or channels 0, fewer than 8 bits per sample) gives 0: the length is unknown.
uint32_t WaveDuration(uint32_t dataSize, uint32_t samplesPerSec, uint16_t channels, uint16_t bitsPerSample);
