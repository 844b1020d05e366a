// One IO cycle through the conversion pipeline (decode, resample, encode) for 10 ms of the
// formats devices deliver, with the heap allocations each cycle makes.
#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#include "allocation_counter.hpp"

#include "pipeline/pcm_decoder.hpp"
#include "pipeline/pcm_encoder.hpp"
#include "pipeline/streaming_resampler.hpp"
#include "support/buffer_lists.hpp"

namespace talvorin {
namespace {

using testing::BufferList;

// A sine-like signal with distinct channels, so nothing folds away.
template <typename Sample>
std::vector<Sample> channelSamples(int frames, int channel, double scale) {
  std::vector<Sample> samples;
  for (int f = 0; f < frames; ++f) {
    const double phase = static_cast<double>((f * 37 + channel * 11) % 200) / 100.0 - 1.0;
    samples.push_back(static_cast<Sample>(phase * 0.8 * scale));
  }
  return samples;
}

template <typename Sample>
std::vector<Sample> interleave(const std::vector<std::vector<Sample>>& channels) {
  std::vector<Sample> samples;
  for (std::size_t f = 0; f < channels[0].size(); ++f) {
    for (const auto& channel : channels) samples.push_back(channel[f]);
  }
  return samples;
}

void runCycles(benchmark::State& state, const BufferList& buffers,
               const AudioStreamBasicDescription& format) {
  StreamingResampler resampler;
  std::uint64_t allocations = 0;
  for (auto _ : state) {
    const std::uint64_t before = bench::allocationCount();
    const std::vector<float> samples = readMonoFloatSamples(buffers.list(), format);
    const std::vector<float> resampled = resampler.resample(samples, format.mSampleRate);
    const std::vector<std::uint8_t> payload = encodePCM16(resampled);
    benchmark::DoNotOptimize(payload.data());
    benchmark::ClobberMemory();
    allocations += bench::allocationCount() - before;
  }
  state.counters["allocs_per_cycle"] =
      benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}

void floatStereo(benchmark::State& state, double rate, bool interleaved) {
  const int frames = static_cast<int>(rate / 100);
  const std::vector<std::vector<float>> channels = {channelSamples<float>(frames, 0, 1.0),
                                                    channelSamples<float>(frames, 1, 1.0)};
  const BufferList buffers = interleaved ? BufferList::interleaved(interleave(channels))
                                         : BufferList::nonInterleaved(channels);
  runCycles(state, buffers, testing::floatFormat(rate, 2, interleaved));
}

void BM_Cycle48kStereoFloatInterleaved(benchmark::State& state) {
  floatStereo(state, 48000, true);
}
void BM_Cycle48kStereoFloatNonInterleaved(benchmark::State& state) {
  floatStereo(state, 48000, false);
}
void BM_Cycle44k1StereoFloat(benchmark::State& state) {
  floatStereo(state, 44100, true);
}
void BM_Cycle96kStereoFloat(benchmark::State& state) {
  floatStereo(state, 96000, true);
}

void BM_Cycle48kStereoInt16(benchmark::State& state) {
  const std::vector<std::vector<std::int16_t>> channels = {
      channelSamples<std::int16_t>(480, 0, 32767.0), channelSamples<std::int16_t>(480, 1, 32767.0)};
  const BufferList buffers = BufferList::interleaved(interleave(channels));
  runCycles(state, buffers, testing::int16Format(48000, 2));
}

// The stages of the 48000 Hz stereo float cycle on their own, to see where a cycle's time
// goes.
void BM_Stage48kDecode(benchmark::State& state) {
  const std::vector<std::vector<float>> channels = {channelSamples<float>(480, 0, 1.0),
                                                    channelSamples<float>(480, 1, 1.0)};
  const BufferList buffers = BufferList::interleaved(interleave(channels));
  const AudioStreamBasicDescription format = testing::floatFormat(48000, 2);
  for (auto _ : state) {
    const std::vector<float> samples = readMonoFloatSamples(buffers.list(), format);
    benchmark::DoNotOptimize(samples.data());
  }
}

void BM_Stage48kResample(benchmark::State& state) {
  const std::vector<float> samples = channelSamples<float>(480, 0, 1.0);
  StreamingResampler resampler;
  for (auto _ : state) {
    const std::vector<float> resampled = resampler.resample(samples, 48000);
    benchmark::DoNotOptimize(resampled.data());
  }
}

void BM_Stage48kEncode(benchmark::State& state) {
  const std::vector<float> samples = channelSamples<float>(160, 0, 1.2);
  for (auto _ : state) {
    const std::vector<std::uint8_t> payload = encodePCM16(samples);
    benchmark::DoNotOptimize(payload.data());
  }
}

BENCHMARK(BM_Cycle48kStereoFloatInterleaved);
BENCHMARK(BM_Cycle48kStereoFloatNonInterleaved);
BENCHMARK(BM_Cycle44k1StereoFloat);
BENCHMARK(BM_Cycle96kStereoFloat);
BENCHMARK(BM_Cycle48kStereoInt16);
BENCHMARK(BM_Stage48kDecode);
BENCHMARK(BM_Stage48kResample);
BENCHMARK(BM_Stage48kEncode);

}  // namespace
}  // namespace talvorin

BENCHMARK_MAIN();
