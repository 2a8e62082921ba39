#include "inspect/soundfile.h"

#include <sndfile.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "inspect/riff.h"

namespace {

// ---- the file as the library reads it ------------------------------------------------------

sf_count_t IoLength(void* user) { return static_cast<sf_count_t>(static_cast<SoundIo*>(user)->Size); }

sf_count_t IoSeek(sf_count_t offset, int whence, void* user) {
  SoundIo& io = *static_cast<SoundIo*>(user);
  const sf_count_t base = whence == SEEK_SET   ? 0
                          : whence == SEEK_CUR ? static_cast<sf_count_t>(io.Position)
                                               : static_cast<sf_count_t>(io.Size);
  // The library may seek past the end (and then reads nothing), never before the start.
  if (offset < -base) return -1;
  io.Position = static_cast<uint64_t>(base + offset);
  return static_cast<sf_count_t>(io.Position);
}

sf_count_t IoRead(void* data, sf_count_t count, void* user) {
  SoundIo& io = *static_cast<SoundIo*>(user);
  if (count <= 0 || io.Position >= io.Size) return 0;
  uint64_t want = static_cast<uint64_t>(count);
  if (want > io.Size - io.Position) want = io.Size - io.Position;
  auto* out = static_cast<unsigned char*>(data);
  uint64_t got = 0;
  while (got < want) {
    const ssize_t n = pread(io.Fd, out + got, want - got, static_cast<off_t>(io.Base + io.Position + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) io.Failed = true;
    if (n <= 0) break;  // the file shrank under us: what is there is read
    got += static_cast<uint64_t>(n);
  }
  io.Position += got;
  return static_cast<sf_count_t>(got);
}

sf_count_t IoWrite(const void*, sf_count_t, void*) { return 0; }  // sources are only read
sf_count_t IoTell(void* user) { return static_cast<sf_count_t>(static_cast<SoundIo*>(user)->Position); }

SF_VIRTUAL_IO VirtualIo = {IoLength, IoSeek, IoRead, IoWrite, IoTell};

SNDFILE* OpenIo(SoundIo& io, SF_INFO& info) { return sf_open_virtual(&VirtualIo, SFM_READ, &info, &io); }

// ---- what is accepted ----------------------------------------------------------------------

int Major(int format) { return format & SF_FORMAT_TYPEMASK; }
int Subtype(int format) { return format & SF_FORMAT_SUBMASK; }

bool IsWaveFamily(int format) {
  const int major = Major(format);
  return major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_RF64 ||
         major == SF_FORMAT_W64;
}

bool IsPcmOrFloat(int subtype) {
  switch (subtype) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
      return true;
  }
  return false;
}

// SoundOpened, or why a format the library opened is refused.
SoundOpenResult Judge(int format) {
  const int subtype = Subtype(format);
  switch (Major(format)) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
    case SF_FORMAT_RF64:
    case SF_FORMAT_W64:
    case SF_FORMAT_AIFF:
    case SF_FORMAT_FLAC:
      return IsPcmOrFloat(subtype) ? SoundOpened : SoundNotPcm;
    case SF_FORMAT_OGG:
      return subtype == SF_FORMAT_VORBIS || subtype == SF_FORMAT_OPUS ? SoundOpened : SoundNotPcm;
  }
  // MP3 streams are the decoder's, and every other format the library knows is not one of ours.
  return SoundUnknownType;
}

// Sample rates outside this range are no audio that can be coded sensibly.
constexpr int MinRate = 1000;
constexpr int MaxRate = 768000;

// ---- RIFF facts the library does not give ------------------------------------------------

uint32_t Le16(const unsigned char* p) { return p[0] | p[1] << 8; }

