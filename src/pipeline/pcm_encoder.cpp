#include "pipeline/pcm_encoder.hpp"

#include <algorithm>

namespace talvorin {

std::vector<std::uint8_t> encodePCM16(std::span<const float> samples) {
  std::vector<std::uint8_t> payload(2 * samples.size());
  std::uint8_t* out = payload.data();
  for (const float sample : samples) {
    // Written so that a not-a-number sample fails the comparison and becomes -1.
    const float clamped = sample >= -1.0f ? std::min(sample, 1.0f) : -1.0f;
    const float scaled = clamped < 0.0f ? clamped * 32768.0f : clamped * 32767.0f;
    const auto value = static_cast<std::uint16_t>(static_cast<std::int16_t>(scaled));
    *out++ = static_cast<std::uint8_t>(value & 0xFFu);
    *out++ = static_cast<std::uint8_t>(value >> 8);
  }
  return payload;
}

}  // namespace talvorin
