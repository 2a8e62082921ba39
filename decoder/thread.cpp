// The decoder job: thread entry, stream driver (frame loop and the order of a frame's stages,
// ISO/IEC 11172-3, 2.4.3.4 and Annex A) and the WAV output.
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "decoder/decoder.h"
#include "decoder/framing/framing.h"
#include "decoder/stages.h"
#include "decoder/tables/frame_rates.h"
#include "platform/jobthread.h"
#include "platform/outputfile.h"
#include "platform/paths.h"
#include "platform/sourcefile.h"

// PcmBlock is written as it lies in memory; WAV samples are little-endian.
static_assert(std::endian::native == std::endian::little, "PCM output assumes a little-endian host");

std::atomic<uint32_t> InputPosition{0};
DecodeReport LastDecodeReport;
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

// Stream buffer of the decoder thread's output: static like the rest of the decoder. The input
// is read through the decoder's own window.
alignas(64) char OutputBuffer[256 * 1024];

uint64_t PcmBytesWritten;  // PCM bytes of the running decode
bool SizeLimitReached;     // a granule was left out because it would pass WaveDataLimit

// The gapless trim, in samples per channel: the first TrimLead decoded samples are dropped and
// the output ends after KeepEnd (TrimLead + the samples to keep; UINT64_MAX: at the stream's end).
uint64_t TrimLead;
uint64_t KeepEnd;
uint64_t SamplesDecoded;  // samples per channel decoded so far, trimmed or not
bool OutputComplete;      // every sample the trim keeps is written

// Main-data bytes stored in the ring since the last run of skipped bytes; a frame whose
// main_data_begin reaches further back would read bytes that were lost. NoGapYet: no bytes were
// skipped, and only the rule for the stream's first frames applies.
constexpr uint32_t NoGapYet = UINT32_MAX;
uint32_t ReservoirBytes;

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
  uint32_t rate = last ? static_cast<uint32_t>(HeaderSampleRate(last->ID, last->mpeg25, last->sampling_frequency)) : 0;
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
  // After skipped bytes, a frame whose main data began before them would decode lost bytes as
  // if they were its own: it is decoded as silence instead (no coded lines), which lets the
  // sound before the gap die away through the filterbank as a decoder's silence does, and keeps
  // the stream's length.
  const bool lost = ReservoirBytes != NoGapYet && begin > ReservoirBytes;
  if (ReservoirBytes != NoGapYet) {
    const uint32_t after = ReservoirBytes + static_cast<uint32_t>(mainLength);
    ReservoirBytes = after < 4096 ? after : 4096;  // the ring holds no more
  }
  if (lost) {
    ++LastDecodeReport.SilencedFrames;
    for (GranuleInfo(&granule)[2] : Decoder.Side.gr)
      for (GranuleInfo& gi : granule) gi.part2_3_length = gi.big_values = 0;
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
    // The samples of the granule that the gapless trim keeps (all of them without a trim).
    const uint64_t first = SamplesDecoded;
    SamplesDecoded += 576;
    const uint64_t from = TrimLead > first ? std::min<uint64_t>(TrimLead - first, 576) : 0;
    const uint64_t to = KeepEnd > first ? std::min<uint64_t>(KeepEnd - first, 576) : 0;
    if (KeepEnd <= SamplesDecoded) OutputComplete = true;
    if (to > from) {
      const size_t bytes = static_cast<size_t>(to - from) * static_cast<size_t>(channels) * 2;
      if (!WriteOutput(Decoder.PcmBlock + from * static_cast<uint64_t>(channels), bytes)) return;
      PcmBytesWritten += bytes;
    }
  }
  if (Decoder.CorruptCode) {
    ++LastDecodeReport.CorruptFrames;
    Decoder.CorruptCode = false;
  }
}

// Notes a run of skipped bytes in the report.
void NoteSkipped(uint64_t offset, uint64_t bytes) {
  if (bytes == 0) return;
  DecodeReport& r = LastDecodeReport;
  if (r.SkippedRuns < DecodeReportRuns) {
    r.RunOffset[r.SkippedRuns] = offset;
    r.RunBytes[r.SkippedRuns] = bytes;
  }
  ++r.SkippedRuns;
  r.SkippedBytes += bytes;
  ReservoirBytes = 0;
}

