// The Layer III decoder's public surface: table set-up, the job thread's entry, its progress
// and its exit codes.
#pragma once
#include <atomic>
#include <cstdint>
#include <cstdio>

// Exit codes of a decoder job.
enum DecoderExitCode : uint32_t {
  DecoderOk = 0,            // the stream was decoded to its end (or stopped on request)
  DecoderInputFailed = 1,   // the source cannot be opened
  DecoderOutputFailed = 2,  // the output cannot be created
  DecoderWriteFailed = 3,   // a write to the output failed (for instance a full disk)
  DecoderNoAudio = 4,       // the stream yielded no PCM at all
  DecoderSizeLimit = 5,     // the PCM reached the WAV size limit; the file was closed there
  // A stop request ended the decode (DecodeStream only): the job discards its output and ends
  // with DecoderOk, as a job ended by force does.
  DecoderStopped = 6,
  // 7 is not used: an output no longer goes to the trash (it was "kept earlier file").
  DecoderOutputExists = 8,  // a file has the output's name and the replace rule keeps it (-n)
};
// The text shown for an exit code.
const char* DecoderExitText(uint32_t code);

// The paths of a decoder job, NUL-terminated, in fixed buffers of this size (the zero included):
// written before the job's thread starts, read once by the thread when it opens its files.
constexpr int DecoderPathSize = 400;
extern char DecoderInput[DecoderPathSize];
extern char DecoderOutput[DecoderPathSize];

// One-time set-up of the constant tables; runs once before the first decode.
void InitDecoderTables();

// Entry of the decoder job thread: decodes DecoderInput into DecoderOutput
// and returns the exit code. The output takes its name only when its WAV file is complete (at
// the end of the stream or at the size limit); a failure or a stop request leaves no output and
// an existing file of that name as it was. A source that is not a regular file is refused, and so
// is an output that is the source itself.
uint32_t DecoderThreadMain();

// Decodes an opened input stream into an opened output stream (the body of a job, used by the
// thread entry and by the fuzz target). Does not close the streams.
uint32_t DecodeStream(FILE* input, FILE* output);

// Test seam: the most PCM bytes one output takes (default, and for 0: what a RIFF header can
// describe). A decode that reaches it closes the file there and ends with DecoderSizeLimit.
void SetWaveDataLimit(uint64_t bytes);

// What a decode met besides audio: written by the decoding thread, read once it has ended (the
// command-line decoder names it on standard error). A damaged file still decodes with DecoderOk.
constexpr int DecodeReportRuns = 8;  // places of skipped bytes kept with their offsets
struct DecodeReport {
  bool Located;           // a Layer III stream was found where the audio starts (as inspection finds it)
  uint64_t SkippedBytes;  // bytes where a frame of the stream should have stood, skipped
  uint32_t SkippedRuns;   // the places where they stood
  uint64_t RunOffset[DecodeReportRuns];  // the first of those places: where they begin
  uint64_t RunBytes[DecodeReportRuns];   // and how many bytes each skipped
  uint32_t SilencedFrames;  // frames whose main data began in skipped bytes: decoded as silence
  uint32_t CorruptFrames;   // frames with a Huffman code word that matched no table entry
  uint64_t CutOffset;       // a last frame that the end of the file cut short: where it began
  uint32_t CutBytes;        // and the bytes of it that were there (0: none); it is not decoded
};
extern DecodeReport LastDecodeReport;

// Byte offset in the input just after the header (and CRC word) of the frame being decoded.
extern std::atomic<uint32_t> InputPosition;
