#include "pipeline/pcm_decoder.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "output/helper_error.hpp"

namespace talvorin {
namespace {

// However few bytes a cycle brings, this many sample reads are always allowed: far more than
// any device's IO cycle needs (4096 frames of 256 channels), and about a millisecond of work.
constexpr std::uint64_t kMinimumReadBudget = std::uint64_t{1} << 20;

enum class Encoding { float32, float64, int16, int32, unsupported };

Encoding encodingOf(AudioFormatFlags flags, UInt32 bitsPerChannel) {
  if ((flags & kAudioFormatFlagIsFloat) != 0) {
    if (bitsPerChannel == 32) return Encoding::float32;
    if (bitsPerChannel == 64) return Encoding::float64;
    return Encoding::unsupported;
  }
  if (bitsPerChannel == 16) return Encoding::int16;
  if (bitsPerChannel == 32) return Encoding::int32;
  return Encoding::unsupported;
}

// The stored sample type of each encoding and its conversion to a mono sample value.
template <typename Stored>
float toSample(Stored value);
template <>
inline float toSample<float>(float value) {
  return value;
}
template <>
inline float toSample<double>(double value) {
  return static_cast<float>(value);
}
template <>
inline float toSample<std::int16_t>(std::int16_t value) {
  return static_cast<float>(value) / 32768.0f;
}
template <>
inline float toSample<std::int32_t>(std::int32_t value) {
  return static_cast<float>(value) * 0x1p-31f;
}

// Buffers carry no alignment promise, so samples are copied out rather than dereferenced.
template <typename Stored>
inline float sampleAt(const unsigned char* bytes, std::size_t index) {
  Stored value;
  std::memcpy(&value, bytes + index * sizeof(Stored), sizeof(Stored));
  return toSample<Stored>(value);
}

const AudioBuffer& bufferAt(const AudioBufferList& list, UInt32 index) {
  return *(list.mBuffers + index);
}

// Interleaved: every channel is in the first buffer, frame f's channel c at sample
// f * channels + c. Only frames that lie whole inside the buffer are decoded.
template <typename Stored>
std::vector<float> decodeInterleaved(const unsigned char* bytes, UInt32 byteSize,
                                     std::uint64_t frameCount, std::uint64_t channels) {
  frameCount = std::min<std::uint64_t>(frameCount, byteSize / (channels * sizeof(Stored)));
  std::vector<float> samples(frameCount);
  float* out = samples.data();
  if (channels == 1) {
    for (std::size_t f = 0; f < frameCount; ++f) out[f] = 0.0f + sampleAt<Stored>(bytes, f);
  } else if (channels == 2) {
    for (std::size_t f = 0; f < frameCount; ++f) {
      out[f] =
          ((0.0f + sampleAt<Stored>(bytes, 2 * f)) + sampleAt<Stored>(bytes, 2 * f + 1)) / 2.0f;
    }
  } else {
    const auto divisor = static_cast<float>(channels);
    for (std::size_t f = 0; f < frameCount; ++f) {
      float sum = 0.0f;
      const std::size_t first = f * channels;
      for (std::size_t c = 0; c < channels; ++c) sum += sampleAt<Stored>(bytes, first + c);
      out[f] = sum / divisor;
    }
  }
  return samples;
}

// Non-interleaved: channel c is in buffer min(c, buffer count - 1), frame f at sample f. A
// channel counts for a frame only when its buffer has data that reaches that frame.
template <typename Stored>
std::vector<float> decodeNonInterleaved(const AudioBufferList& list, std::uint64_t frameCount,
                                        std::uint64_t channels) {
  const UInt32 lastBuffer = list.mNumberBuffers - 1;
  const auto bufferOf = [&](std::uint64_t channel) -> const AudioBuffer& {
    return bufferAt(list, static_cast<UInt32>(std::min<std::uint64_t>(channel, lastBuffer)));
  };
  const auto holdsAllFrames = [&](const AudioBuffer& buffer) {
    return buffer.mData != nullptr && buffer.mDataByteSize / sizeof(Stored) >= frameCount;
  };

  std::vector<float> samples(frameCount);
  float* out = samples.data();
  if (channels == 1 && holdsAllFrames(bufferOf(0))) {
    const auto* bytes = static_cast<const unsigned char*>(bufferOf(0).mData);
    for (std::size_t f = 0; f < frameCount; ++f) out[f] = 0.0f + sampleAt<Stored>(bytes, f);
    return samples;
  }
  if (channels == 2 && holdsAllFrames(bufferOf(0)) && holdsAllFrames(bufferOf(1))) {
    const auto* left = static_cast<const unsigned char*>(bufferOf(0).mData);
    const auto* right = static_cast<const unsigned char*>(bufferOf(1).mData);
    for (std::size_t f = 0; f < frameCount; ++f) {
      out[f] = ((0.0f + sampleAt<Stored>(left, f)) + sampleAt<Stored>(right, f)) / 2.0f;
    }
    return samples;
  }
  for (std::size_t f = 0; f < frameCount; ++f) {
    float sum = 0.0f;
    std::uint64_t count = 0;
    for (std::uint64_t c = 0; c < channels; ++c) {
      const AudioBuffer& buffer = bufferOf(c);
      if (buffer.mData == nullptr || buffer.mDataByteSize / sizeof(Stored) <= f) continue;
      sum += sampleAt<Stored>(static_cast<const unsigned char*>(buffer.mData), f);
      ++count;
    }
    out[f] = count > 0 ? sum / static_cast<float>(count) : 0.0f;
  }
  return samples;
}

template <typename Stored>
std::vector<float> decode(const AudioBufferList& list, bool nonInterleaved,
                          std::uint64_t frameCount, std::uint64_t channels) {
  if (nonInterleaved) return decodeNonInterleaved<Stored>(list, frameCount, channels);
  const AudioBuffer& first = bufferAt(list, 0);
  return decodeInterleaved<Stored>(static_cast<const unsigned char*>(first.mData),
                                   first.mDataByteSize, frameCount, channels);
}

}  // namespace

std::vector<float> readMonoFloatSamples(const AudioBufferList& bufferList,
                                        const AudioStreamBasicDescription& streamDescription) {
  if (bufferList.mNumberBuffers == 0) return {};
  const AudioBuffer& first = bufferAt(bufferList, 0);
  if (first.mDataByteSize == 0) return {};

  const AudioFormatFlags flags = streamDescription.mFormatFlags;
  const UInt32 bits = streamDescription.mBitsPerChannel;
  const std::uint64_t channels =
      streamDescription.mChannelsPerFrame == 0 ? 1 : streamDescription.mChannelsPerFrame;
  const bool nonInterleaved = (flags & kAudioFormatFlagIsNonInterleaved) != 0;
  UInt32 bytesPerFrame = 1;
  if (nonInterleaved) {
    if (bits >= 8) bytesPerFrame = bits / 8;
  } else if (streamDescription.mBytesPerFrame != 0) {
    bytesPerFrame = streamDescription.mBytesPerFrame;
  }
  if (first.mDataByteSize < bytesPerFrame) return {};

  if ((flags & (kAudioFormatFlagIsFloat | kAudioFormatFlagIsSignedInteger)) == 0) {
    throw HelperError("Unsupported PCM sample representation.");
  }
  const std::uint64_t frameCount = first.mDataByteSize / bytesPerFrame;

  // The buffers that some channel reads, and the bytes they bring.
  const std::uint64_t buffersRead =
      nonInterleaved ? std::min<std::uint64_t>(channels, bufferList.mNumberBuffers) : 1;
  std::uint64_t bytesGiven = 0;
  for (UInt32 b = 0; b < buffersRead; ++b) {
    const AudioBuffer& buffer = bufferAt(bufferList, b);
    if (buffer.mData != nullptr) bytesGiven += buffer.mDataByteSize;
  }

  // The bit depth matters only once a sample is read: with no data at all every channel is
  // absent and each frame is silence.
  const Encoding encoding = encodingOf(flags, bits);
  if (bytesGiven > 0 && encoding == Encoding::unsupported) {
    throw HelperError("Unsupported PCM bit depth: " + std::to_string(bits) + ".");
  }
  const std::uint64_t budget = std::max(bytesGiven, kMinimumReadBudget);
  if (bytesGiven == 0) {
    if (frameCount > budget) return {};
    return std::vector<float>(frameCount, 0.0f);
  }
  // Interleaved decoding bounds itself by the first buffer; one buffer per channel cannot,
  // when a few buffers stand in for a huge channel count.
  if (nonInterleaved && frameCount * channels > budget) return {};

  switch (encoding) {
    case Encoding::float32:
      return decode<float>(bufferList, nonInterleaved, frameCount, channels);
    case Encoding::float64:
      return decode<double>(bufferList, nonInterleaved, frameCount, channels);
    case Encoding::int16:
      return decode<std::int16_t>(bufferList, nonInterleaved, frameCount, channels);
    case Encoding::int32:
      return decode<std::int32_t>(bufferList, nonInterleaved, frameCount, channels);
    case Encoding::unsupported:
      break;
  }
  return {};
}

}  // namespace talvorin
