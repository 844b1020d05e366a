#include "pipeline/streaming_resampler.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace talvorin {

namespace {

struct Progress {
  double position;
  std::size_t produced;
};

// One output sample, by linear interpolation at a position in [-1, count - 1): the loops
// below run only while position + 1 < count, and that sum cannot round up to count unless
// the position had reached count - 1. So i0 needs clamping only below (a position in
// [-1, 0) reads the first sample with t = 0), i0 + 1 is inside the chunk whenever there is
// more than one sample, and t never reaches 1.
inline float interpolateAt(const float* samples, std::size_t next, double position) {
  const auto truncated = static_cast<std::int64_t>(position);
  const std::size_t i0 = truncated < 0 ? 0 : static_cast<std::size_t>(truncated);
  const double t = std::max(0.0, position - static_cast<double>(i0));
  const float a = samples[i0];
  const float b = samples[i0 + next];
  return a + (b - a) * static_cast<float>(t);
}

// The loop as the positions are defined: accumulated by addition, never index times step, so
// the output of a run of chunks follows the rounding of a single long one. It is one chain
// of additions; kept out of line so that no call in the caller can force the position out
// of its register, which would double the time per sample.
[[gnu::noinline]] Progress interpolateAccumulated(std::span<const float> input, double step,
                                                  Progress progress, float* out,
                                                  std::size_t capacity) {
  const auto count = static_cast<double>(input.size());
  const std::size_t next = input.size() > 1 ? 1 : 0;
  double position = progress.position;
  std::size_t produced = progress.produced;
  while (position + 1.0 < count && produced < capacity) {
    out[produced++] = interpolateAt(input.data(), next, position);
    position = step + position;
  }
  return Progress{position, produced};
}

// The same loop when no addition in it rounds: then start + k * step is exactly the k-th
// accumulated position, and the samples no longer wait on one another.
[[gnu::noinline]] Progress interpolateExact(std::span<const float> input, double step, double start,
                                            float* out, std::size_t capacity) {
  const auto count = static_cast<double>(input.size());
  const std::size_t next = input.size() > 1 ? 1 : 0;
  std::size_t k = 0;
  double position = start;
  while (position + 1.0 < count && k < capacity) {
    out[k] = interpolateAt(input.data(), next, position);
    ++k;
    position = start + static_cast<double>(k) * step;
  }
  return Progress{position, k};
}

// The exponent of the coarsest power of two of which the finite value is a whole multiple
// (a large number for zero).
int gridExponent(double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const auto biasedExponent = static_cast<int>((bits >> 52) & 0x7FF);
  std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
  if (biasedExponent == 0) {
    if (mantissa == 0) return 4096;
    return -1074 + std::countr_zero(mantissa);
  }
  mantissa |= std::uint64_t{1} << 52;
  return biasedExponent - 1075 + std::countr_zero(mantissa);
}

// Whether every value the loop computes (positions, position + 1, k * step) lies on the grid
// of the start, the step and 1 and is small enough for that grid to be exact in double
// precision: then no addition or product rounds. Common for the usual device rates (48000,
// 96000, 32000, 24000 Hz) from a whole or half-sample position.
bool additionsAreExact(double start, double step, double count) {
  const int grid = std::min({gridExponent(start), gridExponent(step), 0});
  // Every magnitude stays below count + step + 2, from a start of at least -1.
  const double largest = count + step + 2.0;
  return grid > -53 && largest < std::ldexp(1.0, 53 + grid);
}

}  // namespace

std::vector<float> StreamingResampler::resample(std::span<const float> input, double sourceRate) {
  const std::size_t n = input.size();
  if (n == 0) return {};
  // Also refuses a not-a-number rate, for which every comparison is false.
  if (!(sourceRate >= kMinimumSourceRate && sourceRate <= kMaximumSourceRate)) return {};
  if (std::abs(sourceRate - kTargetRate) < 0.5) return {input.begin(), input.end()};

  const double step = sourceRate / kTargetRate;
  const auto count = static_cast<double>(n);
  // Every position below count - 1 from a start of at least -1: at most count / step + 1 of
  // them, one more for rounding. With step at least 1/64 this is at most 64 per input.
  std::vector<float> output(static_cast<std::size_t>(count / step) + 2);
  Progress progress{sourcePosition_, 0};
  if (additionsAreExact(sourcePosition_, step, count)) {
    progress = interpolateExact(input, step, sourcePosition_, output.data(), output.size());
  }
  while (progress.position + 1.0 < count) {
    // Not reached from the exact loop, whose size above covers every position; the
    // accumulating loop continues from wherever it stopped.
    if (progress.produced == output.size()) output.resize(2 * output.size());
    progress = interpolateAccumulated(input, step, progress, output.data(), output.size());
  }
  output.resize(progress.produced);
  sourcePosition_ = progress.position - count;
  return output;
}

}  // namespace talvorin
