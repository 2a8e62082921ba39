// Source file inspection: decides whether a file is an MPEG audio Layer III stream (a decoder
// job) or a sound file to encode (an encoder job: WAV, RF64, Wave64, AIFF, FLAC, Ogg Vorbis or
// Opus, read through inspect/soundfile.h) and fills the format fields of its queue entry.
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
  int32_t IsWave = 0;  // 1 WAV or another sound file to encode (an encoder job), 0 MP3 (a decoder job)
  // MP3: where the audio frames lie, between the tags at the start and those at the end (an
  // encoder information frame counts as audio here); the progress of a decode runs over them.
  uint64_t AudioStart = 0;
  uint64_t AudioEnd = 0;
  // Sources to encode (IsWave 1); 0 for MP3:
  int32_t SoundFormat = 0;   // the container and codec: libsndfile's format code (major type | subtype)
  uint64_t SoundFrames = 0;  // sample frames per channel the file announces; 0 when it does not say
};

// Result of an inspection; the enqueue step shows the text of every code but InspectAccepted.
enum InspectResult : int {
  InspectAccepted = 0,     // the entry's format fields are filled
  InspectCannotOpen = 1,   // missing, unreadable, or not a regular file
  InspectUnknownType = 2,  // neither a Layer III stream (after any ID3v2 tags, a frame confirmed by
                           // the next one) nor a sound file we encode
  InspectBrokenWave = 3,   // a RIFF, RF64 or Wave64 WAVE file that the sound file library finds broken
  InspectNotPcm = 4,       // a codec the library cannot read or we do not take (MP3 in WAV, ADPCM, A-law)
  InspectNotLayer3 = 5,    // an MPEG audio header of another layer than III
};

// The message for a result code ("" for InspectAccepted and unknown codes).
const char* InspectResultText(InspectResult result);

// Inspects the file at `path` into `info`. FileSize (the low 32 bits of the size) is written
// whenever the file could be opened; the other fields only on InspectAccepted.
//   MPEG audio (a frame after any ID3v2 tags, see LocateStream): IsWave 0, Layer 2, and the first
//     frame's ChannelMode, Bitrate (kbit/s) and SampleRate (Hz); Duration, AudioStart, AudioEnd.
//   Other sound files: IsWave 1, SampleRate, Channels (as in the file), BitsPerSample (of the
//     "fmt " chunk for WAVE; 0 for Vorbis and Opus), Duration (whole seconds of the frames the
//     file announces; 0 when it does not say), SoundFormat, SoundFrames.
InspectResult InspectSourceFile(const std::string& path, SourceFileInfo& info);
