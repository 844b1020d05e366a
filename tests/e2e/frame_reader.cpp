#include "frame_reader.hpp"

namespace talvorin::testing {

void FrameReader::feed(const std::uint8_t* data, std::size_t size) {
  if (broken_) return;
  pending_.insert(pending_.end(), data, data + size);
  std::size_t offset = 0;
  while (pending_.size() - offset >= 4) {
    const std::uint8_t* head = pending_.data() + offset;
    const std::uint32_t length =
        static_cast<std::uint32_t>(head[0]) | (static_cast<std::uint32_t>(head[1]) << 8) |
        (static_cast<std::uint32_t>(head[2]) << 16) | (static_cast<std::uint32_t>(head[3]) << 24);
    if (length == 0 || length % 2 != 0 || length > kLargestPayload) {
      broken_ = true;
      break;
    }
    if (pending_.size() - offset - 4 < length) break;
    const std::uint8_t* payload = head + 4;
    for (std::uint32_t i = 0; i < length; i += 2) {
      const auto bits = static_cast<std::uint16_t>(payload[i] | (payload[i + 1] << 8));
      samples_.push_back(static_cast<std::int16_t>(bits));
    }
    payloadSizes_.push_back(length);
    offset += 4 + length;
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(offset));
}

}  // namespace talvorin::testing
