// One IO cycle through the capture: decode, resample, encode, count, report, write.
#include <cmath>
#include <limits>

#include "capture_fixture.hpp"
#include "mono_cycle.hpp"

namespace talvorin::testing {
namespace {

using nlohmann::json;

class HandleInputTest : public CaptureTest {
 protected:
  void build(double rate) {
    host.setAggregateFormat(monoFloatFormat(rate));
    capture->createCapture();
    dispatch.runUntilIdle();
    ASSERT_TRUE(capture->started());
    events.clear();
  }
  // Hands one cycle to the running IO procedure, the way the backend would.
  void deliver(std::vector<float> samples) {
    MonoCycle cycle(std::move(samples));
    ASSERT_EQ(host.deliverCycle(cycle.list()), noErr);
  }
};

TEST_F(HandleInputTest, CountsFramesAndReportsTheFirstAndEveryFiftieth) {
  build(16000.0);
  const std::vector<float> samples(171, 0.5f);  // 342 payload bytes at 16 kHz
  std::vector<json> chunkEvents;
  for (int cycle = 1; cycle <= 100; ++cycle) {
    deliver(samples);
    const auto seen = events.eventsOfType("chunk");
    EXPECT_EQ(seen.size(), cycle < 50 ? 1u : cycle < 100 ? 2u : 3u) << cycle;
  }
  const auto chunks = events.eventsOfType("chunk");
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_EQ(chunks[0]["chunks"], 1);
  EXPECT_EQ(chunks[0]["bytes"], 342);
  EXPECT_EQ(chunks[1]["chunks"], 50);
  EXPECT_EQ(chunks[1]["bytes"], 17100);
  EXPECT_EQ(chunks[2]["chunks"], 100);
  EXPECT_EQ(capture->chunkCount(), 100);
  EXPECT_EQ(capture->byteCount(), 34200);

  // The frames reach standard output only through the output queue.
  EXPECT_EQ(frames.contents(), "");
  dispatch.runUntilIdle();
  const ParsedFrames parsed = parseFrames(frames.contents());
  EXPECT_TRUE(parsed.wellFormed);
  ASSERT_EQ(parsed.frames.size(), 100u);
  EXPECT_EQ(parsed.payloadBytes, 34200u);
  EXPECT_EQ(parsed.frames[0], std::vector<std::int16_t>(171, 16383));
}

TEST_F(HandleInputTest, LevelsComeFromTheDecodedSamples) {
  build(16000.0);
  deliver({0.25f, -0.75f});
  const auto chunk = events.eventsOfType("chunk").at(0);
  EXPECT_EQ(chunk["peak"].get<double>(), 0.75);
  EXPECT_NEAR(chunk["rms"].get<double>(), std::sqrt(0.3125), 1e-12);
}

TEST_F(HandleInputTest, PeakSeesASampleTheResamplerSkips) {
  build(48000.0);
  std::vector<float> samples(512, 0.0f);
  samples[1] = -0.9f;  // output positions are 0, 3, 6, ...: index 1 is never read
  deliver(samples);
  const auto chunk = events.eventsOfType("chunk").at(0);
  EXPECT_NEAR(chunk["peak"].get<double>(), 0.9, 1e-6);
  dispatch.runUntilIdle();
  const auto parsed = parseFrames(frames.contents());
  ASSERT_EQ(parsed.frames.size(), 1u);
  EXPECT_EQ(parsed.frames[0], std::vector<std::int16_t>(171, 0));
}

TEST_F(HandleInputTest, CyclesThatYieldNoFrameChangeNothing) {
  struct Case {
    const char* name;
    AudioStreamBasicDescription format;
    std::vector<float> samples;
  };
  AudioStreamBasicDescription twentyFourBit{
      48000.0, kAudioFormatLinearPCM, kAudioFormatFlagIsSignedInteger, 3, 1, 3, 1, 24, 0};
  AudioStreamBasicDescription unsignedInt{48000.0, kAudioFormatLinearPCM, 0, 2, 1, 2, 1, 16, 0};
  const std::vector<Case> cases = {
      {"empty cycle", monoFloatFormat(48000.0), {}},
      {"rate zero", monoFloatFormat(0.0), {0.5f, 0.5f}},
      {"one sample at 48 kHz reaches no output position", monoFloatFormat(48000.0), {0.5f}},
      {"24-bit integers", twentyFourBit, {0.5f, 0.5f, 0.5f}},
      {"unsigned integers", unsignedInt, {0.5f, 0.5f}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedHost localHost;
    VirtualDispatch localDispatch;
    CapturedOutput localFrames, localEvents;
    localHost.setDefaultOutputDevice(localHost.addOutputDevice("uid"));
    localHost.setAggregateFormat(c.format);
    auto local = std::make_shared<CoreAudioTapCapture>(
        localHost, localDispatch, CoreAudioTapCapture::Streams{localFrames.fd(), localEvents.fd()});
    local->createCapture();
    localDispatch.runUntilIdle();
    localEvents.clear();

    MonoCycle cycle(c.samples);
    localHost.deliverCycle(cycle.list());
    localDispatch.runUntilIdle();
    EXPECT_EQ(local->chunkCount(), 0);
    EXPECT_EQ(local->byteCount(), 0);
    EXPECT_EQ(localEvents.contents(), "");
    EXPECT_EQ(localFrames.contents(), "");
  }
}

TEST_F(HandleInputTest, ANotANumberSampleStillMakesAFrameButNoStatistics) {
  build(16000.0);
  deliver({std::numeric_limits<float>::quiet_NaN(), 0.5f});
  EXPECT_EQ(capture->chunkCount(), 1);
  EXPECT_TRUE(events.eventsOfType("chunk").empty());
  dispatch.runUntilIdle();
  const auto parsed = parseFrames(frames.contents());
  ASSERT_EQ(parsed.frames.size(), 1u);
  EXPECT_EQ(parsed.frames[0], (std::vector<std::int16_t>{-32768, 16383}));
}

TEST_F(HandleInputTest, CountersFormatAndResamplerPositionCarryAcrossARebuild) {
  build(48000.0);
  deliver(std::vector<float>(512, 0.1f));  // 171 outputs, position left at 1
  EXPECT_EQ(capture->resampler().sourcePosition(), 1.0);

  capture->teardownCapture();
  capture->createCapture();
  dispatch.runUntilIdle();
  EXPECT_TRUE(capture->loggedFormat());
  EXPECT_EQ(capture->chunkCount(), 1);
  EXPECT_EQ(capture->resampler().sourcePosition(), 1.0);

  deliver(std::vector<float>(512, 0.1f));  // 170 outputs from position 1
  EXPECT_EQ(capture->chunkCount(), 2);
  EXPECT_EQ(capture->byteCount(), 2 * (171 + 170));
  EXPECT_EQ(capture->resampler().sourcePosition(), -1.0);
  dispatch.runUntilIdle();
  const auto parsed = parseFrames(frames.contents());
  EXPECT_TRUE(parsed.wellFormed);
  EXPECT_EQ(parsed.frames.size(), 2u);
}

}  // namespace
}  // namespace talvorin::testing
