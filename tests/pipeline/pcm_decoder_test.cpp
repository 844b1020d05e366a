#include "pipeline/pcm_decoder.hpp"

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "output/helper_error.hpp"
#include "support/buffer_lists.hpp"

namespace talvorin {
namespace {

using testing::BufferList;
using testing::float64Format;
using testing::floatFormat;
using testing::int16Format;
using testing::int32Format;
using testing::pcmFormat;

struct DecodeCase {
  const char* name;
  std::function<BufferList()> buffers;
  AudioStreamBasicDescription format;
  std::vector<float> expected;
};

AudioStreamBasicDescription withFlags(AudioStreamBasicDescription format, AudioFormatFlags add) {
  format.mFormatFlags |= add;
  return format;
}

AudioStreamBasicDescription withChannels(AudioStreamBasicDescription format, UInt32 channels) {
  format.mChannelsPerFrame = channels;
  return format;
}

AudioStreamBasicDescription withBytesPerFrame(AudioStreamBasicDescription format, UInt32 bytes) {
  format.mBytesPerFrame = bytes;
  return format;
}

void expectDecodes(const DecodeCase& c) {
  SCOPED_TRACE(c.name);
  const BufferList buffers = c.buffers();
  const std::vector<float> samples = readMonoFloatSamples(buffers.list(), c.format);
  ASSERT_EQ(samples.size(), c.expected.size());
  for (std::size_t i = 0; i < samples.size(); ++i) {
    // Exact: the mean is defined to the last bit.
    EXPECT_EQ(samples[i], c.expected[i]) << "frame " << i;
  }
}

TEST(ReadMonoFloatSamples, DecodesEachEncodingAndLayout) {
  constexpr double rate = 48000;
  const std::vector<DecodeCase> cases = {
      {"interleaved stereo float32",
       [] {
         return BufferList::interleaved<float>({0.5f, -0.5f, 1.0f, 0.0f});
       },
       floatFormat(rate, 2),
       {0.0f, 0.5f}},
      {"interleaved mono float32",
       [] {
         return BufferList::interleaved<float>({0.25f, -1.0f, 3.0f});
       },
       floatFormat(rate, 1),
       {0.25f, -1.0f, 3.0f}},
      {"interleaved three channels, summed in channel order in single precision",
       [] {
         return BufferList::interleaved<float>({1e8f, 1.0f, -1e8f, 3.0f, 0.0f, 0.0f});
       },
       floatFormat(rate, 3),
       {0.0f, 1.0f}},
      {"non-interleaved stereo float32",
       [] {
         return BufferList::nonInterleaved<float>({{1.0f, 0.25f, -1.0f}, {0.0f, 0.75f, 1.0f}});
       },
       floatFormat(rate, 2, false),
       {0.5f, 0.5f, 0.0f}},
      {"non-interleaved frame count comes from the first buffer",
       [] {
         return BufferList::nonInterleaved<float>({{1.0f, 2.0f}, {3.0f, 4.0f, 5.0f, 6.0f}});
       },
       floatFormat(rate, 2, false),
       {2.0f, 3.0f}},
      {"non-interleaved two channels in one buffer: it stands in for both",
       [] {
         return BufferList::nonInterleaved<float>({{0.25f, -0.5f}});
       },
       floatFormat(rate, 2, false),
       {0.25f, -0.5f}},
      {"non-interleaved three channels in two buffers: the last counts twice",
       [] {
         return BufferList::nonInterleaved<float>({{0.0f, 3.0f}, {1.5f, 0.0f}});
       },
       floatFormat(rate, 3, false),
       {1.0f, 1.0f}},
      {"non-interleaved pair whose second buffer has no data",
       [] {
         return BufferList::nonInterleaved<float>({{0.25f, -0.75f}, {1.0f, 1.0f}}).withNullData(1);
       },
       floatFormat(rate, 2, false),
       {0.25f, -0.75f}},
      {"non-interleaved pair whose first buffer has no data",
       [] {
         return BufferList::nonInterleaved<float>({{0.25f, -0.75f}, {1.0f, 0.5f}}).withNullData(0);
       },
       floatFormat(rate, 2, false),
       {1.0f, 0.5f}},
      {"int16 scale is exactly 1/32768",
       [] {
         return BufferList::interleaved<std::int16_t>({-32768, 32767, 16384, 0, -1});
       },
       int16Format(rate, 1),
       {-1.0f, 0.999969482421875f, 0.5f, 0.0f, -1.0f / 32768}},
      {"int16 interleaved stereo",
       [] {
         return BufferList::interleaved<std::int16_t>({16384, -16384, 32767, 32767});
       },
       int16Format(rate, 2),
       {0.0f, 0.999969482421875f}},
      {"int16 non-interleaved stereo",
       [] {
         return BufferList::nonInterleaved<std::int16_t>({{16384, 8192}, {0, 8192}});
       },
       int16Format(rate, 2, false),
       {0.25f, 0.25f}},
      {"int32 rounds to single precision before scaling",
       [] {
         return BufferList::interleaved<std::int32_t>(
             {2147483647, std::numeric_limits<std::int32_t>::min(), 1 << 30, 0});
       },
       int32Format(rate, 1),
       {1.0f, -1.0f, 0.5f, 0.0f}},
      {"int32 non-interleaved stereo",
       [] {
         return BufferList::nonInterleaved<std::int32_t>({{1 << 30}, {-(1 << 29)}});
       },
       int32Format(rate, 2, false),
       {0.125f}},
      {"float64 rounds to nearest single precision",
       [] {
         return BufferList::interleaved<double>({0.1, -2.5});
       },
       float64Format(rate, 1),
       {0.1f, -2.5f}},
      {"float64 non-interleaved stereo",
       [] {
         return BufferList::nonInterleaved<double>({{0.5}, {0.25}});
       },
       float64Format(rate, 2, false),
       {0.375f}},
      {"float and signed-integer flags together read as float",
       [] { return BufferList::interleaved<float>({0.75f}); },
       withFlags(floatFormat(rate, 1), kAudioFormatFlagIsSignedInteger),
       {0.75f}},
      {"big-endian flag is ignored: host byte order",
       [] { return BufferList::interleaved<std::int16_t>({16384}); },
       withFlags(int16Format(rate, 1), kAudioFormatFlagIsBigEndian),
       {0.5f}},
      {"zero channels count as one",
       [] {
         return BufferList::interleaved<float>({0.5f, -0.5f, 0.25f});
       },
       withChannels(floatFormat(rate, 1), 0),
       {0.5f, -0.5f, 0.25f}},
      {"a trailing partial frame is ignored",
       [] {
         return BufferList::interleaved<float>({0.5f, 1.0f}).withByteSize(0, 10);
       },
       floatFormat(rate, 1),
       {0.5f, 1.0f}},
      {"no data at all: silence for each frame, whatever the depth",
       [] {
         return BufferList::nonInterleaved<float>({{1, 2, 3}, {4, 5, 6}})
             .withNullData(0)
             .withNullData(1);
       },
       pcmFormat(rate, 2, 24, kAudioFormatFlagIsSignedInteger, false),
       {0.0f, 0.0f, 0.0f, 0.0f}},
  };
  for (const auto& c : cases) expectDecodes(c);
}

TEST(ReadMonoFloatSamples, EmptyInputsGiveNoSamplesBeforeAnyFormatCheck) {
  // Unsigned integer data would throw, but only once there is a frame to decode.
  const auto unsignedFormat = pcmFormat(48000, 2, 16, 0, true);
  const std::vector<DecodeCase> cases = {
      {"no buffers", [] { return BufferList::empty(); }, unsignedFormat, {}},
      {"first buffer empty",
       [] {
         return BufferList::raw({{}, {1, 2, 3, 4}});
       },
       unsignedFormat,
       {}},
      {"first buffer shorter than a frame",
       [] {
         return BufferList::raw({{1, 2, 3}});
       },
       unsignedFormat,
       {}},
  };
  for (const auto& c : cases) expectDecodes(c);
}

TEST(ReadMonoFloatSamples, RejectsUnsupportedFormatsWithTheirTexts) {
  struct ErrorCase {
    AudioStreamBasicDescription format;
    std::string message;
  };
  const std::vector<ErrorCase> cases = {
      {pcmFormat(48000, 1, 16, kAudioFormatFlagIsPacked, true),
       "Unsupported PCM sample representation."},
      {pcmFormat(48000, 1, 24, kAudioFormatFlagIsSignedInteger, true),
       "Unsupported PCM bit depth: 24."},
      {pcmFormat(48000, 1, 16, kAudioFormatFlagIsFloat, true), "Unsupported PCM bit depth: 16."},
      {pcmFormat(48000, 1, 8, kAudioFormatFlagIsSignedInteger, true),
       "Unsupported PCM bit depth: 8."},
      {pcmFormat(48000, 2, 24, kAudioFormatFlagIsSignedInteger, false),
       "Unsupported PCM bit depth: 24."},
  };
  const BufferList buffers = BufferList::raw({std::vector<std::uint8_t>(48, 0x11)});
  for (const auto& c : cases) {
    try {
      readMonoFloatSamples(buffers.list(), c.format);
      ADD_FAILURE() << "no error for " << c.message;
    } catch (const HelperError& error) {
      EXPECT_EQ(error.description(), c.message);
    }
  }
}

// Formats that do not describe their buffers: every read stays inside mDataByteSize
// (AddressSanitizer watches the exactly-sized buffers) and the work stays bounded.
TEST(ReadMonoFloatSamples, InconsistentFormatsStayInsideTheirBuffers) {
  constexpr double rate = 48000;
  constexpr UInt32 manyChannels = std::numeric_limits<UInt32>::max();
  const std::vector<DecodeCase> cases = {
      {"interleaved, zero bytes per frame: only whole frames of the channels",
       [] {
         return BufferList::interleaved<float>({0.5f, -0.5f, 1.0f, 0.0f, 0.25f});
       },
       withBytesPerFrame(floatFormat(rate, 2), 0),
       {0.0f, 0.5f}},
      {"interleaved, bytes per frame smaller than the channels need",
       [] {
         return BufferList::interleaved<float>({0.5f, -0.5f, 1.0f, 0.0f});
       },
       withBytesPerFrame(floatFormat(rate, 2), 4),
       {0.0f, 0.5f}},
      {"interleaved, four billion channels: no frame fits",
       [] {
         return BufferList::interleaved<float>({0.5f, -0.5f, 1.0f, 0.0f});
       },
       withChannels(floatFormat(rate, 2), manyChannels),
       {}},
      {"non-interleaved, later buffer shorter: absent from the frames it lacks",
       [] {
         return BufferList::nonInterleaved<float>({{1.0f, 2.0f, 3.0f, 4.0f}, {5.0f, 6.0f}});
       },
       floatFormat(rate, 2, false),
       {3.0f, 4.0f, 3.0f, 4.0f}},
      {"non-interleaved, later buffer cut inside a sample",
       [] {
         return BufferList::nonInterleaved<std::int16_t>({{8192, 8192}, {8192, 8192}})
             .withByteSize(1, 3);
       },
       int16Format(rate, 2, false),
       {0.25f, 0.25f}},
      {"non-interleaved, a few buffers standing in for four billion channels: refused",
       [] {
         return BufferList::nonInterleaved<float>({{1.0f, 2.0f}, {3.0f, 4.0f}});
       },
       withChannels(floatFormat(rate, 2, false), manyChannels),
       {}},
      {"non-interleaved, one buffer standing in for eight channels of a small cycle",
       [] {
         return BufferList::nonInterleaved<float>({{0.5f, -0.25f}});
       },
       withChannels(floatFormat(rate, 1, false), 8),
       {0.5f, -0.25f}},
      {"no data but a claimed four gigabytes: refused, not four billion zeros",
       [] { return BufferList::raw({{}}).withNullData(0).withByteSize(0, 0xFFFFFFFF); },
       withBytesPerFrame(floatFormat(rate, 1), 1),
       {}},
      {"no data and a small claimed size: silence per frame",
       [] { return BufferList::raw({{}}).withNullData(0).withByteSize(0, 12); },
       floatFormat(rate, 1),
       {0.0f, 0.0f, 0.0f}},
  };
  for (const auto& c : cases) expectDecodes(c);
}

}  // namespace
}  // namespace talvorin
