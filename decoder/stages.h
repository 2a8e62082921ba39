// The decoder's stage functions, private to decoder/. Each works on the static block Decoder;
// decoder/vector_path.h switches all of them between their AVX2 and their portable code.
#pragma once
#include <cstdint>
#include <cstdio>

#include "decoder/layer3.h"

// input.cpp: the source file through one window of its bytes.
void OpenInput(FILE* file);  // a new decode's input, read from its current position
uint64_t InputTell();        // offset of the next byte to read
void SetInputEnd(uint64_t end);  // sequential reads and looks ahead end here (the audio's end)
bool InputSeek(uint64_t offset);
size_t InputRead(void* buffer, size_t n);  // fewer bytes at the end
// The next n bytes (at most InputWindowSize) without taking them; available receives how many
// there are before the end.
const uint8_t* InputPeek(uint32_t n, uint32_t& available);
void InputSkip(uint32_t n);
// Reads at any offset (the stream's start and end are located with it); a ByteReader.
size_t InputReadAt(void* context, uint64_t offset, uint8_t* buffer, size_t n);

// bitstream.cpp: header and side-information reader, frame header, bit reservoir.
int ReadHeaderBytes(int n);  // returns the number of bytes read
uint32_t GetHeaderBits(int n);
HeaderResult ReadFrameHeader(FrameHeader& header);
void SkipCrc();
void AppendMainData(int n);
uint32_t PeekMainBits(int n);
void SkipMainBits(int n);
uint32_t GetMainBits(int n);

// sideinfo.cpp: side information, scale factors, band table selection.
void ReadSideInfo(const FrameHeader& header);
void SelectBandTables(const FrameHeader& header);
int DecodeScaleFactors(const FrameHeader& header, int g, int c);  // part2 length in bits

// huffman.cpp: spectral values.
void DecodeSpectrum(int g, int c, int part2);

// requantize.cpp: requantization, reordering of short blocks, stereo.
void DequantizeChannel(const FrameHeader& header, int g, int c);
void JointStereoGranule(const FrameHeader& header, int g);

// hybrid.cpp: alias reduction, IMDCT, overlap-add.
void BuildImdctWindows();
void ResetHybrid();
void AliasReduce(int g, int c);    // skips pure short blocks itself
void HybridChannel(int g, int c);  // all 32 subbands of channel c into HybridOutput

// synthesis.cpp: polyphase synthesis and PCM.
void ResetSynthesis();
void SynthesiseGranule(int c);  // the 18 time slots of channel c into PcmBlock
int16_t PcmSample(float sum);   // truncation toward zero, then saturation to 16 bits