// The first bytes of the "fmt " chunk of a RIFF or RF64 WAVE file (zeros past its end); false
// when there is none of 16 bytes or more.
template <size_t N>
bool ReadWaveFormat(int fd, uint64_t size, unsigned char (&record)[N]) {
  const RiffFile file{fd, size};
  RiffChunk root;
  if (!RiffDescendRoot(file, root) || (root.Id != FourCC("RIFF") && root.Id != FourCC("RF64")) ||
      root.FormType != FourCC("WAVE"))
    return false;
  // RF64 states 0xFFFFFFFF as its size: the walk is bounded by the file.
  if (root.Id == FourCC("RF64")) root.Size = 0xFFFFFFFF;
  RiffChunk fmt;
  std::memset(record, 0, N);
  return RiffFindChunk(file, root, FourCC("fmt "), fmt) && fmt.Size >= 16 &&
         RiffRead(file, fmt.DataOffset, record, fmt.Size < N ? fmt.Size : N);
}

// The containers we take, told by their first bytes. Nothing else reaches the library: it would
// hand an MPEG stream (or MP3 in a WAV file) to a decoder that writes its warnings to standard
// error, which is the console that the window reads.
enum Container { NoContainer, RiffWave, Wave64, Aiff, Flac, Ogg };

Container ContainerOf(int fd, uint64_t size) {
  unsigned char head[16] = {};
  const RiffFile file{fd, size};
  if (!RiffRead(file, 0, head, size < sizeof head ? static_cast<size_t>(size) : sizeof head))
    return NoContainer;
  // Wave64 begins with the GUID of "riff".
  static const unsigned char W64Riff[16] = {'r',  'i',  'f',  'f',  0x2E, 0x91, 0xCF, 0x11,
                                            0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
  if (size >= 16 && std::memcmp(head, W64Riff, 16) == 0) return Wave64;
  if (size >= 12 && (std::memcmp(head, "RIFF", 4) == 0 || std::memcmp(head, "RF64", 4) == 0) &&
      std::memcmp(head + 8, "WAVE", 4) == 0)
    return RiffWave;
  if (size >= 12 && std::memcmp(head, "FORM", 4) == 0 &&
      (std::memcmp(head + 8, "AIFF", 4) == 0 || std::memcmp(head + 8, "AIFC", 4) == 0))
    return Aiff;
  if (size >= 4 && std::memcmp(head, "fLaC", 4) == 0) return Flac;
  if (size >= 4 && std::memcmp(head, "OggS", 4) == 0) return Ogg;
  return NoContainer;
}

// Whether a chunk of a RIFF WAVE file other than "data", or a chunk inside a "LIST" chunk, states a
// size that runs from below 4 GiB to past it. No such chunk is real, and the library, which
// adds these sizes in 32 bits, wraps around to an earlier chunk and walks in a circle for ever.
bool ChunkRunsPast4GiB(const RiffFile& file, uint64_t pos, int depth = 0) {
  for (int walked = 0; walked < RiffMaxChunksSearched && pos + 8 <= file.FileSize; ++walked) {
    unsigned char header[8];
    if (!RiffRead(file, pos, header, sizeof header)) return false;
    const uint64_t chunk = Le16(header + 4) | uint64_t{Le16(header + 6)} << 16;
    const uint64_t end = pos + 8 + chunk + (chunk & 1);
    if (std::memcmp(header, "data", 4) != 0 && pos <= 0xFFFFFFFF && end > 0xFFFFFFFF) return true;
    // A list's sub-chunks are read as far as the file goes, whatever size the list states, and
    // from just past its size when it names no list type.
    if (depth == 0 && std::memcmp(header, "LIST", 4) == 0 &&
        (ChunkRunsPast4GiB(file, pos + 12, 1) || ChunkRunsPast4GiB(file, pos + 8, 1)))
      return true;
    pos = end;
  }
  return false;
}

int SubtypeBits(int subtype) {
  switch (subtype) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
      return 8;
    case SF_FORMAT_PCM_16:
      return 16;
    case SF_FORMAT_PCM_24:
      return 24;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
      return 32;
    case SF_FORMAT_DOUBLE:
      return 64;
  }
  return 0;
}

// ---- channel positions ---------------------------------------------------------------------

