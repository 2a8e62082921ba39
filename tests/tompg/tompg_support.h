// Test support for tompg: WAV files made to order, the program run on a pseudo-terminal and its
// screen rendered at 80 x 2, decoding of the outputs, and tone measurements.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A WAV file to generate: tones per channel, and the layout quirks a reader must cope with.
struct WavSignal {
    int rate = 44100;
    int channels = 2;
    int bits = 16;
    double seconds = 1.0;
    std::vector<double> leftTones {440.0, 3000.0};   // Hz, each at amplitude `amplitude`
    std::vector<double> rightTones {1000.0, 5000.0}; // unused for one channel
    double amplitude = 0.25;                          // of full scale, per tone
    bool extensible = false;       // WAVE_FORMAT_EXTENSIBLE with the PCM sub-format
    bool extensibleFloat = false;  // ... with the IEEE float sub-format instead
    int formatTag = 1;             // written in a plain format chunk
    bool fmtOf18 = false;          // format chunk of 18 bytes (cbSize = 0)
    bool chunksBeforeFmt = false;  // an odd-sized LIST chunk (padded) before "fmt "
    bool dataBeforeFmt = false;    // "data" first, "fmt " after it
    uint32_t dataSizeExtra = 0;    // added to the data size in the header (overrun)
    int tailBytes = 0;             // bytes after the last whole sample frame, inside the data
};

struct WavFile {
    uint32_t dataSize = 0;   // bytes of sample data actually in the file
    long frames = 0;
};

WavFile WriteWav(const std::string& path, const WavSignal& signalShape);

// Temporary directory for one test, removed with its contents by the destructor.
struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    std::string File(const std::string& name) const { return path + "/" + name; }
};

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

struct Pcm {
    int rate = 0;
    int channels = 0;
    long frames = 0;
    std::vector<float> samples;   // interleaved, full scale 1.0
};

// Decodes an MPEG audio file to PCM with the reference decoder (mpg123), or with our own
// decoder for Layer III when it is built. Empty Pcm (rate 0) on failure.
Pcm Decode(const std::string& mpegPath, int layer, const std::string& scratchWav);
bool ReadWav16(const std::string& path, Pcm& pcm);

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
    int id = -1;          // 1 MPEG-1, 0 MPEG-2 lower sampling frequencies
    int layer = 0;
    int bitrateKbps = 0;
    int sampleRate = 0;
    int mode = -1;
    int length = 0;       // bytes of the whole frame
};
FrameHeader ReadFirstHeader(const std::string& path);
// Every frame of a stream, walked from byte 0 by the frame lengths; endsAtEof tells whether the
// last frame ends exactly at the end of the file (no tag, no junk after it).
std::vector<FrameHeader> ReadFrames(const std::string& path, bool& endsAtEof);

std::vector<uint8_t> ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
