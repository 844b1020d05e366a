// Reads the helper's standard output as it arrives in pieces: a little-endian 32-bit payload
// length, then that many bytes of 16-bit little-endian samples, repeated. Written from the
// wire description alone, sharing no code with the writer it checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace talvorin::testing {

class FrameReader {
 public:
  // Lengths above this cannot come from one IO cycle; seeing one means the stream lost step.
  static constexpr std::uint32_t kLargestPayload = 1U << 20;

  // Takes the next piece of the stream, of any size. After a broken length everything that
  // follows is ignored: nothing marks frame boundaries, so the reader cannot recover.
  void feed(const std::uint8_t* data, std::size_t size);

  bool broken() const noexcept { return broken_; }
  // Bytes of a frame begun but not finished (the length prefix included).
  std::size_t pendingBytes() const noexcept { return pending_.size(); }
  const std::vector<std::int16_t>& samples() const noexcept { return samples_; }
  // The payload length of every complete frame, in order.
  const std::vector<std::uint32_t>& payloadSizes() const noexcept { return payloadSizes_; }

 private:
  std::vector<std::uint8_t> pending_;
  std::vector<std::int16_t> samples_;
  std::vector<std::uint32_t> payloadSizes_;
  bool broken_ = false;
};

}  // namespace talvorin::testing