SoundChannel FromLibrary(int position) {
  switch (position) {
    case SF_CHANNEL_MAP_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER:
      return SoundLeft;
    case SF_CHANNEL_MAP_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER:
      return SoundRight;
    case SF_CHANNEL_MAP_MONO:
    case SF_CHANNEL_MAP_CENTER:
    case SF_CHANNEL_MAP_FRONT_CENTER:
      return SoundCenter;
    case SF_CHANNEL_MAP_LFE:
      return SoundLfe;
    case SF_CHANNEL_MAP_REAR_LEFT:
    case SF_CHANNEL_MAP_SIDE_LEFT:
      return SoundLeftSurround;
    case SF_CHANNEL_MAP_REAR_RIGHT:
    case SF_CHANNEL_MAP_SIDE_RIGHT:
      return SoundRightSurround;
    case SF_CHANNEL_MAP_REAR_CENTER:
      return SoundBackCenter;
  }
  return SoundUnplaced;
}

// The default orders when the file names no positions: WAVE and FLAC (the order of the WAVE
// channel mask bits) and Vorbis I (section 4.3.9, used by Ogg Opus too), for 3 to 8 channels.
constexpr SoundChannel L = SoundLeft, R = SoundRight, C = SoundCenter, F = SoundLfe, Ls = SoundLeftSurround,
                       Rs = SoundRightSurround, Bc = SoundBackCenter;
constexpr SoundChannel WaveOrder[6][8] = {{L, R, C},
                                          {L, R, Ls, Rs},
                                          {L, R, C, Ls, Rs},
                                          {L, R, C, F, Ls, Rs},
                                          {L, R, C, F, Bc, Ls, Rs},
                                          {L, R, C, F, Ls, Rs, Ls, Rs}};
constexpr SoundChannel VorbisOrder[6][8] = {{L, C, R},
                                            {L, R, Ls, Rs},
                                            {L, C, R, Ls, Rs},
                                            {L, C, R, Ls, Rs, F},
                                            {L, C, R, Ls, Rs, Bc, F},
                                            {L, C, R, Ls, Rs, Ls, Rs, F}};

void PlaceChannels(SNDFILE* file, SoundSource& s) {
  if (s.Channels <= 2) return;
  int map[SoundMaxChannels] = {};
  const bool named =
      sf_command(file, SFC_GET_CHANNEL_MAP_INFO, map, static_cast<int>(sizeof(int)) * s.Channels) == SF_TRUE;
  const bool vorbis = Major(s.Format) == SF_FORMAT_OGG;
  for (int c = 0; c < s.Channels && c < 8; ++c) {
    if (named)
      s.ChannelPosition[c] = FromLibrary(map[c]);
    else if (s.Channels <= 8)
      s.ChannelPosition[c] = (vorbis ? VorbisOrder : WaveOrder)[s.Channels - 3][c];
    else
      s.ChannelPosition[c] = SoundUnplaced;
  }
}

// ITU-R BS.775 down-mix coefficients of a channel: to the left and to the right.
void Coefficients(int position, float& left, float& right) {
  constexpr float Minus3dB = 0.70710678f;  // 2^(-1/2)
  left = right = 0.0f;
  switch (position) {
    case SoundLeft:
      left = 1.0f;
      break;
    case SoundRight:
      right = 1.0f;
      break;
    case SoundCenter:
      left = right = Minus3dB;
      break;
    case SoundLeftSurround:
      left = Minus3dB;
      break;
    case SoundRightSurround:
      right = Minus3dB;
      break;
    case SoundBackCenter:
    case SoundUnplaced:
      left = right = 0.5f;
      break;
    case SoundLfe:
      break;  // the LFE channel is left out, as BS.775 does
  }
}

}  // namespace

