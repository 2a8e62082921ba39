// What stands around the audio frames of an MPEG audio file, and the rules that find them: when a
// frame header is valid and belongs to the stream, how long its frame is, what a tag and an
// encoder information frame look like. Written once, for source inspection and the decoder alike,
// so that the window never queues a file that the decoder then refuses, or refuses one it decodes.
// Plain functions over bytes; nothing here allocates or keeps state.
#pragma once
#include <cstddef>
#include <cstdint>

// The facts of one frame header (ISO/IEC 11172-3, 2.4.1.3; ISO/IEC 13818-3, 2.4.1.3; and the MPEG
// 2.5 extension, whose sync word is 0xFFE: ID 0 at 11.025, 12 and 8 kHz).
struct FrameFacts {
  int32_t Id;                 // 1 MPEG-1; 0 the lower sampling frequencies
  int32_t Mpeg25;             // 1 for the extension's sync word 0xFFE (then Id is 0)
  int32_t Layer;              // the header's field: 3 Layer I, 2 Layer II, 1 Layer III
  int32_t ProtectionBit;      // 0: a 16-bit CRC word follows the header
  int32_t BitrateIndex;       // 1..14
  int32_t SamplingFrequency;  // 0..2
  int32_t PaddingBit;
  int32_t Mode;          // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
  int32_t Bitrate;       // kbit/s
  int32_t SampleRate;    // Hz
  int32_t Length;        // bytes of the whole frame, its padding byte included
  int32_t Samples;       // PCM samples per channel that the frame holds
};

// Parses the 4 header bytes at p. True for a header whose every field is one a frame can have:
// the 11-bit sync, a version (the ID 1 with sync 0xFFE is reserved), a layer, a bitrate index 1
// to 14 and a sampling frequency 0 to 2. Free format (bitrate index 0) gives no frame length and
// is not valid here.
bool ParseFrameHeader(const uint8_t* p, FrameFacts& facts);

// A frame belongs to a stream when its version, layer and sampling frequency are the stream's;
// its bitrate, padding and mode may change from frame to frame.
bool SameStream(const FrameFacts& a, const FrameFacts& b);

// Bytes of header, CRC word and side information of a Layer III frame: where its main data starts.
int Layer3SideInfoEnd(const FrameFacts& facts);

// A frame at `offset` (facts parsed from its header) is told from chance bytes by what follows
// it: the 4 bytes `next` at its computed end (nullptr when the data has fewer), which must be a
// valid header of the same stream, or the end of the audio exactly there.
bool FrameConfirmed(const FrameFacts& facts, uint64_t offset, const uint8_t* next, uint64_t audioEnd);

// Length of the ID3v2 tag whose header is the 10 bytes at p: its header, the size its header
// gives and the footer when its flags announce one; 0 when the bytes are no ID3v2 header (a
// version or revision of 0xFF, or a size byte with its top bit set, cannot be one).
uint64_t Id3v2TagLength(const uint8_t* p);

// The encoder information frame: a first frame that holds a Xing, Info or VBRI header instead of
// audio, and what it says.
struct InfoFrame {
  bool Present;
  uint32_t Frames;   // audio frames of the stream, the information frame not counted; 0 unknown
  bool Gapless;      // the LAME extension gives the encoder's delay and padding
  uint32_t Delay;    // samples the encoder added before the audio
  uint32_t Padding;  // samples it added after the audio
};

// Reads the information frame's header, if any, from the n bytes of a Layer III frame at frame.
bool ParseInfoFrame(const uint8_t* frame, size_t n, const FrameFacts& facts, InfoFrame& info);

// The PCM samples per channel that a decode of `frames` audio frames of `samplesPerFrame` gives
// after the gapless rule: the first delay + 529 samples (the encoder's delay and the synthesis
// filterbank's) are dropped and frames x samplesPerFrame - delay - padding are kept. Lead receives
// the samples to drop; the result is the samples to keep (UINT64_MAX: to the end, when the frame
// count is unknown). Without usable gapless facts (none, or a delay and padding that exceed the
// audio) nothing is trimmed: lead 0 and UINT64_MAX.
uint64_t GaplessKeep(const InfoFrame& info, int samplesPerFrame, uint64_t& lead);

// Random access to a file's bytes: reads up to n bytes at offset into buffer and returns how many
// it read (fewer at the end of the file, 0 on failure).
using ByteReader = size_t (*)(void* context, uint64_t offset, uint8_t* buffer, size_t n);

// Where the audio of an MPEG audio file lies.
enum StreamVerdict {
  StreamLayer3,     // a confirmed Layer III frame: the file is a stream the decoder plays
  StreamNotLayer3,  // a valid frame header of Layer I or II where the audio starts
  StreamNone,       // no frame where the audio would start
};

struct StreamLayout {
  uint64_t FirstFrame;  // the first frame: the information frame when there is one
  uint64_t AudioStart;  // the first audio frame
  uint64_t AudioEnd;    // the end of the audio: the tags at the end begin here
  FrameFacts First;     // the first frame's header
  InfoFrame Info;
  bool Tagged;          // an ID3v2 tag or a sync word stands at the start: the file is MPEG audio
                        // whatever the verdict, never to be read as another format
};

// Finds the audio of a file of fileSize bytes (UINT64_MAX when the size cannot be known; the tags
// at the end are then not looked for). The audio starts after any ID3v2 tags and zero bytes,
// exactly there: the file is not searched further. Its first frame must be confirmed (above).
// An information frame is not audio: the audio starts after it, and a file with no frame after
// it holds no audio. Every loop advances through the file, so the work is linear in its size.
StreamVerdict LocateStream(ByteReader read, void* context, uint64_t fileSize, StreamLayout& layout);

// Offset where the tags at the end of a file (ID3v1 with an enhanced block before it, APEv2 with
// or without its header, Lyrics3v2) begin, looking no further back than `start`; fileSize when
// there are none.
uint64_t EndOfAudio(ByteReader read, void* context, uint64_t fileSize, uint64_t start);

// Playing time in whole seconds of a located stream: from the information frame's frame count
// (less the gapless trim) when it gives one, else from the audio's bytes at the first frame's
// bitrate.
uint32_t StreamSeconds(const StreamLayout& layout);
