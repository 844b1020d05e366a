#include "pipeline/pcm_encoder.hpp"

#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace talvorin {
namespace {

TEST(EncodePCM16, ClampsScalesAsymmetricallyAndTruncates) {
  constexpr float nan = std::numeric_limits<float>::quiet_NaN();
  constexpr float inf = std::numeric_limits<float>::infinity();
  struct Case {
    float sample;
    std::int16_t expected;
  };
  const std::vector<Case> cases = {
      {1.0f, 32767},       {-1.0f, -32768}, {0.0f, 0},           {-0.0f, 0},     {0.5f, 16383},
      {-0.5f, -16384},     {2.0f, 32767},   {-3.0f, -32768},     {nan, -32768},  {-nan, -32768},
      {inf, 32767},        {-inf, -32768},  {-0.00001f, 0},      {0.00001f, 0},  {0.99999f, 32766},
      {-0.99999f, -32767}, {0.0001f, 3},    {-1.0f / 32768, -1}, {0.75f, 24575}, {-0.75f, -24576},
  };
  std::vector<float> samples;
  for (const auto& c : cases) samples.push_back(c.sample);
  const std::vector<std::uint8_t> payload = encodePCM16(samples);
  ASSERT_EQ(payload.size(), 2 * cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto bits = static_cast<std::uint16_t>(cases[i].expected);
    EXPECT_EQ(payload[2 * i], bits & 0xFF) << "low byte of sample " << cases[i].sample;
    EXPECT_EQ(payload[2 * i + 1], bits >> 8) << "high byte of sample " << cases[i].sample;
  }
}

TEST(EncodePCM16, WritesLowByteFirstInSampleOrder) {
  EXPECT_EQ(encodePCM16(std::vector<float>{1.0f, -1.0f, 0.5f, -0.5f}),
            (std::vector<std::uint8_t>{0xFF, 0x7F, 0x00, 0x80, 0xFF, 0x3F, 0x00, 0xC0}));
  EXPECT_TRUE(encodePCM16({}).empty());
}

}  // namespace
}  // namespace talvorin
