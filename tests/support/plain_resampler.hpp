// The resampling algorithm written as plainly as it can be, for tests and fuzzing to hold
// StreamingResampler to, bit for bit.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "pipeline/streaming_resampler.hpp"

namespace talvorin::testing {

// The algorithm as plainly as it can be written: positions accumulated one addition at a
// time, one push per output. The resampler takes shortcuts (a loop without the addition
// chain when no addition rounds); its samples and positions must match this to the bit.
class PlainResampler {
 public:
  std::vector<float> resample(const std::vector<float>& input, double rate) {
    if (input.empty()) return {};
    if (!(rate >= StreamingResampler::kMinimumSourceRate &&
          rate <= StreamingResampler::kMaximumSourceRate)) {
      return {};
    }
    if (std::abs(rate - 16000.0) < 0.5) return input;
    const double step = rate / 16000.0;
    const auto count = static_cast<double>(input.size());
    const auto last = static_cast<std::int64_t>(input.size()) - 1;
    std::vector<float> output;
    double p = position_;
    while (p + 1 < count) {
      const std::int64_t i0 =
          std::clamp(static_cast<std::int64_t>(std::trunc(p)), std::int64_t{0}, last);
      const std::int64_t i1 = std::min(i0 + 1, last);
      double t = p - static_cast<double>(i0);
      t = t < 0 ? 0 : std::min(t, 1.0);
      const float a = input[static_cast<std::size_t>(i0)];
      const float b = input[static_cast<std::size_t>(i1)];
      output.push_back(a + (b - a) * static_cast<float>(t));
      position_ = step + position_;
      p = position_;
    }
    position_ = p - count;
    return output;
  }
  double position() const { return position_; }

 private:
  double position_ = 0.0;
};

}  // namespace talvorin::testing
