#include "pipeline/levels.hpp"

#include <cmath>

namespace talvorin {

SignalLevels measureLevels(std::span<const float> samples) {
  if (samples.empty()) return SignalLevels{0.0, 0.0};
  double sum = 0.0;
  double peak = 0.0;
  for (const float sample : samples) {
    const float square = sample * sample;
    sum += static_cast<double>(square);
    const auto magnitude = static_cast<double>(std::fabs(sample));
    // A not-a-number magnitude fails the comparison and is never taken.
    if (peak <= magnitude) peak = magnitude;
  }
  return SignalLevels{std::sqrt(sum / static_cast<double>(samples.size())), peak};
}

}  // namespace talvorin
