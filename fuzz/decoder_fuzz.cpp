// Decodes an arbitrary stream description and buffer list built from the input: null
// buffers, buffers shorter or longer than the format implies, claimed sizes without data,
// channel counts up to four billion. Each buffer is allocated at exactly its mDataByteSize,
// so AddressSanitizer reports any read past one.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
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
  } catch (const talvorin::HelperError& error) {
    const std::string& text = error.description();
    if (text != "Unsupported PCM sample representation." &&
        text != "Unsupported PCM bit depth: " + std::to_string(format.mBitsPerChannel) + ".") {
      std::abort();
    }
  }
  return 0;
}
