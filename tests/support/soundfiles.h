// Sound files in every format the encoder takes, made by the tools people make them with (sox,
// ffmpeg, flac, oggenc, opusenc): two seconds of 440 Hz on the left and 1000 Hz on the right; the
// six-channel rows put 440 Hz in front left, centre and left surround, 1000 Hz in front right and
// right surround, and 60 Hz in the LFE channel, which the mix-down to stereo leaves out.
#pragma once
#include <string>
#include <vector>

#include "tests/support/files.h"

struct ToolMadeSource {
  const char* name;     // the row's name
  const char* file;     // the file's name (its extension is the format's)
  const char* command;  // a shell command; OUT is the file, IN a 16-bit 44.1 kHz stereo WAV of the tones
  const char* facts;    // the information line's facts
  int rate;             // what the file says
  int channels;
  long frames;
  bool lossy;  // Vorbis, Opus: the level and the tones are there, the samples are not exact
};

extern const std::vector<ToolMadeSource> ToolMadeSources;

// Makes the row's file in dir and returns its path; fails the test and returns "" when the tool
// fails.
std::string MakeToolSource(const ScratchDir& dir, const ToolMadeSource& row);
