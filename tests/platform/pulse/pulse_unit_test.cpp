// The backend's parts that need no server: cycle assembly, the mono mix, and the behaviour
// when no server can be reached.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "platform/pulse/cycle_assembler.hpp"
#include "platform/pulse/mono_mixer.hpp"
#include "platform/pulse/pulse_audio_hardware.hpp"
#include "platform/pulse/status_codes.hpp"

namespace talvorin::pulse {
namespace {

// Frames numbered 0, 1, 2, ... on channel 0, and their negatives on channel 1.
std::vector<float> numberedFrames(std::size_t first, std::size_t count) {
  std::vector<float> samples;
  for (std::size_t frame = first; frame < first + count; ++frame) {
    samples.push_back(static_cast<float>(frame));
    samples.push_back(-static_cast<float>(frame));
  }
  return samples;
}

TEST(CycleAssembler, CutsAnyChunkingIntoWholeCyclesInOrder) {
  struct Case {
    const char* name;
    std::vector<std::size_t> chunks;
  };
  const std::vector<Case> cases = {
      {"one frame at a time", std::vector<std::size_t>(1000, 1)},
      {"exact cycles", {480, 480}},
      {"uneven chunks across cycle edges", {7, 473, 1, 959, 13, 100}},
      {"one chunk of several cycles", {1500}},
  };
  for (const Case& entry : cases) {
    SCOPED_TRACE(entry.name);
    CycleAssembler assembler(2, 480);
    std::vector<float> delivered;
    std::size_t cycles = 0;
    bool steady = true;
    std::size_t sent = 0;
    for (const std::size_t chunk : entry.chunks) {
      const auto samples = numberedFrames(sent, chunk);
      assembler.push(samples.data(), chunk, [&](const float* cycle, std::size_t frames) {
        steady = steady && frames == 480;
        delivered.insert(delivered.end(), cycle, cycle + frames * 2);
        ++cycles;
      });
      sent += chunk;
    }
    EXPECT_TRUE(steady);
    EXPECT_EQ(cycles, sent / 480);
    EXPECT_EQ(assembler.pendingFrames(), sent % 480);
    EXPECT_EQ(delivered, numberedFrames(0, cycles * 480));
  }
}

TEST(CycleAssembler, AHoleBecomesSilenceOfItsLength) {
  CycleAssembler assembler(1, 4);
  std::vector<float> delivered;
  auto deliver = [&](const float* cycle, std::size_t frames) {
    delivered.insert(delivered.end(), cycle, cycle + frames);
  };
  const std::vector<float> ones(3, 1.0F);
  assembler.push(ones.data(), 3, deliver);
  assembler.push(nullptr, 2, deliver);
  assembler.push(ones.data(), 3, deliver);
  EXPECT_EQ(delivered, (std::vector<float>{1, 1, 1, 0, 0, 1, 1, 1}));
}

TEST(MonoMixer, AveragesChannelsAndSumsReadySources) {
  MonoMixer mixer(2, 2, 100);
  mixer.addSource(1);
  mixer.addSource(2);
  const std::vector<float> stereo = {1.0F, 0.0F, 0.5F, 0.5F};  // two frames
  const std::vector<float> mono = {0.25F, 0.25F};
  mixer.push(1, stereo.data(), 2, 2);
  mixer.push(2, mono.data(), 2, 1);
  std::vector<float> cycle(2);
  mixer.mixCycle(cycle.data());
  EXPECT_EQ(cycle, (std::vector<float>{0.75F, 0.75F}));
  // Both ran dry: silence, not the old audio again.
  mixer.mixCycle(cycle.data());
  EXPECT_EQ(cycle, (std::vector<float>{0.0F, 0.0F}));
}

TEST(MonoMixer, ASourceWaitsUntilPrimedAndNeverHoldsMoreThanItsLimit) {
  MonoMixer mixer(2, 4, 6);
  mixer.addSource(7);
  std::vector<float> cycle(2);
  const std::vector<float> samples = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

  mixer.push(7, samples.data(), 3, 1);  // below the priming level: not heard yet
  mixer.mixCycle(cycle.data());
  EXPECT_EQ(cycle, (std::vector<float>{0, 0}));
  EXPECT_EQ(mixer.bufferedFrames(7), 3U);

  mixer.push(7, samples.data() + 3, 7, 1);  // 10 buffered, the oldest 4 dropped
  EXPECT_EQ(mixer.bufferedFrames(7), 6U);
  mixer.mixCycle(cycle.data());
  EXPECT_EQ(cycle, (std::vector<float>{5, 6}));

  mixer.mixCycle(cycle.data());
  EXPECT_EQ(cycle, (std::vector<float>{7, 8}));
  // One frame left, less than a cycle: it is kept for later, not played with a gap.
  mixer.push(7, samples.data(), 1, 1);
  EXPECT_EQ(mixer.bufferedFrames(7), 3U);
  mixer.mixCycle(cycle.data());
  EXPECT_EQ(cycle, (std::vector<float>{9, 10}));
  mixer.mixCycle(cycle.data());
  EXPECT_EQ(cycle, (std::vector<float>{0, 0}));
  EXPECT_EQ(mixer.bufferedFrames(7), 1U);

  mixer.removeSource(7);
  mixer.push(7, samples.data(), 4, 1);  // ignored once removed
  EXPECT_FALSE(mixer.hasSource(7));
  mixer.mixCycle(cycle.data());
  EXPECT_EQ(cycle, (std::vector<float>{0, 0}));
}

TEST(PulseAudioHardware, EveryCallAnswersUnreachableWhenNoServerListens) {
  const char* previous = std::getenv("PULSE_SERVER");
  const std::optional<std::string> saved =
      previous != nullptr ? std::optional<std::string>(previous) : std::nullopt;
  setenv("PULSE_SERVER", "unix:/nonexistent/talvorin-test/native", 1);
  auto hardware = makePulseAudioHardware();
  if (saved) {
    setenv("PULSE_SERVER", saved->c_str(), 1);
  } else {
    unsetenv("PULSE_SERVER");
  }

  const auto defaultOutput =
      propertyAddress(kAudioHardwarePropertyDefaultOutputDevice, kAudioObjectPropertyScopeGlobal);
  AudioObjectID device = 7;
  UInt32 size = sizeof device;
  EXPECT_EQ(
      hardware->getPropertyData(kAudioObjectSystemObject, defaultOutput, 0, nullptr, size, &device),
      kServerUnreachable);
  EXPECT_EQ(hardware->getPropertyDataSize(kAudioObjectSystemObject,
                                          propertyAddress(kAudioHardwarePropertyProcessObjectList,
                                                          kAudioObjectPropertyScopeGlobal),
                                          0, nullptr, size),
            kServerUnreachable);
  std::string uid;
  EXPECT_EQ(hardware->getPropertyString(2, defaultOutput, uid), kServerUnreachable);
  TapDescription tap;
  tap.deviceUID = "any";
  AudioObjectID tapID = 0;
  EXPECT_EQ(hardware->createProcessTap(tap, tapID), kServerUnreachable);
  EXPECT_EQ(tapID, kAudioObjectUnknown);
  EXPECT_EQ(
      hardware->addPropertyListener(kAudioObjectSystemObject, defaultOutput, nullptr, nullptr),
      kServerUnreachable);
  // The executable name needs no server.
  EXPECT_EQ(hardware->runningApplicationBundleID(getpid()).has_value(), true);
  EXPECT_EQ(hardware->runningApplicationBundleID(-1), std::nullopt);
}

}  // namespace
}  // namespace talvorin::pulse
