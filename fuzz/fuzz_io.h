// Streams for the fuzz targets: the input bytes as a read-only FILE or as an in-memory file, and
// a seekable output sink that keeps only the first 44 bytes (where the WAV header goes) and the
// length, so the header can be checked against what was written. Plus the run of one decode with
// its checks.
#pragma once
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "decoder/decoder.h"

namespace fuzzio {

struct Source {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

// The input bytes as the whole contents of an in-memory file, made once per process under name
// and refilled for each input; returns its descriptor with the position at the start. Aborts
// (the harness is broken, not the code under test) when it cannot be made or written.
inline int InputAsFile(const char* name, const uint8_t* data, size_t size) {
  static const int fd = memfd_create(name, MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) abort();
  for (size_t done = 0; done < size;) {
    const ssize_t n = pwrite(fd, data + done, size - done, off_t(done));
    if (n <= 0) abort();
    done += size_t(n);
  }
  return fd;
}

inline int SourceSeek(void* cookie, off64_t* offset, int whence) {
  Source* s = static_cast<Source*>(cookie);
  const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? int64_t(s->pos) : int64_t(s->size);
  if (base + *offset < 0) return -1;
  s->pos = size_t(base + *offset);
  if (s->pos > s->size) s->pos = s->size;
  *offset = off64_t(s->pos);
  return 0;
}

inline ssize_t SourceRead(void* cookie, char* buf, size_t n) {
  Source* s = static_cast<Source*>(cookie);
  const size_t left = s->size - s->pos;
  if (n > left) n = left;
  memcpy(buf, s->data + s->pos, n);
  s->pos += n;
  return ssize_t(n);
}

// The output: a seekable stream of unlimited length that stores nothing but its header bytes.
struct Sink {
  uint8_t header[44];
  int64_t pos;
  int64_t end;
};

inline ssize_t SinkWrite(void* cookie, const char* buf, size_t n) {
  Sink* s = static_cast<Sink*>(cookie);
  for (size_t i = 0; i < n; i++)
    if (s->pos + int64_t(i) < 44) s->header[s->pos + int64_t(i)] = uint8_t(buf[i]);
  s->pos += int64_t(n);
  if (s->pos > s->end) s->end = s->pos;
  return ssize_t(n);
}

inline int SinkSeek(void* cookie, off64_t* offset, int whence) {
  Sink* s = static_cast<Sink*>(cookie);
  int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? s->pos : s->end;
  if (base + *offset < 0) return -1;
  s->pos = base + *offset;
  *offset = s->pos;
  return 0;
}

inline uint32_t Le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// A finished decode must leave a WAV header that describes exactly the PCM that follows it.
inline void CheckHeader(const Sink& s) {
  const uint8_t* h = s.header;
  const uint32_t rate = Le32(h + 24);
  const uint16_t channels = Le16(h + 22);
  const bool rateKnown = rate == 44100 || rate == 48000 || rate == 32000 || rate == 22050 || rate == 24000 ||
                         rate == 16000 || rate == 11025 || rate == 12000 || rate == 8000;
  if (s.end < 44 || memcmp(h, "RIFF", 4) || memcmp(h + 8, "WAVEfmt ", 8) || memcmp(h + 36, "data", 4) ||
      Le32(h + 4) != uint32_t(s.end - 8) || Le32(h + 40) != uint32_t(s.end - 44) ||
      (channels != 1 && channels != 2) || !rateKnown || Le32(h + 28) != rate * channels * 2 ||
      Le16(h + 32) != channels * 2 || Le16(h + 34) != 16) {
    fprintf(stderr, "inconsistent WAV header after a decode of %lld bytes\n", (long long)s.end);
    abort();
  }
}

// Decodes `size` bytes as an MP3 file, from a seekable source as a regular file is (or, when
// `seekable` is false, as a stream that only reads on); aborts (a finding) on an exit code that
// cannot occur here or on a WAV header that does not describe the PCM written. Returns the code.
inline uint32_t DecodeAndCheck(const uint8_t* data, size_t size, bool seekable = true) {
  static const bool tablesReady = (InitDecoderTables(), true);
  (void)tablesReady;
  Source source{data, size, 0};
  Sink sink{};
  FILE* in = fopencookie(&source, "rb",
                         cookie_io_functions_t{SourceRead, nullptr, seekable ? SourceSeek : nullptr, nullptr});
  FILE* out = fopencookie(&sink, "wb", cookie_io_functions_t{nullptr, SinkWrite, SinkSeek, nullptr});
  if (!in || !out) abort();
  const uint32_t code = DecodeStream(in, out);
  fclose(out);  // flushes the header into the sink
  fclose(in);
  switch (code) {
    case DecoderOk:
      CheckHeader(sink);
      break;
    case DecoderNoAudio:
      break;
    default:
      // Neither opening nor writing can fail here.
      fprintf(stderr, "unexpected exit code %u: %s\n", code, DecoderExitText(code));
      abort();
  }
  return code;
}

}  // namespace fuzzio