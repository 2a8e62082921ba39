// The decoder job: thread entry, stream driver (frame loop and the order of a frame's stages,
// ISO/IEC 11172-3, 2.4.3.4 and Annex A) and the WAV output.
#include <bit>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "decoder/decoder.h"
#include "decoder/stages.h"
#include "decoder/tables/frame_rates.h"
#include "platform/jobthread.h"
#include "platform/outputfile.h"
#include "platform/paths.h"
#include "platform/sourcefile.h"

// PcmBlock is written as it lies in memory; WAV samples are little-endian.
static_assert(std::endian::native == std::endian::little, "PCM output assumes a little-endian host");

std::atomic<uint32_t> InputPosition{0};
char DecoderInput[DecoderPathSize];
char DecoderOutput[DecoderPathSize];

namespace {

constexpr int WaveHeaderSize = 44;
// A RIFF file cannot describe more than 2^32 - 1 bytes; the decode ends before the data
// would outgrow the header's fields.
constexpr uint64_t MaxWaveData = 0xFFFFFFFFull - 36;
uint64_t WaveDataLimit = MaxWaveData;

// Stream bytes from the start within which a frame's main_data_begin may point before the first
// byte read (such a frame is stored, not decoded); further on, a pointer past the ring's write
// position reaches back across the ring's wrap at 4096. 960 bytes are ten of the shortest ID 1
// frames (32 kbit/s at 48 kHz: 96 bytes, at least 58 of main data each), so any ID 1 frame that
// starts later has more main data before it than main_data_begin can span (9 bits: 511 bytes).
constexpr uint64_t ReservoirStartSpan = 960;

// Stream buffers of the decoder thread's files: static like the rest of the decoder.
alignas(64) char InputBuffer[64 * 1024];
alignas(64) char OutputBuffer[256 * 1024];

uint64_t PcmBytesWritten;  // PCM bytes of the running decode
bool SizeLimitReached;     // a granule was left out because it would pass WaveDataLimit

bool WriteOutput(const void* data, size_t n) {
  if (Decoder.OutputFailed) return false;
  if (fwrite_unlocked(data, 1, n, Decoder.Output) != n) {
    Decoder.OutputFailed = true;
    return false;
  }
  return true;
}

void PutLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void PutLe32(uint8_t* p, uint32_t v) {
  PutLe16(p, v);
  PutLe16(p + 2, v >> 16);
}

// Writes the header over the placeholder at the start of the output. Without any decoded frame
// (the first header already failed) there are no frame values: the header then says 44100 Hz,
// two channels and no data, which every WAV reader accepts.
void WriteWaveHeader(const FrameHeader* last, int channels) {
  uint32_t rate = last ? static_cast<uint32_t>(FrameSampleRate(last->ID, last->sampling_frequency)) : 0;
  if (rate == 0) rate = 44100;
  if (channels != 1 && channels != 2) channels = 2;
  const uint32_t data = static_cast<uint32_t>(PcmBytesWritten);
  uint8_t h[WaveHeaderSize];
  std::memcpy(h, "RIFF", 4);
  PutLe32(h + 4, data + 36);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  PutLe32(h + 16, 16);
  PutLe16(h + 20, 1);
  PutLe16(h + 22, static_cast<uint32_t>(channels));
  PutLe32(h + 24, rate);
  PutLe32(h + 28, rate * static_cast<uint32_t>(channels) * 2);
  PutLe16(h + 32, static_cast<uint32_t>(channels) * 2);
  PutLe16(h + 34, 16);
  std::memcpy(h + 36, "data", 4);
  PutLe32(h + 40, data);
  if (Decoder.OutputFailed) return;
  if (fseek(Decoder.Output, 0, SEEK_SET) != 0) {
    Decoder.OutputFailed = true;
    return;
  }
  WriteOutput(h, sizeof h);
}

// Decodes the frame whose header (and CRC word) has just been read; n counts frames from 0 and
// frameLength is the header's length in bytes without the padding byte, never 0.
void DecodeFrame(const FrameHeader& header, int frameLength, uint32_t n) {
  const int channels = header.mode == 3 ? 1 : 2;
  Decoder.ChannelCount = channels;
  // Header and side information: 4 + 17 or 32 bytes (ID 1), 4 + 9 or 17 bytes (ID 0).
  int sideLength = header.ID == 1 ? (channels == 1 ? 21 : 36) : (channels == 1 ? 13 : 21);
  if (header.protection_bit == 0) sideLength += 2;

  ReadSideInfo(header);

  int mainLength = frameLength + header.padding_bit - sideLength;
  if (mainLength < 0) mainLength = 0;  // cannot happen for a covered header; kept for safety

  // Bit reservoir (ISO/IEC 11172-3, 2.4.3.4.1): the first frames of a stream may point at main
  // data of frames that are not in the file; they are stored but not decoded.
  const uint32_t writePos = Decoder.RingWritePos;
  const uint32_t begin = static_cast<uint32_t>(Decoder.Side.main_data_begin);
  if (begin > writePos &&
      static_cast<uint64_t>(n) * static_cast<uint64_t>(frameLength) < ReservoirStartSpan) {
    AppendMainData(mainLength);
    return;
  }
  Decoder.MainBitPos = ((writePos - begin) & 4095) * 8;
  AppendMainData(mainLength);
  SelectBandTables(header);

  const size_t blockBytes = static_cast<size_t>(channels) * 1152;
  const int granules = header.ID == 1 ? 2 : 1;
  for (int g = 0; g < granules; ++g) {
    if (PcmBytesWritten + blockBytes > WaveDataLimit) {
      SizeLimitReached = true;
      return;
    }
    for (int c = 0; c < channels; ++c) {
      const int part2 = DecodeScaleFactors(header, g, c);
      DecodeSpectrum(g, c, part2);
    }
    if (header.mode == 1 && header.mode_extension != 0) {
      JointStereoGranule(header, g);
    } else {
      for (int c = 0; c < channels; ++c) DequantizeChannel(header, g, c);
    }
    for (int c = 0; c < channels; ++c) AliasReduce(g, c);
    for (int c = 0; c < channels; ++c) {
      HybridChannel(g, c);
      SynthesiseGranule(c);
    }
    if (!WriteOutput(Decoder.PcmBlock, blockBytes)) return;
    PcmBytesWritten += blockBytes;
  }
}

}  // namespace

