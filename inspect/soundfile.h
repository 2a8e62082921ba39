// The one reader of the sources that are encoded (every source but MP3): WAV (PCM, extensible,
// float), RF64, Wave64, AIFF and AIFF-C, FLAC, Ogg Vorbis and Opus, read through libsndfile.
// Inspection (which files the window queues) and tompg (what it encodes) both open their sources
// here, so the two always agree. No Qt; nothing is allocated while reading.
#pragma once
#include <cstdint>
#include <string>

struct sf_private_tag;  // libsndfile's SNDFILE

// What opening a source gives; the inspection and tompg each turn it into their own message.
enum SoundOpenResult {
  SoundOpened = 0,   // the source can be read
  SoundReadError,    // the file could not be read (an I/O error)
  SoundUnknownType,  // no format of the list above (MP3 streams are not taken here)
  SoundBrokenWave,   // a RIFF/RF64/Wave64 WAVE file the library finds broken
  SoundNotPcm,       // a known container with a codec other than PCM, float, FLAC, Vorbis or Opus
};

// How the reading of a source ended, once SoundRead has given 0.
enum SoundEnd {
  SoundComplete = 0,  // every frame the file announces was read
  SoundEndedEarly,    // the file ends before the length it announces (a cut-off download)
  SoundDamaged,       // the library stopped before the end of the file: damaged data
};

// The file as the library sees it: read with pread from a base offset (where a WAV whose sizes
// were left 0 keeps its samples), so the position reached is known.
struct SoundIo {
  int Fd = -1;
  uint64_t Base = 0;      // file offset that the library sees as offset 0
  uint64_t Size = 0;      // bytes from Base to the end of the file
  uint64_t Position = 0;  // the library's position, from Base
  bool Failed = false;    // a read of the file failed
};

struct SoundSource {
  sf_private_tag* File = nullptr;
  SoundIo Io;
  int Format = 0;       // the library's format code: major type | subtype
  int Channels = 0;     // as in the file (mixed down by tompg when more than two)
  int SampleRate = 0;   // Hz
  int Bits = 0;         // per sample: a WAVE file's "fmt " says; else the subtype's (Vorbis, Opus: 0)
  uint64_t Frames = 0;  // sample frames the file announces; 0 when it does not say
  bool Empty = false;  // the file says it holds no samples
  uint64_t FramesRead = 0;
  bool ReadError = false;  // the library reported an error while reading
  int ChannelPosition[8]{};  // where each of the first eight channels sounds (SoundChannel), for the mix-down
};

// The most channels a source may have.
constexpr int SoundMaxChannels = 64;

// Where a channel sounds, for the mix-down to two channels.
enum SoundChannel {
  SoundLeft,
  SoundRight,
  SoundCenter,
  SoundLfe,
  SoundLeftSurround,
  SoundRightSurround,
  SoundBackCenter,
  SoundUnplaced
};

// Opens the regular file on fd (which stays open and is not moved) as a source.
SoundOpenResult SoundOpen(int fd, SoundSource& source);
// Reads up to maxFrames frames, interleaved as in the file, full scale 1.0; float samples beyond
// full scale are clipped, never wrapped. Returns the frames read, 0 at the end.
long SoundRead(SoundSource& source, float* samples, long maxFrames);
// How the reading ended; call after SoundRead has returned 0.
SoundEnd SoundEndState(const SoundSource& source);
// Bytes of the file the reader has come to: the progress of an encode.
uint64_t SoundBytesRead(const SoundSource& source);
void SoundClose(SoundSource& source);

// Mixes frames of `channels` channels (more than two) down to stereo with the ITU-R BS.775
// coefficients: front left and right 1, centre and surrounds 0.7071 (-3 dB) to their side, back
// centre 0.5 to each side, LFE left out; the sums are scaled so that no side exceeds full scale.
void SoundMixToStereo(const SoundSource& source, const float* in, long frames, float* out);

// The facts the information line shows, e.g. "96000hz; 24bit; stereo", "44100hz; float; stereo",
// "FLAC 44100hz; 16bit; stereo", "Opus 48000hz; 6ch to stereo".
std::string SoundFactsText(int format, uint32_t sampleRate, int channels, int bits);
// The container and codec in words, for messages: "WAV", "FLAC", "Ogg Vorbis", ...
const char* SoundFormatName(int format);
