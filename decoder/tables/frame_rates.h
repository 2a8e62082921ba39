// Bitrate and sampling-frequency tables of the MPEG audio frame header and the length of a frame:
// the one source of these facts for source file inspection, the decoder and tompg.
#pragma once
#include <cstdint>

// kbit/s by [ID][3 - layer][bitrate_index 0..14]: ID 0 rows from ISO/IEC 13818-3 Table 2.4.2.3,
// ID 1 rows from ISO/IEC 11172-3 Table 2.4.2.3. Index 0 is free format (0).
extern const int16_t FrameBitrateTable[2][3][15];
// Hz by [ID][sampling_frequency 0..2].
extern const int32_t FrameSampleRateTable[2][3];

// Bitrate in kbit/s for header fields as they stand in a stream; 0 for free format, the
// forbidden index 15 and the reserved layer value 0.
int FrameBitrate(int id, int layer, int bitrate_index);
// Sampling frequency in Hz; 0 for the reserved index 3.
int FrameSampleRate(int id, int sampling_frequency);
// Hz of the MPEG 2.5 extension (sync word 0xFFE, ID 0) by sampling_frequency: half the rates of
// ISO/IEC 13818-3.
extern const int32_t Mpeg25SampleRateTable[3];
// Sampling frequency of a header: mpeg25 is 1 for the extension's sync word; 0 for the reserved
// index 3.
int HeaderSampleRate(int id, int mpeg25, int sampling_frequency);
// Length in bytes of a frame coded as `layer` (the header field: 3 Layer I, 2 Layer II, 1 Layer
// III) at `kbps` and `sample_rate` Hz, with its padding slot when padding_bit is 1: samples per
// frame / 8 x bitrate / sampling frequency, the remainder dropped (ISO/IEC 11172-3 2.4.3.1,
// ISO/IEC 13818-3 2.4.3.1); Layer I counts whole 4-byte slots. 0 when a value is not covered
// (free format, a reserved index).
int FrameBytes(int id, int layer, int kbps, int sample_rate, int padding_bit);