const char* DecoderExitText(uint32_t code) {
  switch (code) {
    case DecoderOk:
      return "The file was decoded.";
    case DecoderInputFailed:
      return "The source file cannot be opened.";
    case DecoderOutputFailed:
      return "The output file cannot be created.";
    case DecoderWriteFailed:
      return "Writing the output file failed (the disk may be full).";
    case DecoderNoAudio:
      return "The source file holds no audio that can be decoded.";
    case DecoderSizeLimit:
      return "The decoded audio reached the largest size a WAV file can hold; the file was closed there.";
    case DecoderStopped:
      return "The decode was stopped.";
    case DecoderKeptEarlier:
      return "A file of the output's name exists and cannot be moved to the Trash; it was kept, and the "
             "decoded file was not written.";
    case DecoderOutputExists:
      return "A file of the output's name exists; it was kept (--no-clobber), and the decoded file was not "
             "written.";
    default:
      return "The decoder ended with an unknown exit code.";
  }
}

void InitDecoderTables() {
  // Once, also when more than one caller asks: a decode may already be reading the tables.
  static std::once_flag once;
  std::call_once(once, BuildImdctWindows);
}

uint32_t DecodeStream(FILE* input, FILE* output) {
  Decoder.Input = input;
  Decoder.Output = output;
  Decoder.OutputFailed = false;
  Decoder.InputOffset = 0;
  PcmBytesWritten = 0;
  SizeLimitReached = false;

  static const uint8_t Placeholder[WaveHeaderSize] = {};
  WriteOutput(Placeholder, sizeof Placeholder);

  Decoder.ChannelCount = 0;
  // The ring starts empty: a damaged frame whose main_data_begin reaches before the stream's first
  // byte then reads zeros, never main data that the previous job left from another file.
  std::memset(Decoder.MainDataRing, 0, sizeof Decoder.MainDataRing);
  Decoder.RingWritePos = 0;
  Decoder.MainBitPos = 0;
  ResetHybrid();
  ResetSynthesis();

  FrameHeader last{};
  bool decodedAny = false;
  bool stopped = false;
  for (uint32_t n = 0; !Decoder.OutputFailed; ++n) {
    // A stop request ends the decode here.
    if (JobCheckpoint()) {
      stopped = true;
      break;
    }
    // End of input, a wrong sync word, the MPEG 2.5 sync word 0xFFE, and a header the tables do
    // not cover (free format, bitrate index 15, sampling frequency 3, layer 0) all end the
    // stream; each of them still gets the WAV header.
    if (ReadFrameHeader(Decoder.Header) != HeaderFrame) break;
    const int frameLength = FrameLength(Decoder.Header);
    if (frameLength == 0) break;
    if (Decoder.Header.protection_bit == 0) SkipCrc();
    InputPosition.store(Decoder.InputOffset, std::memory_order_relaxed);
    DecodeFrame(Decoder.Header, frameLength, n);
    last = Decoder.Header;
    decodedAny = true;
    // The frame that would have passed the limit is not written; the file ends before it.
    if (SizeLimitReached) break;
  }

  WriteWaveHeader(decodedAny ? &last : nullptr, Decoder.ChannelCount);
  if (!Decoder.OutputFailed && fflush(Decoder.Output) != 0) Decoder.OutputFailed = true;
  Decoder.Input = nullptr;
  Decoder.Output = nullptr;
  if (Decoder.OutputFailed) return DecoderWriteFailed;
  if (SizeLimitReached) return DecoderSizeLimit;
  if (stopped) return DecoderStopped;
  // A stream that gave no PCM at all is a failure.
  if (PcmBytesWritten == 0) return DecoderNoAudio;
  return DecoderOk;
}

