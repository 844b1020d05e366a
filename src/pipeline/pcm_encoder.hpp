#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace talvorin {

// The payload of one frame: each sample clamped to [-1, 1] (not-a-number counts as -1),
// scaled by 32768 when negative and 32767 otherwise, truncated toward zero and stored as a
// signed 16-bit little-endian integer. Exactly two bytes per sample.
std::vector<std::uint8_t> encodePCM16(std::span<const float> samples);

}  // namespace talvorin
