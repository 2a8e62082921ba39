// The encoder's command line and the launch of the encoder process.
#pragma once
#include <cstdint>
#include <string>

#include "model/queue.h"

// The command line is built in a buffer of this size, the terminating zero included.
constexpr int EncoderCommandLineSize = 500;

// Results of building the command line and of launching the encoder.
enum EncoderLaunchResult {
  EncoderLaunched = 0,     // the encoder runs; Converter.EncoderProcess is filled
  EncoderBadChoice,        // layer, channel mode, bitrate index or priority position out of range
  EncoderLineTooLong,      // the command line needs 500 characters or more; it is never cut
  EncoderLineAmbiguous,    // a path cannot be written in the line so that it reads back unchanged
  EncoderNotStarted,       // the program could not be run (for instance no tompg in TompgDir)
  EncoderProgramUnusable,  // the encoder's directory holds a double quote, which its path cannot carry
};
// The text for a launch result (for diagnostics; the user sees the scheduler's box).
const char* EncoderLaunchText(EncoderLaunchResult result);

// Builds "<tompgDir>tompg \"<source>\" \"<output>\" -L<digit> -B<kbit/s per channel> -M<mode>
// -P2 -S0 -N4" into line; the per-channel bitrate is the total bitrate, halved except for Mono (3).
// Every name passes unchanged: the paths are written with the escapes that the splitting rules
// read back (a double quote inside as \", backslashes doubled before a quote), the program path
// is quoted when it holds a blank or a tab, and a line of names that need none of that is exactly
// as it always was. The line is refused (and line left empty) when it would not fit, when
// tompgDir holds a double quote (EncoderProgramUnusable: the program path has no escapes), or,
// as a last guard, when splitting it would not give back exactly the intended arguments
// (EncoderLineAmbiguous).
EncoderLaunchResult BuildEncoderCommandLine(const char* tompgDir, const char* source, const char* output,
                                            int32_t layer, int32_t channelMode, int32_t bitrate,
                                            char (&line)[EncoderCommandLineSize]);

// True when the encoder's directory can open the command line: it holds no double quote (the
// program path is the line's first token, which quotes group and nothing escapes).
bool EncoderDirectoryUsable(const char* tompgDir);

// Whether a job of these paths can be started with the command line of the given encoder
// directory: EncoderLaunched, EncoderLineTooLong or EncoderLineAmbiguous. An unusable directory is
// judged by its length only: that fault is the directory's, not the paths'.
EncoderLaunchResult CheckEncoderPaths(const char* tompgDir, const std::string& source, const std::string& output);

// Starts the encoder for a WAV entry: the command line from AppSettings.TompgDir and the entry,
// at the priority of the PriorityTB position (0 Low, 1 Normal, 2 High). The console is brought
// up to date and cleared first, so that nothing of an earlier job is read as this job's progress.
EncoderLaunchResult LaunchEncoder(const QueueEntry& entry, const std::string& outputPath,
                                  int priorityPosition);