void SetWaveDataLimit(uint64_t bytes) {
  WaveDataLimit = bytes == 0 || bytes > MaxWaveData ? MaxWaveData : bytes;
}

uint32_t DecoderThreadMain() {
  // The paths are read once; a missing terminator cannot make the open read past the buffer.
  char inputPath[DecoderPathSize];
  char outputPath[DecoderPathSize];
  std::memcpy(inputPath, DecoderInput, DecoderPathSize);
  std::memcpy(outputPath, DecoderOutput, DecoderPathSize);
  inputPath[DecoderPathSize - 1] = 0;
  outputPath[DecoderPathSize - 1] = 0;

  // Only a regular file is read: a directory has no stream and a FIFO could block the job
  // where no stop request reaches it. No output is created for a refused source.
  FILE* input = OpenSourceFile(inputPath);
  if (input == nullptr) return DecoderInputFailed;
  // The output would replace the source (also through a link to it): refused, nothing touched.
  PendingOutput output;
  if (IsSameFile(inputPath, outputPath) || !CreatePendingOutput(outputPath, output) ||
      !OpenPendingOutputStream(output)) {
    DiscardPendingOutput(output);
    fclose(input);
    return DecoderOutputFailed;
  }
  setvbuf(input, InputBuffer, _IOFBF, sizeof InputBuffer);
  setvbuf(output.Stream, OutputBuffer, _IOFBF, sizeof OutputBuffer);

  uint32_t code = DecodeStream(input, output.Stream);
  fclose(input);
  // A complete WAV file (also one cut at the size limit) takes the output's name; closing
  // flushes the last buffered bytes, so its failure is a failed write. A stopped decode is
  // cancelled: a part of the stream must not replace an earlier, complete file of that name.
  if (code == DecoderOk || code == DecoderSizeLimit) {
    if (!CommitPendingOutput(output)) code = output.ExistingKept ? DecoderOutputExists : DecoderWriteFailed;
  } else {
    DiscardPendingOutput(output);
    if (code == DecoderStopped) code = DecoderOk;
  }
  return code;
}
