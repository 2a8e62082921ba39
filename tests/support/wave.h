// Test helpers for WAV files: little-endian byte builders, a generator of tone files with the
// layout quirks a reader must cope with, and a reader of 16-bit PCM files.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Little-endian bytes of a value, for building RIFF chunks by hand.
std::string Le16(uint16_t v);
std::string Le32(uint32_t v);

// A WAV file to generate: tones per channel, and the layout quirks a reader must cope with.
struct WavSignal {
  int rate = 44100;
  int channels = 2;
  int bits = 16;
  double seconds = 1.0;
  std::vector<double> leftTones{440.0, 3000.0};    // Hz, each at amplitude `amplitude`
  std::vector<double> rightTones{1000.0, 5000.0};  // unused for one channel
  double amplitude = 0.25;                         // of full scale, per tone
  bool extensible = false;                         // WAVE_FORMAT_EXTENSIBLE with the PCM sub-format
  bool extensibleFloat = false;                    // ... with the IEEE float sub-format instead
  int formatTag = 1;                               // written in a plain format chunk
  bool fmtOf18 = false;                            // format chunk of 18 bytes (cbSize = 0)
  bool chunksBeforeFmt = false;                    // an odd-sized LIST chunk (padded) before "fmt "
  bool dataBeforeFmt = false;                      // "data" first, "fmt " after it
  uint32_t dataSizeExtra = 0;                      // added to the data size in the header (overrun)
  int tailBytes = 0;                               // bytes after the last whole sample frame, inside the data
};

struct WavFile {
  uint32_t dataSize = 0;  // bytes of sample data actually in the file
  long frames = 0;
};

// Writes the file; dataSize 0 and frames 0 when it cannot be written.
WavFile WriteWav(const std::string& path, const WavSignal& signalShape);

// Decoded or generated PCM, interleaved, full scale 1.0.
struct Pcm {
  int rate = 0;
  int channels = 0;
  long frames = 0;
  std::vector<float> samples;
};

// Reads a 16-bit PCM WAV file, walking its chunks up to "data" ("fmt " must come first, as every
// decoder under test writes it); false when it is not such a file.
bool ReadWav16(const std::string& path, Pcm& pcm);
// Decodes an MPEG audio file with mpg123 into wavPath and reads that back; false when either fails.
bool DecodeFileWithMpg123(const std::string& mpegPath, const std::string& wavPath, Pcm& pcm);
