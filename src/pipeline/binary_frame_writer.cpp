#include "pipeline/binary_frame_writer.hpp"

#include <array>

#include "output/fd_write.hpp"

namespace talvorin {

BinaryFrameWriter::BinaryFrameWriter(int fd, FailureHandler onFailure)
    : fd_(fd), onFailure_(std::move(onFailure)) {}

bool BinaryFrameWriter::broken() const {
  std::lock_guard guard(lock_);
  return broken_;
}

// On the output queue (or any thread): blocks while the reader is slow.
void BinaryFrameWriter::writeFrame(const std::vector<std::uint8_t>& payload) {
  if (!framable(payload.size())) return;
  const auto length = static_cast<std::uint32_t>(payload.size());
  const std::array<std::uint8_t, 4> header{
      static_cast<std::uint8_t>(length & 0xFFu), static_cast<std::uint8_t>((length >> 8) & 0xFFu),
      static_cast<std::uint8_t>((length >> 16) & 0xFFu), static_cast<std::uint8_t>(length >> 24)};
  {
    std::lock_guard guard(lock_);
    if (broken_) return;
    if (writeAll(fd_, header.data(), header.size()) &&
        writeAll(fd_, payload.data(), payload.size())) {
      return;
    }
    broken_ = true;
  }
  // Only the write that broke the stream gets here, so the handler runs once; outside the
  // lock, so a handler that ends the process does not hold up other writers' threads.
  if (onFailure_) onFailure_();
}

}  // namespace talvorin
