#pragma once

#include <span>

namespace talvorin {

struct SignalLevels {
  double rms;
  double peak;
};

// Root mean square and largest magnitude of one cycle's samples; both 0 for no samples.
// Each square is taken in single precision and summed in double precision. A not-a-number
// sample makes the rms not a number but never becomes the peak.
SignalLevels measureLevels(std::span<const float> samples);

}  // namespace talvorin
