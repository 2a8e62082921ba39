// Sound files in every format the encoder takes, made by the tools people make them with (sox,
// ffmpeg, flac, oggenc, opusenc): two seconds of 440 Hz on the left and 1000 Hz on the right. The
// six-channel rows (WAVE order) hold 440 Hz in front left, centre and left surround, 1000 Hz in
// front right and right surround, and 60 Hz in the LFE channel, which a mix-down leaves out.
#pragma once
#include <string>
#include <vector>

#include "tests/support/files.h"

struct ToolMadeSource {
  const char* name;     // the row's name
  const char* file;     // the file it makes
  const char* command;  // shell, with t and six (sox tones: t OPTIONS FILE), ff (ffmpeg), in.wav, six.wav
  const char* facts;    // the information line's facts
  int rate, channels;   // as the file says; it holds 2 * rate frames
};
extern const std::vector<ToolMadeSource> ToolMadeSources;

// Makes the row's file in dir and returns its path; a failing tool fails the test.
std::string MakeToolSource(const ScratchDir& dir, const ToolMadeSource& row);
