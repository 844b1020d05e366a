// Runs the resampler over a series of chunks at arbitrary rates (ordinary, tiny, huge,
// negative, not a number, infinite) and sizes, and checks it against the plain algorithm
// to the bit, together with its invariants: the position never falls below -1 or becomes
// non-finite, a refused rate changes nothing, and one call's output stays bounded.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "pipeline/streaming_resampler.hpp"
#include "support/plain_resampler.hpp"

namespace {

using talvorin::StreamingResampler;

double pickRate(FuzzedDataProvider& data) {
  static constexpr double special[] = {
      0.0,
      -0.0,
      -48000.0,
      0.001,
      1e-300,
      std::numeric_limits<double>::denorm_min(),
      1e300,
      std::numeric_limits<double>::max(),
      std::numeric_limits<double>::infinity(),
      -std::numeric_limits<double>::infinity(),
      std::numeric_limits<double>::quiet_NaN(),
      StreamingResampler::kMinimumSourceRate,
      StreamingResampler::kMaximumSourceRate,
      15999.5,
      16000.49,
      16000.5,
      8000.0,
      11025.0,
      22050.0,
      24000.0,
      32000.0,
      44100.0,
      48000.0,
      88200.0,
      96000.0,
      192000.0,
  };
  switch (data.ConsumeIntegralInRange(0, 2)) {
    case 0:
      return special[data.ConsumeIntegralInRange<std::size_t>(0, std::size(special) - 1)];
    case 1:
      return data.ConsumeFloatingPointInRange(100.0, 400000.0);
    default: {
      // Any bit pattern at all.
      const auto bits = data.ConsumeIntegral<std::uint64_t>();
      double rate;
      std::memcpy(&rate, &bits, sizeof rate);
      return rate;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  StreamingResampler resampler;
  talvorin::testing::PlainResampler plain;
  const int calls = data.ConsumeIntegralInRange(1, 16);
  for (int call = 0; call < calls && data.remaining_bytes() > 0; ++call) {
    const double rate = pickRate(data);
    const auto length = data.ConsumeIntegralInRange<std::size_t>(0, 4096);
    std::vector<float> input(length);
    for (std::size_t i = 0; i < length; ++i) {
      input[i] = data.remaining_bytes() > 0 ? data.ConsumeFloatingPointInRange(-2.0f, 2.0f)
                                            : static_cast<float>(i % 7) * 0.25f;
    }

    const double before = resampler.sourcePosition();
    const std::vector<float> output = resampler.resample(input, rate);
    const double after = resampler.sourcePosition();

    if (!std::isfinite(after)) std::abort();
    if (after != before && after < -1.0) std::abort();
    // At most 64 outputs per input sample, and a passthrough returns exactly the input.
    if (output.size() > 64 * length + 2) std::abort();
    const bool accepted = rate >= StreamingResampler::kMinimumSourceRate &&
                          rate <= StreamingResampler::kMaximumSourceRate;
    if (!accepted && (!output.empty() || after != before)) std::abort();

    const std::vector<float> expected = plain.resample(input, rate);
    if (expected.size() != output.size()) std::abort();
    if (!output.empty() &&
        std::memcmp(expected.data(), output.data(), output.size() * sizeof(float)) != 0) {
      std::abort();
    }
  }
  return 0;
}