SoundOpenResult SoundOpen(int fd, SoundSource& s) {
  s = SoundSource{};
  const off_t end = lseek(fd, 0, SEEK_END);
  if (end < 0) return SoundReadError;
  s.Io.Fd = fd;
  s.Io.Size = static_cast<uint64_t>(end);
  const Container container = ContainerOf(fd, s.Io.Size);
  if (container == NoContainer) return SoundUnknownType;
  // The "fmt " chunk of a RIFF WAVE file. The codec it names (an extensible format's sub-format)
  // must be 1 PCM or 3 IEEE float; a chunk that cannot be read is left to the library to judge.
  unsigned char record[26] = {};
  const bool haveFormat = container == RiffWave && ReadWaveFormat(fd, s.Io.Size, record);
  const uint32_t codec = Le16(record) == 0xFFFE ? Le16(record + 24) : Le16(record);
  if (haveFormat && codec != 1 && codec != 3) return SoundNotPcm;
  if (container == RiffWave && ChunkRunsPast4GiB(RiffFile{fd, s.Io.Size}, 12)) return SoundBrokenWave;
  SF_INFO info{};
  SNDFILE* file = OpenIo(s.Io, info);
  if (s.Io.Failed) {
    if (file) sf_close(file);
    return SoundReadError;
  }
  // A WAVE file of PCM or float that the library cannot open is broken.
  if (!file) return container == RiffWave || container == Wave64 ? SoundBrokenWave : SoundUnknownType;
  const SoundOpenResult judged = Judge(info.format);
  if (judged != SoundOpened || info.channels < 1 || info.channels > SoundMaxChannels ||
      info.samplerate < MinRate || info.samplerate > MaxRate) {
    sf_close(file);
    if (judged != SoundOpened) return judged;
    return IsWaveFamily(info.format) ? SoundBrokenWave : SoundUnknownType;
  }
  s.Format = info.format;
  s.Channels = info.channels;
  s.SampleRate = info.samplerate;
  s.Bits = SubtypeBits(Subtype(info.format));
  if (haveFormat && IsWaveFamily(info.format)) s.Bits = static_cast<int>(Le16(record + 14));
  s.Frames = info.frames > 0 && info.frames < SF_COUNT_MAX ? static_cast<uint64_t>(info.frames) : 0;
  // A WAV written by a program that streams its output keeps the sizes it wrote first: 0. Its
  // samples run from the start of the data to the end of the file: they are read as raw samples
  // of the same format from there, not taken for silence.
  const uint64_t dataStart = s.Io.Position;
  bool readToTheEnd = false;
  const int major = Major(info.format);
  if (info.frames == 0 && (major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_RF64) &&
      dataStart > 0 && dataStart < s.Io.Size) {
    sf_close(file);
    const uint64_t base = dataStart;
    SF_INFO raw{};
    raw.samplerate = s.SampleRate;
    raw.channels = s.Channels;
    raw.format = SF_FORMAT_RAW | Subtype(s.Format) | SF_ENDIAN_LITTLE;
    s.Io = SoundIo{fd, base, s.Io.Size - base, 0, false};
    file = OpenIo(s.Io, raw);
    if (!file) return SoundBrokenWave;
    readToTheEnd = true;
    s.Frames = raw.frames > 0 && raw.frames < SF_COUNT_MAX ? static_cast<uint64_t>(raw.frames) : 0;
  }
  s.Empty = !readToTheEnd && info.frames == 0;
  s.File = file;
  PlaceChannels(file, s);
  return SoundOpened;
}

long SoundRead(SoundSource& s, float* samples, long maxFrames) {
  if (!s.File || maxFrames <= 0) return 0;
  const sf_count_t got = sf_readf_float(s.File, samples, maxFrames);
  if (got <= 0) {
    if (sf_error(s.File) != SF_ERR_NO_ERROR || s.Io.Failed) s.ReadError = true;
    return 0;
  }
  s.FramesRead += static_cast<uint64_t>(got);
  // Float files and lossy decoders can go beyond full scale; NaN is silence.
  const long count = static_cast<long>(got) * s.Channels;
  for (long i = 0; i < count; ++i) {
    const float x = samples[i];
    samples[i] = x > 1.0f ? 1.0f : x >= -1.0f ? x : x < -1.0f ? -1.0f : 0.0f;
  }
  return static_cast<long>(got);
}

