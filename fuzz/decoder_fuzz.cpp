// libFuzzer entry over the whole decode path: the input bytes are the MP3 file.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzio::DecodeAndCheck(data, size);
  return 0;
}
