#include "tests/support/soundfiles.h"

#include <gtest/gtest.h>

namespace {

// The tones, two seconds; for the sox rows after its options, for ffmpeg as two inputs merged.
#define SOX_TONES " synth 2 sine 440 sine 1000 gain -6"
#define FF "ffmpeg -nostdin -loglevel error -y "
#define FF_TONES(rate)                                                             \
  "-f lavfi -i sine=f=440:r=" #rate ":d=2 -f lavfi -i sine=f=1000:r=" #rate ":d=2 " \
  "-filter_complex amerge=inputs=2 "
// Six channels in the WAVE order FL FR FC LFE BL BR.
#define SOX_SIX " synth 2 sine 440 sine 1000 sine 440 sine 60 sine 440 sine 1000 gain -9"

}  // namespace

const std::vector<ToolMadeSource> ToolMadeSources = {
    {"Wav24_sox", "a.wav", "sox -n -r 44100 -c 2 -b 24 OUT" SOX_TONES, "44100hz; 24bit; stereo", 44100, 2, 88200},
    {"Wav32_sox", "a.wav", "sox -n -r 48000 -c 2 -b 32 OUT" SOX_TONES, "48000hz; 32bit; stereo", 48000, 2, 96000},
    {"Wav24_96k_ffmpeg", "a.wav", FF FF_TONES(96000) "-c:a pcm_s24le OUT", "96000hz; 24bit; stereo", 96000, 2,
     192000},
    {"Wav16_96k_ffmpeg", "a.wav", FF FF_TONES(96000) "-c:a pcm_s16le OUT", "96000hz; 16bit; stereo", 96000, 2,
     192000},
    {"Float_sox", "a.wav", "sox -n -r 44100 -c 2 -e floating-point -b 32 OUT" SOX_TONES, "44100hz; float; stereo",
     44100, 2, 88200},
    {"Float_ffmpeg", "a.wav", FF FF_TONES(44100) "-c:a pcm_f32le OUT", "44100hz; float; stereo", 44100, 2, 88200},
    {"Rf64_ffmpeg", "a.rf64", FF FF_TONES(48000) "-c:a pcm_s24le -rf64 always -f wav OUT", "RF64 48000hz; 24bit; stereo",
     48000, 2, 96000},
    {"Wave64_sox", "a.w64", "sox -n -r 44100 -c 2 -b 16 OUT" SOX_TONES, "Wave64 44100hz; 16bit; stereo", 44100, 2,
     88200},
    {"SixChannels_sox", "a.wav", "sox -n -r 48000 -c 6 -b 16 OUT" SOX_SIX, "48000hz; 16bit; 6ch to stereo", 48000, 6,
     96000},
    {"SixChannels_ffmpeg", "a.wav", "sox -n -r 48000 -c 6 -b 24 IN6.wav" SOX_SIX " && " FF "-i IN6.wav -c:a pcm_s24le OUT",
     "48000hz; 24bit; 6ch to stereo", 48000, 6, 96000},
    {"Aiff_sox", "a.aiff", "sox -n -r 44100 -c 2 -b 16 OUT" SOX_TONES, "AIFF 44100hz; 16bit; stereo", 44100, 2, 88200},
    {"AiffC_ffmpeg", "a.aifc", FF FF_TONES(44100) "-c:a pcm_s24be -f aiff OUT", "AIFF 44100hz; 24bit; stereo", 44100, 2,
     88200},
    {"Flac16_flac", "a.flac", "flac -s -f -o OUT IN", "FLAC 44100hz; 16bit; stereo", 44100, 2, 88200},
    {"Flac24_sox", "a.flac", "sox -n -r 96000 -c 2 -b 24 OUT" SOX_TONES, "FLAC 96000hz; 24bit; stereo", 96000, 2,
     192000},
    {"Flac6_ffmpeg", "a.flac", "sox -n -r 48000 -c 6 -b 16 IN6.wav" SOX_SIX " && " FF "-i IN6.wav OUT",
     "FLAC 48000hz; 16bit; 6ch to stereo", 48000, 6, 96000},
    {"Vorbis_oggenc", "a.ogg", "oggenc -Q -o OUT IN", "Ogg Vorbis 44100hz; stereo", 44100, 2, 88200, true},
    {"Opus_opusenc", "a.opus", "opusenc --quiet IN OUT", "Opus 48000hz; stereo", 48000, 2, 96000, true},
    {"Opus6_ffmpeg", "a.opus", "sox -n -r 48000 -c 6 -b 16 IN6.wav" SOX_SIX " && " FF "-i IN6.wav -c:a libopus OUT",
     "Opus 48000hz; 6ch to stereo", 48000, 6, 96000, true},
};

std::string MakeToolSource(const ScratchDir& dir, const ToolMadeSource& row) {
  std::string command = std::string("cd '") + dir.Path + "' && sox -n -r 44100 -c 2 -b 16 IN.wav" SOX_TONES " && ";
  for (const char* p = row.command; *p; ++p) {
    if (std::string_view(p).starts_with("OUT")) {
      command += row.file;
      p += 2;
    } else if (std::string_view(p).starts_with("IN") && !std::string_view(p).starts_with("IN6")) {
      command += "IN.wav";
      p += 1;
    } else {
      command += *p;
    }
  }
  EXPECT_EQ(RunQuiet({"sh", "-c", command}), 0) << command;
  return FileExists(dir.File(row.file)) ? dir.File(row.file) : std::string();
}
