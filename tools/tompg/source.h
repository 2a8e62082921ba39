// tompg's source: opened and read through the reader that inspection uses too
// (inspect/soundfile.h), and turned into the channels that are coded.
#pragma once

#include <cstdint>

#include "inspect/soundfile.h"
#include "tools/tompg/console.h"

// Frames of the source read per step, and the samples of room that a step's reading needs.
constexpr long SourceStepFrames = 4096;
constexpr long SourceStepSamples = SourceStepFrames * 8;

// Opens the source on fd (a file opened for reading). False, with the error to show and its
// detail, when it is no source that can be encoded.
bool OpenSource(int fd, SoundSource& source, TompgError& error, const char*& detail);

// Reads the next step of the source into raw (SourceStepSamples floats) and returns the frames
// read (0 at the end), with *coded pointing at them as codedChannels channels: a mono source
// copied into both channels, a stereo source mixed to mono as (left + right) / 2, more channels
// mixed down to stereo (SoundMixToStereo) and from there to mono when one is coded. work has room
// for SourceStepFrames * 2 floats.
long ReadCodedFrames(SoundSource& source, int codedChannels, float* raw, float* work, const float** coded);

// After the last step: what to tell of the source's end. Null when it was read completely;
// else the detail of a damaged source (an error) or of one that ended early (a notice), in text
// (room for 64 bytes).
const char* SourceEndDetail(const SoundSource& source, bool& damaged, char* text);
