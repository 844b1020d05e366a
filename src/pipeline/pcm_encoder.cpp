#include "pipeline/pcm_encoder.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace talvorin {

std::vector<std::uint8_t> encodePCM16(std::span<const float> samples) {
  std::vector<std::uint8_t> payload(2 * samples.size());
  std::uint8_t* out = payload.data();
  const float* in = samples.data();
  const std::size_t count = samples.size();
  // Branch-free, so that the loop vectorises.
  for (std::size_t i = 0; i < count; ++i) {
    const float sample = in[i];
    // std::max(-1, x) keeps -1 when x is not a number: the comparison -1 < x is false.
    const float clamped = std::max(-1.0f, std::min(sample, 1.0f));
    const float scale = clamped < 0.0f ? 32768.0f : 32767.0f;
    const float scaled = clamped * scale;
    auto value = static_cast<std::uint16_t>(static_cast<std::int16_t>(scaled));
    if constexpr (std::endian::native == std::endian::big) {
      value = static_cast<std::uint16_t>((value >> 8) | (value << 8));  // low byte first
    }
    std::memcpy(out + 2 * i, &value, sizeof value);
  }
  return payload;
}

}  // namespace talvorin