// Where the next frame is not at the read position: the search for the next header that is
// valid, of the stream, and confirmed by the header that follows it (or by the end of the
// data). Every byte is looked at once, and a candidate's confirmation looks at most one frame
// ahead, so the search is linear in the bytes it passes. Returns false at the end of the data,
// with every byte up to it skipped.
bool FindNextFrame(const FrameFacts& stream, FrameFacts& facts) {
  const uint64_t from = InputTell();
  InputSkip(1);  // the read position holds no frame
  for (;;) {
    uint32_t avail = 0;
    const uint8_t* p = InputPeek(InputWindowSize, avail);
    // A window that is not full holds the data up to its end.
    const bool toTheEnd = avail < InputWindowSize;
    const uint64_t base = InputTell();
    if (avail < 4) {
      InputSkip(avail);
      NoteSkipped(from, base + avail - from);
      return false;
    }
    uint32_t i = 0;
    for (; i + 4 <= avail; ++i) {
      if (p[i] != 0xFF || (p[i + 1] & 0xE0) != 0xE0) continue;
      if (!ParseFrameHeader(p + i, facts) || facts.Layer != 1 || !SameStream(facts, stream)) continue;
      const uint32_t end = i + static_cast<uint32_t>(facts.Length);
      if (end + 4 > avail && !toTheEnd) break;  // its confirmation lies beyond the window
      const uint64_t dataEnd = toTheEnd ? base + avail : UINT64_MAX;
      if (FrameConfirmed(facts, base + i, end + 4 <= avail ? p + end : nullptr, dataEnd)) {
        InputSkip(i);
        NoteSkipped(from, base + i - from);
        return true;
      }
    }
    if (toTheEnd && i + 4 > avail) {
      InputSkip(avail);
      NoteSkipped(from, base + avail - from);
      return false;
    }
    InputSkip(i);  // on from the first candidate that needs more data
  }
}

// The frame at the read position when it is one of the stream's, else the next one after the
// skipped bytes. False at the end of the audio, and for a last frame that the end of the file
// cut short (it is noted, not decoded).
bool NextFrame(const FrameFacts& stream, FrameFacts& facts) {
  uint32_t avail = 0;
  const uint8_t* p = InputPeek(4, avail);
  if (avail == 0) return false;
  if (avail < 4 || !ParseFrameHeader(p, facts) || facts.Layer != 1 || !SameStream(facts, stream)) {
    if (!FindNextFrame(stream, facts)) return false;
  }
  InputPeek(static_cast<uint32_t>(facts.Length), avail);
  if (avail < static_cast<uint32_t>(facts.Length)) {
    LastDecodeReport.CutOffset = InputTell();
    LastDecodeReport.CutBytes = avail;
    InputSkip(avail);
    return false;
  }
  return true;
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
  OpenInput(input);
  Decoder.Output = output;
  Decoder.OutputFailed = false;
  Decoder.CorruptCode = false;
  LastDecodeReport = DecodeReport{};
  PcmBytesWritten = 0;
  SizeLimitReached = false;
  SamplesDecoded = 0;
  TrimLead = 0;
  KeepEnd = UINT64_MAX;
  OutputComplete = false;
  ReservoirBytes = NoGapYet;

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
  // The audio lies between the tags at the start and those at the end; an information frame
  // before it is not audio, and its encoder delay and padding are trimmed off the output.
  StreamLayout layout;
  const bool located = LocateStream(InputReadAt, nullptr, Decoder.InputSize, layout) == StreamLayer3 &&
                       InputSeek(layout.AudioStart);
  LastDecodeReport.Located = located;
  if (located) {
    SetInputEnd(layout.AudioEnd);
    const uint64_t keep = GaplessKeep(layout.Info, layout.First.Samples, TrimLead);
    KeepEnd = keep == UINT64_MAX ? UINT64_MAX : TrimLead + keep;
  }
  for (uint32_t n = 0; located && !Decoder.OutputFailed && !OutputComplete; ++n) {
    // A stop request ends the decode here.
    if (JobCheckpoint()) {
      stopped = true;
      break;
    }
    FrameFacts facts;
    if (!NextFrame(layout.First, facts)) break;
    ReadFrameHeader(Decoder.Header);
    if (Decoder.Header.protection_bit == 0) SkipCrc();
    InputPosition.store(static_cast<uint32_t>(InputTell()), std::memory_order_relaxed);
    DecodeFrame(Decoder.Header, facts.Length - facts.PaddingBit, n);
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
  // The decoder reads through its own window, in large pieces: no stream buffer in between.
  setvbuf(input, nullptr, _IONBF, 0);
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
