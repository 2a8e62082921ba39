#include "tests/support/soundfiles.h"

#include <gtest/gtest.h>

const std::vector<ToolMadeSource> ToolMadeSources = {
    {"Wav24_sox", "a.wav", "t -r 44100 -b 24 a.wav", "44100hz; 24bit; stereo", 44100, 2},
    {"Wav32_sox", "a.wav", "t -r 48000 -b 32 a.wav", "48000hz; 32bit; stereo", 48000, 2},
    {"Wav24_96k_ffmpeg", "a.wav", "t -r 96000 x.flac && ff -i x.flac -c:a pcm_s24le a.wav",
     "96000hz; 24bit; stereo", 96000, 2},
    {"Wav16_96k_ffmpeg", "a.wav", "t -r 96000 x.flac && ff -i x.flac a.wav", "96000hz; 16bit; stereo", 96000,
     2},
    {"Float_sox", "a.wav", "t -r 44100 -e floating-point -b 32 a.wav", "44100hz; float; stereo", 44100, 2},
    {"Float_ffmpeg", "a.wav", "ff -i in.wav -c:a pcm_f32le a.wav", "44100hz; float; stereo", 44100, 2},
    {"Rf64_ffmpeg", "a.rf64", "ff -i in.wav -rf64 always -f wav a.rf64", "RF64 44100hz; 16bit; stereo", 44100,
     2},
    {"Wave64_sox", "a.w64", "t -r 44100 -b 16 a.w64", "Wave64 44100hz; 16bit; stereo", 44100, 2},
    {"SixChannels_sox", "six.wav", ":", "48000hz; 16bit; 6ch to stereo", 48000, 6},
    {"SixChannels_ffmpeg", "a.wav", "ff -i six.wav -c:a pcm_s24le a.wav", "48000hz; 24bit; 6ch to stereo",
     48000, 6},
    {"Aiff_sox", "a.aiff", "t -r 44100 -b 16 a.aiff", "AIFF 44100hz; 16bit; stereo", 44100, 2},
    {"AiffC_ffmpeg", "a.aifc", "ff -i in.wav -c:a pcm_s24be -f aiff a.aifc", "AIFF 44100hz; 24bit; stereo",
     44100, 2},
    {"Flac16_flac", "a.flac", "flac -s -o a.flac in.wav", "FLAC 44100hz; 16bit; stereo", 44100, 2},
    {"Flac24_sox", "a.flac", "t -r 96000 -b 24 a.flac", "FLAC 96000hz; 24bit; stereo", 96000, 2},
    {"Flac6_ffmpeg", "a.flac", "ff -i six.wav a.flac", "FLAC 48000hz; 16bit; 6ch to stereo", 48000, 6},
    {"Vorbis_oggenc", "a.ogg", "oggenc -Q -o a.ogg in.wav", "Ogg Vorbis 44100hz; stereo", 44100, 2},
    {"Opus_opusenc", "a.opus", "opusenc --quiet in.wav a.opus", "Opus 48000hz; stereo", 48000, 2},
    {"Opus6_ffmpeg", "a.opus", "ff -i six.wav -c:a libopus a.opus", "Opus 48000hz; 6ch to stereo", 48000, 6},
};

std::string MakeToolSource(const ScratchDir& dir, const ToolMadeSource& row) {
  const std::string command =
      "cd '" + dir.Path + "' && t() { sox -n -c 2 \"$@\" synth 2 sine 440 sine 1000 gain -6; } && " +
      "ff() { ffmpeg -nostdin -loglevel error -y \"$@\"; } && t -r 44100 -b 16 in.wav && " +
      "sox -n -r 48000 -c 6 -b 16 six.wav synth 2 sine 440 sine 1000 sine 440 sine 60 sine 440 sine 1000 "
      "gain -9 && " +
      row.command;
  EXPECT_EQ(RunQuiet({"sh", "-c", command}), 0) << command;
  return dir.File(row.file);
}
