#include "pipeline/streaming_resampler.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/plain_resampler.hpp"

namespace talvorin {
namespace {

// Values equal to their running index, so an output sample shows where it was taken.
std::vector<float> ramp(int first, int count) {
  std::vector<float> values;
  for (int i = 0; i < count; ++i) values.push_back(static_cast<float>(first + i));
  return values;
}

std::vector<float> stepped(float first, float step, int count) {
  std::vector<float> values;
  for (int i = 0; i < count; ++i) values.push_back(first + step * static_cast<float>(i));
  return values;
}

std::vector<float> joined(std::vector<float> head, const std::vector<float>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

struct Call {
  double rate;
  std::vector<float> input;
  std::vector<float> expected;
  double positionAfter;
};

struct Sequence {
  std::string name;
  std::vector<Call> calls;
};

TEST(StreamingResampler, StartsAtPositionZeroWithTargetRate16000) {
  const StreamingResampler resampler;
  EXPECT_EQ(resampler.targetRate(), 16000.0);
  EXPECT_EQ(resampler.sourcePosition(), 0.0);
}

TEST(StreamingResampler, FollowsTheWorkedExamples) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::vector<Sequence> sequences = {
      {"48000 Hz in 512-sample chunks: 171, 170, 171",
       {{48000, ramp(0, 512), stepped(0, 3, 171), 1.0},
        {48000, ramp(512, 512), stepped(513, 3, 170), -1.0},
        {48000, ramp(1024, 512), joined({1024}, stepped(1026, 3, 170)), 0.0}}},
      {"24000 Hz: a carried position yields the next chunk's first sample",
       {{24000, {0, 1, 2, 3}, {0, 1.5f}, -1.0},
        {24000, {4, 5, 6, 7}, {4, 4.5f, 6}, -0.5},
        {24000, {8, 9, 10, 11}, {8, 9, 10.5f}, 0.0}}},
      {"32000 Hz takes every other sample", {{32000, {0.1f, 0.2f, 0.3f, 0.4f}, {0.1f, 0.3f}, 0.0}}},
      {"one-sample chunks at 48000 Hz",
       {{48000, {7}, {}, -1.0}, {48000, {8}, {8}, 1.0}, {48000, {9}, {}, 0.0}}},
      {"within half a hertz of 16000 passes through and keeps the position",
       {{48000, {1, 2}, {1}, 1.0},
        {16000.3, {0.5f, nan, -2}, {0.5f, nan, -2}, 1.0},
        {15999.6, {0.25f}, {0.25f}, 1.0},
        {16000, {9}, {9}, 1.0}}},
      {"8000 Hz interpolates halfway between samples",
       {{8000, {0, 1, 3}, {0, 0.5f, 1, 2}, -1.0}, {8000, {5, 6}, {5, 5, 5, 5.5f}, -1.0}}},
      {"not a usable rate: nothing out, position kept",
       {{48000, {1, 2}, {1}, 1.0},
        {0, {1, 2, 3}, {}, 1.0},
        {-48000, {1, 2, 3}, {}, 1.0},
        {std::numeric_limits<double>::quiet_NaN(), {1, 2, 3}, {}, 1.0},
        {std::numeric_limits<double>::infinity(), {1, 2, 3}, {}, 1.0},
        {1e300, {1, 2, 3}, {}, 1.0},
        {0.001, {1, 2, 3}, {}, 1.0},
        {StreamingResampler::kMinimumSourceRate * 0.999, {1, 2, 3}, {}, 1.0},
        {StreamingResampler::kMaximumSourceRate * 1.001, {1, 2, 3}, {}, 1.0}}},
      {"an empty chunk gives nothing whatever the rate",
       {{48000, {}, {}, 0.0}, {16000, {}, {}, 0.0}, {-1, {}, {}, 0.0}}},
  };
  for (const auto& sequence : sequences) {
    SCOPED_TRACE(sequence.name);
    StreamingResampler resampler;
    for (std::size_t i = 0; i < sequence.calls.size(); ++i) {
      const Call& call = sequence.calls[i];
      SCOPED_TRACE("call " + std::to_string(i) + " at " + std::to_string(call.rate) + " Hz");
      const std::vector<float> output = resampler.resample(call.input, call.rate);
      ASSERT_EQ(output.size(), call.expected.size());
      for (std::size_t k = 0; k < output.size(); ++k) {
        if (std::isnan(call.expected[k])) {
          EXPECT_TRUE(std::isnan(output[k])) << "sample " << k;
        } else {
          EXPECT_EQ(output[k], call.expected[k]) << "sample " << k;
        }
      }
      EXPECT_EQ(resampler.sourcePosition(), call.positionAfter);
    }
  }
}

TEST(StreamingResampler, HalfAHertzOffIsResampled) {
  StreamingResampler resampler;
  const std::vector<float> output = resampler.resample(ramp(0, 4), 16000.5);
  const double step = 16000.5 / 16000.0;
  ASSERT_EQ(output.size(), 3u);
  EXPECT_EQ(output[0], 0.0f);
  EXPECT_NEAR(output[1], step, 1e-6);
  EXPECT_NEAR(output[2], 2 * step, 1e-6);
  EXPECT_NEAR(resampler.sourcePosition(), 3 * step - 4, 1e-12);
}

TEST(StreamingResampler, SlowestAcceptedRateBoundsOneCallsOutput) {
  StreamingResampler resampler;
  const std::vector<float> output =
      resampler.resample(ramp(0, 512), StreamingResampler::kMinimumSourceRate);
  // 64 outputs per source sample at positions k/64 below 511: 511 * 64 of them.
  EXPECT_EQ(output.size(), 511u * 64u);
  EXPECT_LE(output.size(), 64u * 512u + 1u);
  EXPECT_GE(resampler.sourcePosition(), -1.0);
}

TEST(StreamingResampler, FastestAcceptedRateCarriesAtMostOneStep) {
  StreamingResampler resampler;
  EXPECT_EQ(resampler.resample(ramp(0, 512), StreamingResampler::kMaximumSourceRate).size(), 1u);
  EXPECT_EQ(resampler.sourcePosition(), 1024.0 - 512.0);
  // The stream comes back once the carried position has been consumed.
  EXPECT_TRUE(resampler.resample(ramp(0, 512), 48000).empty());
  EXPECT_EQ(resampler.resample(ramp(0, 512), 48000).size(), 171u);
}

// Across device rates and chunk sizes: the output count follows the rate ratio, the position
// never falls below -1, and each output lies on the input ramp where the accumulated
// position says, or up to one sample later (a carried position yields a chunk's first
// sample). The count may trail the ratio by the outputs that wait for the next chunk: one
// when downsampling, up to 1 / step when upsampling.
TEST(StreamingResampler, KeepsItsInvariantsAcrossRatesAndChunkSizes) {
  const std::vector<double> rates = {8000,  11025, 12000, 16000.5, 22050,  24000, 32000,
                                     44100, 48000, 88200, 96000,   176400, 192000};
  const std::vector<int> chunkSizes = {1, 2, 3, 5, 7, 64, 160, 441, 480, 512, 1000, 4096};
  constexpr int totalInput = 16000;
  constexpr double tolerance = 0.01;  // single-precision rounding of values up to 16000
  for (const double rate : rates) {
    for (const int chunkSize : chunkSizes) {
      SCOPED_TRACE(std::to_string(rate) + " Hz, chunks of " + std::to_string(chunkSize));
      const double step = rate / 16000.0;
      const double allowedLag = std::max(1.0, 1.0 / step);
      StreamingResampler resampler;
      std::size_t produced = 0;
      int consumed = 0;
      float previous = -1.0f;
      bool inStep = true;
      while (consumed < totalInput && inStep) {
        const std::vector<float> output = resampler.resample(ramp(consumed, chunkSize), rate);
        for (const float value : output) {
          const double expected = static_cast<double>(produced) * step;
          inStep = inStep && value >= previous && value >= expected - tolerance &&
                   value <= expected + 1.0 + tolerance;
          previous = value;
          ++produced;
        }
        consumed += chunkSize;
        const double ratio = consumed / step;
        const auto count = static_cast<double>(produced);
        inStep = inStep && resampler.sourcePosition() >= -1.0 && count <= ratio + 1.0 &&
                 count >= ratio - allowedLag;
      }
      EXPECT_TRUE(inStep) << "after " << consumed << " inputs, " << produced
                          << " outputs, position " << resampler.sourcePosition();
    }
  }
}

TEST(StreamingResampler, MatchesThePlainAlgorithmToTheBit) {
  // Rates whose step the additions hold exactly and rates whose step they round, mixed, so
  // that each meets the positions that the others leave behind.
  const std::vector<double> rates = {48000, 44100, 96000,  22050, 24000,   8000,  48000,
                                     11025, 32000, 192000, 16000, 47999.5, 88200, 48000};
  const std::vector<int> chunkSizes = {480, 441, 1, 2, 3, 512, 960, 7, 4096, 160};
  std::mt19937 random(7);
  std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
  StreamingResampler resampler;
  testing::PlainResampler plain;
  for (int round = 0; round < 40; ++round) {
    for (const double rate : rates) {
      const int size = chunkSizes[static_cast<std::size_t>(round) % chunkSizes.size()];
      std::vector<float> input(static_cast<std::size_t>(size));
      for (float& value : input) value = sample(random);
      const std::vector<float> expected = plain.resample(input, rate);
      const std::vector<float> output = resampler.resample(input, rate);
      ASSERT_EQ(output, expected) << "round " << round << " at " << rate << " Hz";
      ASSERT_EQ(resampler.sourcePosition(), plain.position())
          << "round " << round << " at " << rate << " Hz";
    }
  }
}

}  // namespace
}  // namespace talvorin
