// Bitrate and sampling-frequency tables of the MPEG audio frame header, shared by source file
// inspection and the decoder.
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
