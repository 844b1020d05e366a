#include "pipeline/levels.hpp"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace talvorin {
namespace {

TEST(MeasureLevels, RmsAndPeakOfOneCycle) {
  constexpr float nan = std::numeric_limits<float>::quiet_NaN();
  constexpr double inf = std::numeric_limits<double>::infinity();
  struct Case {
    std::string name;
    std::vector<float> samples;
    double rms;  // not a number where the rms must be one
    double peak;
  };
  const std::vector<Case> cases = {
      {"two samples", {0.25f, -0.75f}, std::sqrt(0.3125), 0.75},
      {"silence", {0.0f, 0.0f, -0.0f}, 0.0, 0.0},
      {"no samples", {}, 0.0, 0.0},
      {"negative peak is a magnitude",
       {0.5f, -1.5f, 1.0f},
       std::sqrt((0.25 + 2.25 + 1.0) / 3),
       1.5},
      {"a not-a-number sample never becomes the peak", {nan, 0.5f, nan}, std::nan(""), 0.5},
      // The square is taken in single precision: it underflows to 0 and overflows to infinity
      // where a double-precision square would not.
      {"tiny samples square to zero in single precision", {1e-30f, -1e-30f}, 0.0, 1e-30f},
      {"huge samples square to infinity in single precision", {1e20f}, inf, 1e20f},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const SignalLevels levels = measureLevels(c.samples);
    if (std::isnan(c.rms)) {
      EXPECT_TRUE(std::isnan(levels.rms));
    } else {
      EXPECT_DOUBLE_EQ(levels.rms, c.rms);
    }
    EXPECT_EQ(levels.peak, c.peak);
  }
}

}  // namespace
}  // namespace talvorin
