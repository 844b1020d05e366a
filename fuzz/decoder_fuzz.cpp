// Decodes an arbitrary stream description and buffer list built from the input: null
// buffers, buffers shorter or longer than the format implies, claimed sizes without data,
// channel counts up to four billion. Each buffer is allocated at exactly its mDataByteSize,
// so AddressSanitizer reports any read past one.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "output/helper_error.hpp"
#include "pipeline/pcm_decoder.hpp"
#include "support/buffer_lists.hpp"

namespace {

using talvorin::testing::BufferList;

UInt32 pickChannels(FuzzedDataProvider& data) {
  switch (data.ConsumeIntegralInRange(0, 3)) {
    case 0:
      return data.ConsumeIntegralInRange<UInt32>(0, 8);
    case 1:
      return data.ConsumeIntegralInRange<UInt32>(0, 300);
    case 2:
      return 0xFFFFFFFFu - data.ConsumeIntegralInRange<UInt32>(0, 3);
    default:
      return data.ConsumeIntegral<UInt32>();
  }
}

UInt32 pickBits(FuzzedDataProvider& data) {
  static constexpr UInt32 common[] = {8, 16, 24, 32, 64};
  if (data.ConsumeBool()) return common[data.ConsumeIntegralInRange(0, 4)];
  return data.ConsumeIntegral<UInt32>();
}

AudioStreamBasicDescription pickFormat(FuzzedDataProvider& data) {
  AudioStreamBasicDescription format{};
  format.mSampleRate = 48000;
  format.mFormatID = kAudioFormatLinearPCM;
  format.mFormatFlags = data.ConsumeIntegral<UInt32>();
  format.mChannelsPerFrame = pickChannels(data);
  format.mBitsPerChannel = pickBits(data);
  if (data.ConsumeBool()) {
    format.mBytesPerFrame = data.ConsumeIntegral<UInt32>();
  } else {
    // What a consistent interleaved format would say.
    format.mBytesPerFrame = format.mBitsPerChannel / 8 * format.mChannelsPerFrame;
  }
  return format;
}

BufferList pickBuffers(FuzzedDataProvider& data) {
  const auto count = data.ConsumeIntegralInRange<std::size_t>(0, 6);
  std::vector<std::vector<std::uint8_t>> contents;
  std::vector<bool> null(count);
  std::vector<UInt32> claimed(count);
  for (std::size_t i = 0; i < count; ++i) {
    null[i] = data.ConsumeIntegralInRange(0, 7) == 0;
    claimed[i] = data.ConsumeBool() ? data.ConsumeIntegral<UInt32>() : 0;
    contents.push_back(data.ConsumeBytes<std::uint8_t>(data.ConsumeIntegralInRange(0, 4096)));
  }
  BufferList buffers = BufferList::raw(std::move(contents));
  for (std::size_t i = 0; i < count; ++i) {
    // A buffer without data may claim any size; one with data is exactly as long as it says.
    if (null[i]) buffers.withNullData(i).withByteSize(i, claimed[i]);
  }
  return buffers;
}

// The decoding rules written plainly, one frame and one channel at a time, for formats of a
// few channels: the decoder's fast paths must give the same samples to the bit.
std::vector<float> decodePlainly(const AudioBufferList& list,
                                 const AudioStreamBasicDescription& format) {
  const UInt32 bits = format.mBitsPerChannel;
  const std::size_t sampleBytes = bits / 8;
  const bool isFloat = (format.mFormatFlags & kAudioFormatFlagIsFloat) != 0;
  const bool nonInterleaved = (format.mFormatFlags & kAudioFormatFlagIsNonInterleaved) != 0;
  const std::size_t channels = format.mChannelsPerFrame == 0 ? 1 : format.mChannelsPerFrame;
  const AudioBuffer* buffers = list.mBuffers;
  std::size_t frames = 0;
  if (nonInterleaved) {
    frames = buffers[0].mDataByteSize / sampleBytes;
  } else {
    const std::size_t bytesPerFrame = format.mBytesPerFrame == 0 ? 1 : format.mBytesPerFrame;
    frames = std::min<std::size_t>(buffers[0].mDataByteSize / bytesPerFrame,
                                   buffers[0].mDataByteSize / (channels * sampleBytes));
  }
  std::vector<float> samples;
  for (std::size_t f = 0; f < frames; ++f) {
    float sum = 0.0f;
    int count = 0;
    for (std::size_t c = 0; c < channels; ++c) {
      const AudioBuffer& buffer =
          buffers[nonInterleaved ? std::min<std::size_t>(c, list.mNumberBuffers - 1) : 0];
      const std::size_t index = nonInterleaved ? f : f * channels + c;
      if (buffer.mData == nullptr || (index + 1) * sampleBytes > buffer.mDataByteSize) continue;
      const auto* at = static_cast<const unsigned char*>(buffer.mData) + index * sampleBytes;
      float value = 0.0f;
      if (isFloat && bits == 32) {
        std::memcpy(&value, at, 4);
      } else if (isFloat) {
        double wide;
        std::memcpy(&wide, at, 8);
        value = static_cast<float>(wide);
      } else if (bits == 16) {
        std::int16_t stored;
        std::memcpy(&stored, at, 2);
        value = static_cast<float>(stored) / 32768.0f;
      } else {
        std::int32_t stored;
        std::memcpy(&stored, at, 4);
        value = static_cast<float>(stored) * 0x1p-31f;
      }
      sum += value;
      ++count;
    }
    samples.push_back(count > 0 ? sum / static_cast<float>(count) : 0.0f);
  }
  return samples;
}

// Equal to the bit, zero's sign included; any two not-a-number values match, since the
// order of a commutative addition decides which payload survives.
bool sameSample(float a, float b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// Whether the plain rules above cover the input: a supported encoding, a few channels, a
// first buffer of at least one frame, with data.
bool plainlyDecodable(const AudioBufferList& list, const AudioStreamBasicDescription& format) {
  const UInt32 bits = format.mBitsPerChannel;
  const bool isFloat = (format.mFormatFlags & kAudioFormatFlagIsFloat) != 0;
  const bool isSigned = (format.mFormatFlags & kAudioFormatFlagIsSignedInteger) != 0;
  const bool supported =
      isFloat ? (bits == 32 || bits == 64) : (isSigned && (bits == 16 || bits == 32));
  if (!supported || format.mChannelsPerFrame > 64 || list.mNumberBuffers == 0) return false;
  const bool nonInterleaved = (format.mFormatFlags & kAudioFormatFlagIsNonInterleaved) != 0;
  const std::size_t bytesPerFrame =
      nonInterleaved ? bits / 8 : (format.mBytesPerFrame == 0 ? 1 : format.mBytesPerFrame);
  if (list.mBuffers[0].mDataByteSize < bytesPerFrame) return false;
  // With data in the first buffer, the frames are bounded by real bytes (a claimed size
  // without data is the decoder's to refuse), and a few channels stay inside its floor.
  return list.mBuffers[0].mData != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  const AudioStreamBasicDescription format = pickFormat(data);
  const BufferList buffers = pickBuffers(data);
  const AudioBufferList& list = buffers.list();
  try {
    const std::vector<float> samples = talvorin::readMonoFloatSamples(list, format);
    // One sample per frame, and frames come out of the first buffer's size.
    if (!samples.empty() &&
        (list.mNumberBuffers == 0 || samples.size() > list.mBuffers[0].mDataByteSize)) {
      std::abort();
    }
    if (plainlyDecodable(list, format)) {
      const std::vector<float> expected = decodePlainly(list, format);
      if (expected.size() != samples.size()) std::abort();
      for (std::size_t i = 0; i < samples.size(); ++i) {
        if (!sameSample(samples[i], expected[i])) std::abort();
      }
    }
  } catch (const talvorin::HelperError& error) {
    const std::string& text = error.description();
    if (text != "Unsupported PCM sample representation." &&
        text != "Unsupported PCM bit depth: " + std::to_string(format.mBitsPerChannel) + ".") {
      std::abort();
    }
  }
  return 0;
}
