#pragma once

#include <vector>

#include "platform/core_audio_types.hpp"

namespace talvorin::testing {

// One IO cycle of mono 32-bit float samples, as a backend would hand it over.
class MonoCycle {
 public:
  explicit MonoCycle(std::vector<float> samples) : samples_(std::move(samples)) {
    list_.mNumberBuffers = 1;
    list_.mBuffers[0].mNumberChannels = 1;
    list_.mBuffers[0].mDataByteSize = static_cast<UInt32>(samples_.size() * sizeof(float));
    list_.mBuffers[0].mData = samples_.data();
  }
  MonoCycle(const MonoCycle&) = delete;
  MonoCycle& operator=(const MonoCycle&) = delete;

  const AudioBufferList& list() const { return list_; }

 private:
  std::vector<float> samples_;
  AudioBufferList list_{};
};

inline AudioStreamBasicDescription monoFloatFormat(double rate) {
  return AudioStreamBasicDescription{rate, kAudioFormatLinearPCM, 9, 4, 1, 4, 1, 32, 0};
}

// Frames read back from a byte stream: each a little-endian 32-bit length and its payload.
struct ParsedFrames {
  std::vector<std::vector<std::int16_t>> frames;
  std::size_t payloadBytes = 0;
  bool wellFormed = true;  // every length even and non-zero, no bytes left over
};

inline ParsedFrames parseFrames(const std::string& bytes) {
  ParsedFrames result;
  std::size_t offset = 0;
  while (offset < bytes.size()) {
    if (bytes.size() - offset < 4) {
      result.wellFormed = false;
      break;
    }
    const auto byte = [&](std::size_t i) {
      return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + i]));
    };
    const std::uint32_t length = byte(0) | (byte(1) << 8) | (byte(2) << 16) | (byte(3) << 24);
    offset += 4;
    if (length == 0 || length % 2 != 0 || bytes.size() - offset < length) {
      result.wellFormed = false;
      break;
    }
    std::vector<std::int16_t> samples(length / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
      const auto low =
          static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[offset + 2 * i]));
      const auto high =
          static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[offset + 2 * i + 1]));
      samples[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
    }
    result.frames.push_back(std::move(samples));
    result.payloadBytes += length;
    offset += length;
  }
  return result;
}

}  // namespace talvorin::testing
