#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace talvorin {

// Writes frames, each a 4-byte little-endian payload length and the payload, to one file
// descriptor (standard output in the helper).
//
// Runs on the output queue; the lock keeps a frame's header and payload adjacent whichever
// thread writes. Once a write fails (the reader closed the pipe), the stream may end inside
// a frame, so the writer stops for good: no later byte could be read in step. The failure
// handler, if any, is called once, outside the lock.
class BinaryFrameWriter {
 public:
  using FailureHandler = std::function<void()>;

  static constexpr std::size_t kMaximumPayloadBytes = 0xFFFFFFFFu;

  explicit BinaryFrameWriter(int fd, FailureHandler onFailure = {});
  BinaryFrameWriter(const BinaryFrameWriter&) = delete;
  BinaryFrameWriter& operator=(const BinaryFrameWriter&) = delete;

  // Writes one frame. An empty payload writes nothing and takes no lock; a payload too long
  // for its 32-bit length is refused whole.
  void writeFrame(const std::vector<std::uint8_t>& payload);

  // Whether a write has failed and the writer has stopped.
  bool broken() const;

  // Whether a payload of this many bytes can be framed: non-empty and its length fits the
  // header.
  static bool framable(std::size_t payloadBytes) {
    return payloadBytes > 0 && payloadBytes <= kMaximumPayloadBytes;
  }

 private:
  const int fd_;
  const FailureHandler onFailure_;
  mutable std::mutex lock_;
  bool broken_ = false;
};

}  // namespace talvorin
