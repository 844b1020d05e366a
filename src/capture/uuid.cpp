#include "capture/uuid.hpp"

#include <array>
#include <cstdint>
#include <mutex>
#include <random>

namespace talvorin {

std::string makeUUIDString() {
  // Seeded once from the system's entropy; builds are rare, so one lock is no cost.
  static std::mutex mutex;
  static std::mt19937_64 generator{std::random_device{}()};
  std::array<std::uint8_t, 16> bytes{};
  {
    std::lock_guard lock(mutex);
    const std::uint64_t high = generator();
    const std::uint64_t low = generator();
    for (int i = 0; i < 8; ++i) {
      bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(high >> (56 - 8 * i));
      bytes[static_cast<std::size_t>(8 + i)] = static_cast<std::uint8_t>(low >> (56 - 8 * i));
    }
  }
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant

  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(36);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
    text.push_back(kHex[bytes[i] >> 4]);
    text.push_back(kHex[bytes[i] & 0x0F]);
  }
  return text;
}

}  // namespace talvorin
