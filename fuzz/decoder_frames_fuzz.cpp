// libFuzzer entry that always reaches the stages behind the frame header: the first two input
// bytes choose a Layer III header (ID, bitrate, sampling frequency, mode, mode extension, CRC),
// and the rest is cut into frames of the length that header gives, each starting with that
// header. Side information, scale factors and Huffman data are then whatever the fuzzer makes
// them, which drives every block type, table selection, big_values and region count, and the
// stereo modes, through the decoder. When bit 4 of the second byte is set, each frame takes its
// mode and mode extension from its own first payload byte instead, so that frames switch between
// single channel and stereo. Bit 5 of the second byte makes ID 0 frames MPEG 2.5 frames.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "decoder/tables/frame_rates.h"
#include "fuzz/fuzz_io.h"

namespace {

// Room for the stream: the frames never hold more than the input plus a 4-byte header per frame,
// and the loop stops one longest frame (1441 bytes: 320 kbit/s at 32 kHz) before the end.
uint8_t Stream[1 << 20];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int id = data[0] & 1;
  const int bitrateIndex = 1 + (data[0] >> 1) % 14;
  const int sf = (data[0] >> 5) % 3;
  const int protection = data[1] >> 7;
  const bool perFrameMode = (data[1] >> 4) & 1;
  // Bit 5 of the second byte: the MPEG 2.5 extension's sync word (11.025, 12, 8 kHz) for ID 0.
  const int mpeg25 = id == 0 && ((data[1] >> 5) & 1);
  const int layerIII = 1;
  const int frameLength = FrameBytes(id, layerIII, FrameBitrate(id, layerIII, bitrateIndex),
                                     HeaderSampleRate(id, mpeg25, sf), 0);
  size_t in = 2, out = 0;
  for (int n = 0; in < size && out + 1442 <= sizeof Stream; n++) {
    int modeBits = data[1] & 15;
    if (perFrameMode) modeBits = data[in] & 15;
    const int padding = (n & 1) && (data[1] & 0x40);
    // sync, ID, layer III (01), protection_bit, bitrate, sampling frequency, padding, private
    // bit 0, mode, mode extension, copyright, original, emphasis 0.
    const uint32_t header = (mpeg25 ? 0xFFE00000u : 0xFFF00000u) | uint32_t(id) << 19 | 1u << 17 | uint32_t(protection) << 16 |
                            uint32_t(bitrateIndex) << 12 | uint32_t(sf) << 10 | uint32_t(padding) << 9 |
                            uint32_t(modeBits) << 4;
    Stream[out++] = uint8_t(header >> 24);
    Stream[out++] = uint8_t(header >> 16);
    Stream[out++] = uint8_t(header >> 8);
    Stream[out++] = uint8_t(header);
    size_t payload = size_t(frameLength + padding - 4);
    if (payload > size - in) payload = size - in;
    memcpy(Stream + out, data + in, payload);
    out += payload;
    in += payload;
  }
  fuzzio::DecodeAndCheck(Stream, out);
  return 0;
}