SoundEnd SoundEndState(const SoundSource& s) {
  const bool atEnd = s.Io.Position >= s.Io.Size;
  if (Major(s.Format) == SF_FORMAT_OGG) {
    // The length of an Ogg stream is read from its last page: when that page is cut off the
    // length is unknown, and when pages are missing inside, fewer frames come than it gives.
    if (s.Frames == 0) return SoundEndedEarly;
    if (s.FramesRead < s.Frames) return SoundDamaged;
    return s.ReadError && !atEnd ? SoundDamaged : SoundComplete;
  }
  if (s.ReadError && !atEnd) return SoundDamaged;
  if (s.FramesRead < s.Frames) return atEnd ? SoundEndedEarly : SoundDamaged;
  return SoundComplete;
}

uint64_t SoundBytesRead(const SoundSource& s) {
  const uint64_t at = s.Io.Base + (s.Io.Position < s.Io.Size ? s.Io.Position : s.Io.Size);
  return at;
}

void SoundClose(SoundSource& s) {
  if (s.File) sf_close(s.File);
  s.File = nullptr;
}

void SoundMixToStereo(const SoundSource& s, const float* in, long frames, float* out) {
  const int n = s.Channels;
  float left[SoundMaxChannels], right[SoundMaxChannels];
  float sumLeft = 0, sumRight = 0;
  for (int c = 0; c < n; ++c) {
    Coefficients(c < 8 ? s.ChannelPosition[c] : SoundUnplaced, left[c], right[c]);
    sumLeft += left[c];
    sumRight += right[c];
  }
  const float largest = sumLeft > sumRight ? sumLeft : sumRight;
  const float scale = largest > 1.0f ? 1.0f / largest : 1.0f;
  for (int c = 0; c < n; ++c) left[c] *= scale, right[c] *= scale;
  for (long i = 0; i < frames; ++i) {
    const float* frame = in + i * n;
    float l = 0, r = 0;
    for (int c = 0; c < n; ++c) {
      l += left[c] * frame[c];
      r += right[c] * frame[c];
    }
    // The sums can round a hair past full scale.
    out[2 * i] = l > 1.0f ? 1.0f : l < -1.0f ? -1.0f : l;
    out[2 * i + 1] = r > 1.0f ? 1.0f : r < -1.0f ? -1.0f : r;
  }
}

const char* SoundFormatName(int format) {
  switch (Major(format)) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX:
      return "WAV";
    case SF_FORMAT_RF64:
      return "RF64";
    case SF_FORMAT_W64:
      return "Wave64";
    case SF_FORMAT_AIFF:
      return "AIFF";
    case SF_FORMAT_FLAC:
      return "FLAC";
    case SF_FORMAT_OGG:
      return Subtype(format) == SF_FORMAT_OPUS ? "Opus" : "Ogg Vorbis";
  }
  return "sound file";
}

std::string SoundFactsText(int format, uint32_t sampleRate, int channels, int bits) {
  char text[96];
  // A WAV file says no more than it did before other formats came: rate, bits, channels (an
  // entry without a format is one).
  const bool wave = Major(format) == SF_FORMAT_WAV || Major(format) == SF_FORMAT_WAVEX || Major(format) == 0;
  const int subtype = Subtype(format);
  char sample[24] = "";
  if (subtype == SF_FORMAT_FLOAT)
    std::snprintf(sample, sizeof sample, "float; ");
  else if (subtype == SF_FORMAT_DOUBLE)
    std::snprintf(sample, sizeof sample, "64bit float; ");
  else if (subtype != SF_FORMAT_VORBIS && subtype != SF_FORMAT_OPUS)
    std::snprintf(sample, sizeof sample, "%dbit; ", bits);
  char layout[24];
  if (channels == 1)
    std::snprintf(layout, sizeof layout, "mono");
  else if (channels == 2)
    std::snprintf(layout, sizeof layout, "stereo");
  else
    std::snprintf(layout, sizeof layout, "%dch to stereo", channels);
  std::snprintf(text, sizeof text, "%s%s%uhz; %s%s", wave ? "" : SoundFormatName(format), wave ? "" : " ",
                static_cast<unsigned>(sampleRate), sample, layout);
  return text;
}
