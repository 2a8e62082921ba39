// The source file through one window of its bytes: sequential reads for the frames, a look ahead
// for the search of the next frame after damage, and reads at any offset while the stream's start
// and end are located. The window is refilled in large pieces; nothing is allocated.
#include <cstring>

#include "decoder/stages.h"

namespace {

Layer3Decoder& D = Decoder;

// Bytes of the window not yet read, up to the end of the audio.
uint32_t Held() {
  const uint64_t at = D.WindowStart + D.WindowPos;
  const uint32_t held = D.WindowFill - D.WindowPos;
  if (at >= D.InputEnd) return 0;
  return D.InputEnd - at < held ? static_cast<uint32_t>(D.InputEnd - at) : held;
}

// Makes the window hold n bytes from the read position (n at most the window's size), fewer when
// the input ends first. The bytes before the read position are given up.
void Refill(uint32_t n) {
  if (D.WindowFill - D.WindowPos >= n || D.InputEnded || D.Input == nullptr) return;
  if (D.WindowPos > 0) {
    const uint32_t keep = D.WindowFill - D.WindowPos;
    std::memmove(D.InputWindow, D.InputWindow + D.WindowPos, keep);
    D.WindowStart += D.WindowPos;
    D.WindowFill = keep;
    D.WindowPos = 0;
  }
  // The decoder thread alone touches its input: the unlocked read saves a lock per call.
  while (D.WindowFill < n) {
    const size_t got = fread_unlocked(D.InputWindow + D.WindowFill, 1, InputWindowSize - D.WindowFill, D.Input);
    D.WindowFill += static_cast<uint32_t>(got);
    if (got == 0) {
      D.InputEnded = true;
      return;
    }
  }
}

}  // namespace

void OpenInput(FILE* file) {
  D.Input = file;
  D.WindowStart = 0;
  D.WindowFill = 0;
  D.WindowPos = 0;
  D.InputEnded = false;
  D.InputSize = UINT64_MAX;
  D.InputEnd = UINT64_MAX;
  D.InputSeekable = false;
  if (file == nullptr) return;
  // A regular file tells its size, which places the tags at its end; a stream that cannot seek is
  // read as it comes.
  const off_t start = ftello(file);
  if (start >= 0 && fseeko(file, 0, SEEK_END) == 0) {
    const off_t size = ftello(file);
    if (size >= start && fseeko(file, start, SEEK_SET) == 0) {
      D.InputSeekable = true;
      D.InputSize = static_cast<uint64_t>(size - start);
    }
  }
  D.InputEnded = false;
  clearerr(file);
}

uint64_t InputTell() { return D.WindowStart + D.WindowPos; }

void SetInputEnd(uint64_t end) { D.InputEnd = end; }

bool InputSeek(uint64_t offset) {
  if (offset >= D.WindowStart && offset <= D.WindowStart + D.WindowFill) {
    D.WindowPos = static_cast<uint32_t>(offset - D.WindowStart);
    return true;
  }
  if (D.Input == nullptr) return false;
  if (D.InputSeekable) {
    if (fseeko(D.Input, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    D.WindowStart = offset;
    D.WindowFill = D.WindowPos = 0;
    D.InputEnded = false;
    return true;
  }
  // A stream goes forward only: the bytes up to the offset are read and given up.
  if (offset < D.WindowStart) return false;
  while (D.WindowStart + D.WindowFill < offset) {
    if (D.InputEnded) return false;
    D.WindowPos = D.WindowFill;
    Refill(InputWindowSize);
  }
  D.WindowPos = static_cast<uint32_t>(offset - D.WindowStart);
  return true;
}

const uint8_t* InputPeek(uint32_t n, uint32_t& available) {
  if (n > InputWindowSize) n = InputWindowSize;
  Refill(n);
  available = Held();
  if (available > n) available = n;
  return D.InputWindow + D.WindowPos;
}

void InputSkip(uint32_t n) {
  const uint32_t held = D.WindowFill - D.WindowPos;
  D.WindowPos += n < held ? n : held;
}

size_t InputRead(void* buffer, size_t n) {
  uint8_t* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < n) {
    const size_t want = n - done < InputWindowSize ? n - done : InputWindowSize;
    Refill(static_cast<uint32_t>(want));
    uint32_t held = Held();
    if (held == 0) break;
    if (held > want) held = static_cast<uint32_t>(want);
    std::memcpy(out + done, D.InputWindow + D.WindowPos, held);
    D.WindowPos += held;
    done += held;
  }
  return done;
}

size_t InputReadAt(void*, uint64_t offset, uint8_t* buffer, size_t n) {
  if (!InputSeek(offset)) return 0;
  return InputRead(buffer, n);
}
