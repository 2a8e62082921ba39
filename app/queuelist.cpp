#include "app/queuelist.h"

#include <cstdio>

#include "decoder/decoder.h"
#include "encoder/commandline.h"
#include "encoder/rates.h"
#include "inspect/soundfile.h"
#include "model/settings.h"

namespace {

// The file's name: what follows the last '/', or the whole path without one.
std::string FileNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string BaseNameOf(const std::string& path) {
  std::string name = FileNameOf(path);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  return name;
}

std::string PlayingTime(uint32_t seconds) {
  char text[24];
  std::snprintf(text, sizeof text, "%u:%02u", seconds / 60, seconds % 60);
  return text;
}

std::string JobLineText(const QueueEntry& entry) {
  // Every source shows its playing time: a WAV file's from its data, an MP3 file's from its
  // audio frames.
  return FileNameOf(entry.Path) + " (" + PlayingTime(entry.Duration) + ")";
}

std::string OutputPathFor(const QueueEntry& entry) {
  if (!entry.IsWave) return AppSettings.DestinationDir + entry.BaseName + ".wav";
  return AppSettings.DestinationDir + entry.BaseName + ".mp" + static_cast<char>('1' + (entry.Layer % 3));
}

InspectResult InspectSource(int index) {
  if (index < 0 || index >= MaxQueueEntries) return InspectCannotOpen;
  return InspectSourceFile(JobQueue[index].Path, JobQueue[index]);
}

bool DecoderPathsFit(const std::string& source, const std::string& output) {
  return source.size() < DecoderPathSize && output.size() < DecoderPathSize;
}

int EnqueueFile(const std::string& path, std::string& line) {
  if (QueueCount >= MaxQueueEntries) return EnqueueQueueFull;
  QueueEntry& entry = JobQueue[QueueCount];
  entry = QueueEntry{};
  entry.Path = path;
  entry.BaseName = BaseNameOf(entry.Path);
  const InspectResult result = InspectSource(QueueCount);
  if (result != InspectAccepted) return result;
  if (entry.IsWave) {
    entry.Layer = AppSettings.Layer;
    entry.ChannelMode = entry.Channels == 1 ? 3 : AppSettings.ChannelMode;
    entry.Bitrate = AppSettings.Bitrate;
  }
  // A path that its job could not hand over is refused now, not at its turn, where it would stop
  // the converter in the middle of an unattended batch.
  const std::string output = OutputPathFor(entry);
  if (entry.IsWave) {
    switch (CheckEncoderPaths(AppSettings.TompgDir, entry.Path, output)) {
      case EncoderLineTooLong:
        return EnqueuePathTooLong;
      case EncoderLineAmbiguous:
        return EnqueuePathUnusable;
      default:
        break;
    }
  } else if (!DecoderPathsFit(entry.Path, output)) {
    return EnqueuePathTooLong;
  }
  line = JobLineText(entry);
  ++QueueCount;
  return InspectAccepted;
}

const char* EnqueueRefusalCaption(int code) {
  switch (code) {
    case EnqueueQueueFull:
      return "Converter queue is full";
    case EnqueuePathUnusable:
      return "File name cannot be passed to the encoder";
    case EnqueuePathTooLong:
      return "Path is too long";
  }
  return InspectResultText(static_cast<InspectResult>(code));
}

std::string EnqueueRefusalText(int code, const std::string& path) {
  // The reason first, the file below it: where the desktop attaches the box to the window, its
  // caption does not show.
  switch (code) {
    case EnqueueQueueFull:
      return "The converter queue holds 1000 files, as many as it can. The remaining files were not added.";
    case EnqueuePathUnusable:
      return "The file's name or the destination directory cannot be written on the encoder's command line "
             "so that the encoder reads it back unchanged. Rename the file or choose another destination "
             "directory.\n" +
             path;
    case EnqueuePathTooLong:
      return "The path of the file or of its output in the destination directory is longer than the "
             "encoder's command line or the decoder accepts. Move the file to a shorter path or choose a "
             "shorter destination directory.\n" +
             path;
  }
  return std::string(EnqueueRefusalCaption(code)) + "\n" + path;
}

uint32_t EncodedBitrate(const QueueEntry& entry) {
  const uint32_t wanted = BitrateTable[static_cast<uint32_t>(entry.Bitrate) % BitrateCount];
  const int coded = NearestBitrate(entry.Layer % 3 + 1, CodedSampleRate(static_cast<int>(entry.SampleRate)),
                                   entry.ChannelMode & 3, static_cast<int>(wanted));
  return coded > 0 ? static_cast<uint32_t>(coded) : wanted;
}

// ---- format controls ------------------------------------------------------------------------

FormatDisplay FormatDisplayFor(int selected, bool bitrateFollow) {
  FormatDisplay d;
  d.Layer = AppSettings.Layer;
  d.ChannelMode = AppSettings.ChannelMode;
  d.Bitrate = bitrateFollow ? AppSettings.Bitrate : -1;
  if (selected < 0 || selected >= QueueCount) return d;
  const QueueEntry& e = JobQueue[selected];
  char info[96];
  if (e.IsWave) {
    d.Layer = e.Layer;
    d.ChannelMode = e.ChannelMode;
    d.Bitrate = bitrateFollow ? e.Bitrate : -1;
    d.Enabled = true;
    std::snprintf(info, sizeof info, "  %s",
                  SoundFactsText(e.SoundFormat, e.SampleRate, e.Channels, e.BitsPerSample).c_str());
  } else {
    d.Bitrate = AppSettings.Bitrate;
    std::snprintf(info, sizeof info, "  Layer %u; %s; %ukhz; %ukbit/s", static_cast<unsigned>(e.Layer + 1),
                  ModeNameTable[e.ChannelMode & 3], static_cast<unsigned>(e.SampleRate / 1000),
                  static_cast<unsigned>(e.Bitrate));
  }
  d.InfoText = info;
  return d;
}

int ModeChoiceFor(int i, int choice) {
  if (i >= 0 && i < QueueCount && JobQueue[i].Channels == 1) return 3;
  return choice;
}
