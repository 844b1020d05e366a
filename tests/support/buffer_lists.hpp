// Audio buffer lists and stream descriptions for tests: a BufferList owns every byte that its
// AudioBufferList points at, and each buffer's storage is exactly its mDataByteSize long, so
// AddressSanitizer catches a read past any buffer.
//
//   auto stereo = BufferList::interleaved<float>({0.5f, -0.5f, 1.0f, 0.0f});
//   auto split = BufferList::nonInterleaved<std::int16_t>({{1, 2}, {3, 4}}).withNullData(1);
//   readMonoFloatSamples(stereo.list(), floatFormat(48000, 2));
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "platform/core_audio_types.hpp"

namespace talvorin::testing {

class BufferList {
 public:
  // One buffer holding these samples as they lie in memory (any channel count).
  template <typename Sample>
  static BufferList interleaved(const std::vector<Sample>& samples) {
    return raw({bytesOf(samples)});
  }

  // One buffer per inner vector, each holding one channel.
  template <typename Sample>
  static BufferList nonInterleaved(const std::vector<std::vector<Sample>>& channels) {
    std::vector<std::vector<std::uint8_t>> buffers;
    for (const auto& channel : channels) buffers.push_back(bytesOf(channel));
    return raw(std::move(buffers));
  }

  // One buffer per inner vector, holding exactly those bytes.
  static BufferList raw(std::vector<std::vector<std::uint8_t>> buffers) {
    return BufferList(std::move(buffers));
  }

  // A list of no buffers at all.
  static BufferList empty() { return raw({}); }

  // The buffer keeps its mDataByteSize but its mData becomes null.
  BufferList& withNullData(std::size_t index) & {
    buffer(index).mData = nullptr;
    return *this;
  }
  BufferList&& withNullData(std::size_t index) && { return std::move(withNullData(index)); }

  // The buffer is cut or zero-padded to this many bytes, and says so in mDataByteSize. A
  // buffer with null data only claims the size.
  BufferList&& withByteSize(std::size_t index, UInt32 byteSize) && {
    return std::move(withByteSize(index, byteSize));
  }
  BufferList& withByteSize(std::size_t index, UInt32 byteSize) & {
    AudioBuffer& target = buffer(index);
    if (target.mData != nullptr) {
      auto resized = allocate(byteSize);
      std::memset(resized.get(), 0, byteSize);
      std::memcpy(resized.get(), target.mData, std::min(byteSize, target.mDataByteSize));
      target.mData = resized.get();
      storage_[index] = std::move(resized);
    }
    target.mDataByteSize = byteSize;
    return *this;
  }

  const AudioBufferList& list() const { return *list_; }

 private:
  struct FreeList {
    void operator()(AudioBufferList* list) const {
      ::operator delete (static_cast<void*>(list), std::align_val_t{alignof(AudioBufferList)});
    }
  };

  explicit BufferList(std::vector<std::vector<std::uint8_t>> buffers) {
    // Core Audio's list is variable length: the header, then one AudioBuffer per buffer.
    const std::size_t count = buffers.size();
    const std::size_t bytes =
        offsetof(AudioBufferList, mBuffers) + std::max<std::size_t>(count, 1) * sizeof(AudioBuffer);
    void* memory = ::operator new (bytes, std::align_val_t{alignof(AudioBufferList)});
    std::memset(memory, 0, bytes);
    list_.reset(static_cast<AudioBufferList*>(memory));
    list_->mNumberBuffers = static_cast<UInt32>(count);
    for (std::size_t i = 0; i < count; ++i) {
      auto data = allocate(buffers[i].size());
      if (!buffers[i].empty()) std::memcpy(data.get(), buffers[i].data(), buffers[i].size());
      AudioBuffer& target = buffer(i);
      target.mNumberChannels = 1;
      target.mDataByteSize = static_cast<UInt32>(buffers[i].size());
      target.mData = data.get();
      storage_.push_back(std::move(data));
    }
  }

  // Exactly the size asked for, never null (a zero-byte buffer still has an address).
  static std::unique_ptr<std::uint8_t[]> allocate(std::size_t bytes) {
    return std::unique_ptr<std::uint8_t[]>(new std::uint8_t[bytes]);
  }

  template <typename Sample>
  static std::vector<std::uint8_t> bytesOf(const std::vector<Sample>& samples) {
    std::vector<std::uint8_t> bytes(samples.size() * sizeof(Sample));
    if (!bytes.empty()) std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
  }

  AudioBuffer& buffer(std::size_t index) { return *(list_->mBuffers + index); }

  std::unique_ptr<AudioBufferList, FreeList> list_;
  std::vector<std::unique_ptr<std::uint8_t[]>> storage_;
};

// Linear PCM descriptions, packed, in the host's byte order.
inline AudioStreamBasicDescription pcmFormat(double rate, UInt32 channels, UInt32 bits,
                                             AudioFormatFlags flags, bool interleaved) {
  if (!interleaved) flags |= kAudioFormatFlagIsNonInterleaved;
  const UInt32 bytesPerFrame = (bits / 8) * (interleaved ? channels : 1);
  return AudioStreamBasicDescription{
      rate, kAudioFormatLinearPCM, flags, bytesPerFrame, 1, bytesPerFrame, channels, bits, 0};
}

inline AudioStreamBasicDescription floatFormat(double rate, UInt32 channels,
                                               bool interleaved = true) {
  return pcmFormat(rate, channels, 32, kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked,
                   interleaved);
}

inline AudioStreamBasicDescription float64Format(double rate, UInt32 channels,
                                                 bool interleaved = true) {
  return pcmFormat(rate, channels, 64, kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked,
                   interleaved);
}

inline AudioStreamBasicDescription int16Format(double rate, UInt32 channels,
                                               bool interleaved = true) {
  return pcmFormat(rate, channels, 16, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked,
                   interleaved);
}

inline AudioStreamBasicDescription int32Format(double rate, UInt32 channels,
                                               bool interleaved = true) {
  return pcmFormat(rate, channels, 32, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked,
                   interleaved);
}

}  // namespace talvorin::testing
