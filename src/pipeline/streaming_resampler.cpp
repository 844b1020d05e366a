#include "pipeline/streaming_resampler.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace talvorin {

std::vector<float> StreamingResampler::resample(std::span<const float> input, double sourceRate) {
  const std::size_t n = input.size();
  if (n == 0) return {};
  // Also refuses a not-a-number rate, for which every comparison is false.
  if (!(sourceRate >= kMinimumSourceRate && sourceRate <= kMaximumSourceRate)) return {};
  if (std::abs(sourceRate - kTargetRate) < 0.5) return {input.begin(), input.end()};

  const double step = sourceRate / kTargetRate;
  const auto count = static_cast<double>(n);
  std::vector<float> output;
  output.reserve(static_cast<std::size_t>(count / step) + 2);

  const std::size_t last = n - 1;
  const float* samples = input.data();
  double position = sourcePosition_;
  while (position + 1.0 < count) {
    // The position is never below -1 here, so truncation toward zero never goes below -1.
    const auto truncated = static_cast<std::int64_t>(position);
    const std::size_t i0 = truncated < 0 ? 0 : std::min(static_cast<std::size_t>(truncated), last);
    const std::size_t i1 = std::min(i0 + 1, last);
    double t = position - static_cast<double>(i0);
    t = t < 0.0 ? 0.0 : std::min(t, 1.0);
    const float a = samples[i0];
    const float b = samples[i1];
    output.push_back(a + (b - a) * static_cast<float>(t));
    // Accumulated by addition, never index times step, so the output of a run of chunks
    // follows the rounding of a single long one.
    position = step + position;
  }
  sourcePosition_ = position - count;
  return output;
}

}  // namespace talvorin
