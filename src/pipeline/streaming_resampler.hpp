#pragma once

#include <span>
#include <vector>

namespace talvorin {

// Converts mono chunks at any source rate to 16000 Hz by linear interpolation, one chunk at
// a time. Between chunks it keeps only the read position, never samples: a position in
// [-1, 0) means the next output falls between the previous chunk's end and this chunk's
// start, and yields this chunk's first sample.
//
// Used only by the IO thread, one call at a time; no lock.
class StreamingResampler {
 public:
  static constexpr double kTargetRate = 16000.0;

  // Source rates outside [kTargetRate / 64, kTargetRate * 1024] are treated like a rate that
  // is not positive: no output, position untouched. The lower bound keeps one call's output
  // within 64 samples per input sample, so a bogus tiny rate cannot ask for billions of
  // samples; the upper bound keeps the carried position below 1024 source samples, so a
  // bogus huge rate cannot silence the stream that follows it. Real devices sit far inside.
  static constexpr double kMinimumSourceRate = kTargetRate / 64.0;
  static constexpr double kMaximumSourceRate = kTargetRate * 1024.0;

  double targetRate() const { return kTargetRate; }

  // Where, in source samples from the first sample of the next chunk, the next output
  // sample is taken. At least -1 between calls.
  double sourcePosition() const { return sourcePosition_; }

  // The chunk at 16000 Hz. A rate within half a hertz of 16000 passes the input through.
  std::vector<float> resample(std::span<const float> input, double sourceRate);

 private:
  double sourcePosition_ = 0.0;
};

}  // namespace talvorin
