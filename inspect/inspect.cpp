#include "inspect/inspect.h"

#include <sys/stat.h>

#include <algorithm>

#include "decoder/framing/framing.h"
#include "inspect/riff.h"
#include "platform/sourcefile.h"

namespace {

// The 16 bytes of the PCM format record at the start of a "fmt " chunk, little-endian.
struct PcmFormat {
  uint16_t FormatTag;
  uint16_t Channels;
  uint32_t SamplesPerSec;
  uint32_t AvgBytesPerSec;
  uint16_t BlockAlign;
  uint16_t BitsPerSample;
};

uint16_t Get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Get32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// Reads the source's bytes for the framing rules; context is the source's descriptor.
size_t ReadSource(void* context, uint64_t offset, uint8_t* buffer, size_t n) {
  return ReadSourceAt(*static_cast<const int*>(context), offset, buffer, n);
}

// MPEG audio: the facts of the stream's first frame, found as the decoder finds it.
void FillMpeg(const StreamLayout& layout, SourceFileInfo& entry) {
  entry.Layer = 2;
  entry.ChannelMode = layout.First.Mode;
  entry.Bitrate = layout.First.Bitrate;
  entry.SampleRate = static_cast<uint32_t>(layout.First.SampleRate);
  entry.Duration = StreamSeconds(layout);
  entry.AudioStart = layout.FirstFrame;
  entry.AudioEnd = layout.AudioEnd;
  entry.IsWave = 0;
}

InspectResult InspectWave(const RiffFile& file, SourceFileInfo& entry) {
  RiffChunk riff;
  if (!RiffDescendRoot(file, riff) || riff.Id != FourCC("RIFF") || riff.FormType != FourCC("WAVE"))
    return InspectUnknownType;
  // "fmt " of 16 bytes or more; an 18-byte or longer record (with an extension) is read as its
  // first 16 bytes.
  RiffChunk fmt;
  unsigned char record[16];
  if (!RiffFindChunk(file, riff, FourCC("fmt "), fmt) || fmt.Size < sizeof record ||
      !RiffRead(file, fmt.DataOffset, record, sizeof record))
    return InspectBrokenWave;
  const PcmFormat format{Get16(record),     Get16(record + 2),  Get32(record + 4),
                         Get32(record + 8), Get16(record + 12), Get16(record + 14)};
  if (format.FormatTag != 1) return InspectNotPcm;
  // "data" may stand before or after "fmt ".
  RiffChunk data;
  if (!RiffFindChunk(file, riff, FourCC("data"), data)) return InspectBrokenWave;
  // A cut-off file states more data than it holds: its playing time is that of what is there.
  const uint64_t present = file.FileSize - std::min<uint64_t>(data.DataOffset, file.FileSize);
  const auto dataSize = static_cast<uint32_t>(std::min<uint64_t>(data.Size, present));
  entry.IsWave = 1;
  entry.SampleRate = format.SamplesPerSec;
  entry.Channels = format.Channels;
  entry.BitsPerSample = format.BitsPerSample;
  entry.Duration = WaveDuration(dataSize, format.SamplesPerSec, format.Channels, format.BitsPerSample);
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

uint32_t WaveDuration(uint32_t dataSize, uint32_t samplesPerSec, uint16_t channels, uint16_t bitsPerSample) {
  const uint64_t divisor = uint64_t{samplesPerSec} * channels * (bitsPerSample / 8u);
  if (divisor == 0) return 0;
  return static_cast<uint32_t>(dataSize / divisor);  // never more than dataSize
}

InspectResult InspectSourceFile(const std::string& path, SourceFileInfo& entry) {
  // Only regular files are sources; a FIFO cannot hang the window.
  struct stat st {};
  int fd = OpenSourceDescriptor(path.c_str(), st);
  if (fd < 0) return InspectCannotOpen;
  const RiffFile file{fd, static_cast<uint64_t>(st.st_size)};
  entry.FileSize = static_cast<uint32_t>(file.FileSize);  // low 32 bits of a larger file's size
  // MPEG audio is found by the decoder's own rules; a file that begins with a tag or a frame
  // sync is MPEG audio or nothing.
  StreamLayout layout;
  const StreamVerdict verdict = LocateStream(ReadSource, &fd, file.FileSize, layout);
  InspectResult result;
  if (verdict == StreamLayer3) {
    FillMpeg(layout, entry);
    result = InspectAccepted;
  } else if (verdict == StreamNotLayer3) {
    result = InspectNotLayer3;
  } else if (layout.Tagged) {
    result = InspectUnknownType;
  } else {
    result = InspectWave(file, entry);
  }
  CloseSourceDescriptor(fd);
  return result;
}
