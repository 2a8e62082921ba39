#include "inspect/inspect.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "decoder/tables/frame_rates.h"
#include "inspect/riff.h"
#include "inspect/soundfile.h"
#include "platform/sourcefile.h"

namespace {

// Frame header, ISO/IEC 11172-3 clause 2.4.1.3: only the first four bytes are looked at, and
// only at the very start of the file (a leading tag is not skipped).
InspectResult InspectMpeg(const unsigned char b[4], SourceFileInfo& entry) {
  const int layerBits = (b[1] >> 1) & 3;  // 3 Layer I, 2 Layer II, 1 Layer III, 0 reserved
  if (3 - layerBits != 2) return InspectNotLayer3;
  const int id = (b[1] >> 3) & 1;  // 1: ISO/IEC 11172-3, 0: the lower rates of ISO/IEC 13818-3
  const int bitrateIndex = b[2] >> 4;
  const int samplingIndex = (b[2] >> 2) & 3;
  entry.Layer = 2;
  entry.ChannelMode = b[3] >> 6;
  entry.Bitrate = FrameBitrate(id, layerBits, bitrateIndex);
  entry.SampleRate = static_cast<uint32_t>(FrameSampleRate(id, samplingIndex));
  entry.IsWave = 0;
  return InspectAccepted;
}

// Every source but MPEG audio: a sound file read through the library, as tompg reads it.
InspectResult InspectSound(int fd, SourceFileInfo& entry) {
  SoundSource source;
  switch (SoundOpen(fd, source)) {
    case SoundOpened:
      break;
    case SoundReadError:
      return InspectCannotOpen;
    case SoundBrokenWave:
      return InspectBrokenWave;
    case SoundNotPcm:
      return InspectNotPcm;
    case SoundUnknownType:
      return InspectUnknownType;
  }
  entry.IsWave = 1;
  entry.SampleRate = static_cast<uint32_t>(source.SampleRate);
  entry.Channels = static_cast<uint16_t>(source.Channels);
  entry.BitsPerSample = static_cast<uint16_t>(source.Bits);
  entry.Duration = static_cast<uint32_t>(source.Frames / static_cast<uint64_t>(source.SampleRate));
  entry.SoundFormat = source.Format;
  entry.SoundFrames = source.Frames;
  SoundClose(source);
  return InspectAccepted;
}

}  // namespace

const char* InspectResultText(InspectResult result) {
  switch (result) {
    case InspectAccepted:
      return "";
    case InspectCannotOpen:
      return "Unable to open file";
    case InspectUnknownType:
      return "Unknown file type";
    case InspectBrokenWave:
      return "Broken WAVE file";
    case InspectNotPcm:
      return "Not a PCM WAVE file";
    case InspectNotLayer3:
      return "Not a MPEG-1 Layer III file";
  }
  return "";
}

InspectResult InspectSourceFile(const std::string& path, SourceFileInfo& entry) {
  // Only regular files are sources; a FIFO cannot hang the window.
  struct stat st {};
  const int fd = OpenSourceDescriptor(path.c_str(), st);
  if (fd < 0) return InspectCannotOpen;
  const RiffFile file{fd, static_cast<uint64_t>(st.st_size)};
  entry.FileSize = static_cast<uint32_t>(file.FileSize);  // low 32 bits of a larger file's size
  unsigned char b[4];
  InspectResult result;
  if (!RiffRead(file, 0, b, sizeof b))
    result = InspectUnknownType;
  else if (b[0] == 0xFF && (b[1] & 0xE0) == 0xE0)  // 11-bit frame sync
    result = InspectMpeg(b, entry);
  else
    result = InspectSound(fd, entry);
  close(fd);
  return result;
}
