// The decoder's stage functions, private to decoder/. Each works on the static block Decoder;
// decoder/vector_path.h switches all of them between their AVX2 and their portable code.
#pragma once
#include <cstdint>

#include "decoder/layer3.h"

// bitstream.cpp: header and side-information reader, frame header, bit reservoir.
int ReadHeaderBytes(int n);  // returns the number of bytes read
uint32_t GetHeaderBits(int n);
HeaderResult ReadFrameHeader(FrameHeader& header);
void SkipCrc();
void AppendMainData(int n);
uint32_t PeekMainBits(int n);
void SkipMainBits(int n);
uint32_t GetMainBits(int n);
int FrameLength(const FrameHeader& header);  // bytes, without the padding byte; 0 if not covered

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
