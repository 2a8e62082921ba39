#include "tests/support/wave.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "tests/support/files.h"
#include "tests/support/waveheader.h"

namespace {

void Put16(std::string& s, uint32_t v) { s += Le16(static_cast<uint16_t>(v)); }
void Put32(std::string& s, uint32_t v) { s += Le32(v); }

// A chunk: id, declared size, body and the pad byte that keeps the next chunk at an even offset.
void PutChunk(std::string& s, const char* id, const std::string& body, uint32_t declared) {
  s.append(id, 4);
  Put32(s, declared);
  s += body;
  if (body.size() & 1) s += '\0';
}

}  // namespace

std::string Le16(uint16_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }

std::string Le32(uint32_t v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
          static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)};
}

WavFile WriteWav(const std::string& path, const WavSignal& shape) {
  const int bytes = (shape.bits + 7) / 8;
  const long frames = std::lround(shape.seconds * shape.rate);
  std::string data;
  data.reserve(static_cast<size_t>(frames * shape.channels * bytes));
  const double peak = std::ldexp(1.0, shape.bits - 1);
  for (long i = 0; i < frames; ++i) {
    for (int c = 0; c < shape.channels; ++c) {
      const std::vector<double>& tones = c == 0 ? shape.leftTones : shape.rightTones;
      double v = 0;
      for (double f : tones) v += shape.amplitude * std::sin(2 * M_PI * f * double(i) / shape.rate);
      long q = std::lround(v * peak);
      q = std::clamp<long>(q, static_cast<long>(-peak), static_cast<long>(peak - 1));
      if (bytes == 1) q += 128;  // 8-bit samples are unsigned
      for (int b = 0; b < bytes; ++b) data += char((static_cast<unsigned long>(q) >> (8 * b)) & 0xFF);
    }
  }
  data.append(static_cast<size_t>(shape.tailBytes), '\x55');
  std::string fmt;
  const uint32_t blockAlign = static_cast<uint32_t>(shape.channels * bytes);
  const bool ext = shape.extensible || shape.extensibleFloat;
  Put16(fmt, ext ? 0xFFFE : static_cast<uint32_t>(shape.formatTag));
  Put16(fmt, static_cast<uint32_t>(shape.channels));
  Put32(fmt, static_cast<uint32_t>(shape.rate));
  Put32(fmt, static_cast<uint32_t>(shape.rate) * blockAlign);
  Put16(fmt, blockAlign);
  Put16(fmt, static_cast<uint32_t>(shape.bits));
  if (ext) {
    Put16(fmt, 22);
    Put16(fmt, static_cast<uint32_t>(shape.bits));
    Put32(fmt, shape.channels == 1 ? 0x4 : 0x3);
    Put16(fmt, shape.extensibleFloat ? 3 : 1);
    fmt += std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
  } else if (shape.fmtOf18) {
    Put16(fmt, 0);
  }
  std::string body = "WAVE";
  if (shape.chunksBeforeFmt) PutChunk(body, "LIST", std::string("INFOISFT\x05\x00\x00\x00tompg", 17), 17);
  if (shape.dataBeforeFmt) {
    PutChunk(body, "data", data, static_cast<uint32_t>(data.size()));
    PutChunk(body, "fmt ", fmt, static_cast<uint32_t>(fmt.size()));
  } else {
    PutChunk(body, "fmt ", fmt, static_cast<uint32_t>(fmt.size()));
    PutChunk(body, "data", data, static_cast<uint32_t>(data.size()) + shape.dataSizeExtra);
  }
  std::string file;
  PutChunk(file, "RIFF", body, static_cast<uint32_t>(body.size()));
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return WavFile{};
  const bool written = std::fwrite(file.data(), 1, file.size(), f) == file.size();
  if (std::fclose(f) != 0 || !written) return WavFile{};
  return WavFile{static_cast<uint32_t>(data.size()), frames};
}

bool ReadWav16(const std::string& path, Pcm& pcm) {
  const std::vector<uint8_t> b = ReadFileBytes(path);
  const WaveHeader h = ReadWaveHeader(b.data(), b.size());
  if (!h.valid || h.bitsPerSample != 16 || h.channels < 1) return false;
  pcm.channels = h.channels;
  pcm.rate = static_cast<int>(h.sampleRate);
  const size_t avail = std::min<size_t>(h.dataSize, b.size() - h.dataOffset);
  pcm.frames = static_cast<long>(avail / (2 * static_cast<size_t>(pcm.channels)));
  pcm.samples.resize(static_cast<size_t>(pcm.frames * pcm.channels));
  for (size_t k = 0; k < pcm.samples.size(); ++k) {
    const size_t at = h.dataOffset + 2 * k;
    pcm.samples[k] = static_cast<float>(static_cast<int16_t>(b[at] | b[at + 1] << 8)) / 32768.0f;
  }
  return true;
}

bool DecodeFileWithMpg123(const std::string& mpegPath, const std::string& wavPath, Pcm& pcm) {
  return RunQuiet({"mpg123", "-q", "-w", wavPath, mpegPath}) == 0 && ReadWav16(wavPath, pcm);
}
