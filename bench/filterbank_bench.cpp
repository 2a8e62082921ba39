// Per-granule cost of the decoder's back half, portable against vector paths:
//   build/bin/filterbank_bench [--benchmark_filter=Synthesis]
// Each benchmark handles one channel of one granule (576 samples); items/s is granules/s.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "decoder/stages.h"
#include "decoder/vector_path.h"

namespace {

void Prepare() {
  static bool ready = false;
  if (!ready) {
    BuildImdctWindows();
    ready = true;
  }
  ResetHybrid();
  ResetSynthesis();
  std::memset(&Decoder.Side, 0, sizeof Decoder.Side);
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> value(-300.0f, 300.0f);
  for (float& v : Decoder.DequantizedSpectrum[0]) v = value(rng);
  for (auto& slot : Decoder.HybridOutput)
    for (float& v : slot) v = value(rng);
}

// 18 time slots of one channel: matrixing, windowing, PCM.
void Synthesis(benchmark::State& state) {
  Prepare();
  if (UseVectorPath(state.range(0) != 0) != (state.range(0) != 0)) return state.SkipWithError("no AVX2");
  Decoder.ChannelCount = 2;
  for (auto _ : state) {
    SynthesiseGranule(0);
    benchmark::DoNotOptimize(Decoder.PcmBlock);
  }
  state.SetItemsProcessed(state.iterations());
  UseVectorPath(true);
}
BENCHMARK(Synthesis)->ArgName("vector")->Arg(0)->Arg(1);

// Alias reduction, IMDCT and overlap-add of all 32 subbands of a long-block channel.
void Hybrid(benchmark::State& state) {
  Prepare();
  if (UseVectorPath(state.range(0) != 0) != (state.range(0) != 0)) return state.SkipWithError("no AVX2");
  Decoder.ActiveSubbands[0] = 32;
  Decoder.Side.gr[0][0].block_type = static_cast<int>(state.range(1));
  Decoder.Side.gr[0][0].window_switching_flag = state.range(1) != 0;
  for (auto _ : state) {
    AliasReduce(0, 0);
    HybridChannel(0, 0);
    benchmark::DoNotOptimize(Decoder.HybridOutput);
  }
  state.SetItemsProcessed(state.iterations());
  UseVectorPath(true);
}
BENCHMARK(Hybrid)->ArgNames({"vector", "block_type"})->Args({0, 0})->Args({1, 0})->Args({0, 2})->Args({1, 2});

// Requantization and mid/side of a joint-stereo granule with every line coded.
void JointStereo(benchmark::State& state) {
  Prepare();
  if (UseVectorPath(state.range(0) != 0) != (state.range(0) != 0)) return state.SkipWithError("no AVX2");
  FrameHeader h{};
  h.ID = 1;
  h.mode = 1;
  h.mode_extension = 2;
  SelectBandTables(h);
  std::mt19937 rng(2);
  std::uniform_int_distribution<int> q(-15, 15);
  for (int c = 0; c < 2; ++c) {
    for (int i = 0; i < 576; ++i) Decoder.QuantizedSpectrum[c][i] = q(rng);
    Decoder.CodedLineCount[c] = 576;
    Decoder.Side.gr[0][c].global_gain = 160;
  }
  for (auto _ : state) {
    JointStereoGranule(h, 0);
    benchmark::DoNotOptimize(Decoder.DequantizedSpectrum);
  }
  state.SetItemsProcessed(state.iterations());
  UseVectorPath(true);
}
BENCHMARK(JointStereo)->ArgName("vector")->Arg(0)->Arg(1);

}  // namespace
