// Test support for tompg: the program run on a pseudo-terminal and its screen rendered at 80 x 2,
// decoding of the outputs, tone measurements and the frames of its streams. WAV files and
// scratch directories come from tests/support.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/frames.h"
#include "tests/support/soundfiles.h"
#include "tests/support/wave.h"

struct RunOptions {
  std::string screenBefore;      // written to the screen model before the run (an earlier job)
  long fileSizeLimit = 0;        // RLIMIT_FSIZE for the child, bytes (0: none)
  bool stopAndContinue = false;  // SIGSTOP once progress shows, then SIGCONT
  int endSignal = 0;             // sent once progress shows (0: none)
};

struct RunResult {
  bool exited = false;       // ended normally (not by a signal)
  int signal = 0;            // the signal that ended it
  int status = -1;           // exit status
  std::string raw;           // every byte written to the terminal
  std::string rows[2];       // the 80 x 2 screen afterwards, 80 characters each
  bool stoppedSeen = false;  // the stop took effect before the continue
};

// Runs tompg with these arguments (after the program name) on a pseudo-terminal of 80 x 2.
RunResult RunTompg(const std::vector<std::string>& args, const RunOptions& options = {});

// The progress numbers of a screen row " frames %u bytes in %u bytes out %u"; false if the
// row does not hold exactly that from column 1.
bool ParseProgressRow(const std::string& row, uint32_t& frames, uint32_t& bytesIn, uint32_t& bytesOut);

// Decodes an MPEG audio file to 16-bit PCM with the reference decoder (mpg123, which plays Layer
// III gapless: the information frame's delay and padding are removed). Empty Pcm (rate 0) on
// failure.
Pcm Decode(const std::string& mpegPath, int layer, const std::string& scratchWav);
// 32-bit float samples of an MP3 file (mpg123, gapless) or of a sound file (sox), through the
// scratch file raw; of the rate and channels given.
Pcm ReadAsFloat(const std::string& path, int rate, int channels, const std::string& raw);

// A least-squares fit of sinusoids at known frequencies to one channel over frames [from, to):
// their amplitudes, and what is left over (noise, distortion, anything else).
struct ToneFit {
  std::vector<double> amplitudes;
  double residualRms = 0;
  double totalRms = 0;
};
ToneFit FitTones(const Pcm& pcm, int channel, const std::vector<double>& freqs, long from, long to);

// Signal-to-noise ratio in dB of decoded against the source after the best alignment (a delay
// of 0..maxLag frames of decoded behind source), both at the same rate; channel by channel.
double AlignedSnr(const Pcm& source, const Pcm& decoded, int channel, long maxLag);

// The fields of an MPEG audio frame header.
struct FrameHeader {
  bool valid = false;
  int id = -1;  // 1 MPEG-1, 0 MPEG-2 lower sampling frequencies
  int layer = 0;
  int bitrateKbps = 0;
  int sampleRate = 0;
  int mode = -1;
  int length = 0;  // bytes of the whole frame
};
FrameHeader ReadFirstHeader(const std::string& path);
// Every frame of a stream, walked from byte 0 by the frame lengths; endsAtEof tells whether the
// last frame ends exactly at the end of the file (no tag, no junk after it).
std::vector<FrameHeader> ReadFrames(const std::string& path, bool& endsAtEof);
