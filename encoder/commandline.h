// The encoder's command line and the launch of the encoder process.
#pragma once
#include <cstdint>
#include <string>

#include "model/queue.h"

// The command line is built in a buffer of this size, the terminating zero included.
constexpr int EncoderCommandLineSize = 500;

// Results of building the command line and of launching the encoder.
enum EncoderLaunchResult {
  EncoderLaunched = 0,   // the encoder runs; Converter.EncoderProcess is filled
  EncoderBadChoice,      // layer, channel mode, bitrate index or priority position out of range
  EncoderLineTooLong,    // the command line needs 500 characters or more; it is never cut
  EncoderLineAmbiguous,  // a path cannot be written in the line so that it reads back unchanged
  EncoderNotStarted,     // the program could not be run (for instance no tompg in TompgDir)
  EncoderProgramUnusable,  // the encoder's directory cannot be written unquoted (a blank, a quote)
};
// The text for a launch result (for diagnostics; the user sees the scheduler's box).
const char* EncoderLaunchText(EncoderLaunchResult result);

// Builds "<tompgDir>tompg \"<source>\" \"<output>\" -L<digit> -B<kbit/s per channel> -M<mode>
// -P2 -S0 -N4" into line. The program path is not quoted; the per-channel bitrate is the total
// bitrate, halved except for Mono (3). The line is refused (and line left empty) when it would not
// fit, or when splitting it would not give back exactly the intended arguments: the program path
// is not quoted, so a blank, a tab or a double quote in tompgDir gives EncoderProgramUnusable; a
// double quote in a path, or backslashes just before a closing quote, give EncoderLineAmbiguous.
EncoderLaunchResult BuildEncoderCommandLine(const char* tompgDir, const char* source, const char* output,
                                            int32_t layer, int32_t channelMode, int32_t bitrate,
                                            char (&line)[EncoderCommandLineSize]);

// True when the encoder's directory can open the command line: it holds no blank, tab or
// double quote (the program path is the line's first token, written without quotes).
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
