#include "inspect/inspect.h"

#include <sys/stat.h>

#include <algorithm>

#include "decoder/framing/framing.h"
#include "inspect/riff.h"
#include "inspect/soundfile.h"
#include "platform/sourcefile.h"

namespace {

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
    result = InspectSound(fd, entry);
  }
  CloseSourceDescriptor(fd);
  return result;
}
