// libFuzzer entry for source inspection: the input bytes are the source file, put in an
// in-memory file whose /proc path InspectSourceFile then inspects.
// Besides the sanitizers' checks, the result must be one of the six codes and agree with what
// the bytes are, a refused file must leave every field but FileSize as it was, and the decoder
// must find a stream in exactly the files that inspection queues as MP3.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_io.h"
#include "inspect/inspect.h"

namespace {

void Fail(const char* what, InspectResult result) {
  fprintf(stderr, "inspection: %s (result %d)\n", what, int(result));
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = fuzzio::InputAsFile("inspect-fuzz", data, size);

  // Values that no inspection writes, so that a field written on refusal shows.
  SourceFileInfo entry;
  entry.FileSize = 0xDEADBEEF;
  entry.Layer = entry.ChannelMode = entry.Bitrate = -7;
  entry.Duration = entry.SampleRate = 0xDEADBEEF;
  entry.Channels = entry.BitsPerSample = 0xBEEF;
  entry.IsWave = -7;
  const SourceFileInfo before = entry;

  const InspectResult result = InspectSourceFile("/proc/self/fd/" + std::to_string(fd), entry);
  if (result < InspectAccepted || result > InspectNotLayer3) Fail("unknown code", result);
  if (entry.FileSize != uint32_t(size)) Fail("FileSize is not the file's size", result);
  // MPEG audio begins with a frame sync, an ID3v2 tag or zero bytes; a file that does is never
  // refused for a WAVE reason.
  const bool mpegStart =
      (size >= 2 && data[0] == 0xFF && (data[1] & 0xE0) == 0xE0) || (size >= 3 && !memcmp(data, "ID3", 3)) ||
      (size >= 1 && data[0] == 0);
  const bool riffWave = size >= 12 && !memcmp(data, "RIFF", 4) && !memcmp(data + 8, "WAVE", 4);
  // The other containers of the sound files that are encoded: RF64, Wave64, AIFF, FLAC, Ogg.
  const bool soundFile = riffWave ||
                         (size >= 12 && !memcmp(data, "RF64", 4) && !memcmp(data + 8, "WAVE", 4)) ||
                         (size >= 4 && (!memcmp(data, "riff", 4) || !memcmp(data, "FORM", 4) ||
                                        !memcmp(data, "fLaC", 4) || !memcmp(data, "OggS", 4)));
  if (size < 4 && result != InspectUnknownType)
    Fail("a file of fewer than 4 bytes is not refused as unknown", result);
  if (mpegStart && result != InspectAccepted && result != InspectNotLayer3 && result != InspectUnknownType)
    Fail("MPEG audio refused for a WAVE reason", result);
  if (!mpegStart && !soundFile && result != InspectUnknownType && result != InspectCannotOpen)
    Fail("neither MPEG audio nor a sound file but not refused as unknown", result);

  // The window queues an MP3 file exactly when the decoder finds a stream in it: both judge the
  // file by the same framing rules, one through its own reads, the other through its input window.
  const bool queuedAsMp3 = result == InspectAccepted && entry.IsWave == 0;
  fuzzio::DecodeAndCheck(data, size);
  if (queuedAsMp3 != LastDecodeReport.Located) Fail("inspection and the decoder judge the file apart", result);

  if (result != InspectAccepted) {
    if (entry.Layer != before.Layer || entry.ChannelMode != before.ChannelMode ||
        entry.Bitrate != before.Bitrate || entry.Duration != before.Duration ||
        entry.SampleRate != before.SampleRate || entry.Channels != before.Channels ||
        entry.BitsPerSample != before.BitsPerSample || entry.IsWave != before.IsWave)
      Fail("a refused file changed the entry's format fields", result);
    return 0;
  }
  if (entry.IsWave == 0) {
    const uint32_t rate = entry.SampleRate;
    const bool rateKnown = rate == 44100 || rate == 48000 || rate == 32000 || rate == 22050 || rate == 24000 ||
                           rate == 16000 || rate == 11025 || rate == 12000 || rate == 8000;
    if (!mpegStart || entry.Layer != 2 || entry.ChannelMode < 0 || entry.ChannelMode > 3 || entry.Bitrate <= 0 ||
        entry.Bitrate > 320 || !rateKnown || entry.AudioStart >= entry.AudioEnd || entry.AudioEnd > size)
      Fail("accepted MPEG audio with impossible fields", result);
  } else if (entry.IsWave == 1) {
    // The playing time of PCM in a WAVE file can never exceed what the file's bytes hold.
    const uint64_t divisor = uint64_t(entry.SampleRate) * entry.Channels * (entry.BitsPerSample / 8u);
    if (!soundFile || entry.SampleRate < 1000 || entry.SampleRate > 768000 || entry.Channels < 1 ||
        entry.Channels > 64 || (riffWave && divisor != 0 && uint64_t(entry.Duration) * divisor > size))
      Fail("accepted sound file with impossible fields", result);
  } else {
    Fail("accepted with IsWave neither 0 nor 1", result);
  }
  return 0;
}
