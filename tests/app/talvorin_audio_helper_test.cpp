// The capture-mode start-up, run in-process on the simulated host.
#include "app/talvorin_audio_helper.hpp"

#include <unistd.h>

#include <gtest/gtest.h>

#include "discovery/target_processes.hpp"
#include "support/captured_output.hpp"
#include "support/simulated_host.hpp"
#include "support/virtual_dispatch.hpp"

namespace talvorin::testing {
namespace {

using nlohmann::json;

TEST(WatchMode, OnlyTheExactSwitchAnywhereSelectsIt) {
  struct Case {
    std::vector<std::string> arguments;
    bool watch;
  };
  const std::vector<Case> cases = {
      {{"helper"}, false},
      {{"helper", "--watch-input-processes"}, true},
      {{"helper", "--verbose", "x", "--watch-input-processes"}, true},
      {{"--watch-input-processes"}, true},  // even as the program path
      {{"helper", "--WATCH-INPUT-PROCESSES"}, false},
      {{"helper", "--watch-input"}, false},
      {{"helper", "--watch-input-processes=1"}, false},
      {{"helper", " --watch-input-processes"}, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TalvorinAudioHelper::isWatchMode(c.arguments), c.watch) << c.arguments.back();
  }
}

class DriverTest : public ::testing::Test {
 protected:
  DriverTest() { ::unsetenv(kIncludePIDVariable); }
  ~DriverTest() override {
    ::unsetenv(kIncludePIDVariable);
    TalvorinAudioHelper::activeCapture.reset();
  }

  std::optional<int> start() {
    return TalvorinAudioHelper::startCapture(
        host, dispatch, "test-engine", CoreAudioTapCapture::Streams{frames.fd(), events.fd()}, {});
  }
  std::vector<std::string> types() const {
    std::vector<std::string> result;
    for (const auto& event : events.events()) result.push_back(event["type"]);
    return result;
  }

  SimulatedHost host;
  VirtualDispatch dispatch;
  CapturedOutput frames;
  CapturedOutput events;
};

TEST_F(DriverTest, AnnouncesBuildsAndBecomesReadyFollowingTheOutput) {
  host.setDefaultOutputDevice(host.addOutputDevice("speakers"));
  host.setAggregateFormat(
      AudioStreamBasicDescription{44100.0, kAudioFormatLinearPCM, 9, 8, 1, 8, 2, 32, 0});

  EXPECT_EQ(start(), std::nullopt);
  EXPECT_EQ(types(), (std::vector<std::string>{"starting", "output.device", "tap.created", "format",
                                               "ready"}));
  const auto all = events.events();
  EXPECT_EQ(all.front(),
            (json{{"type", "starting"}, {"engine", "test-engine"}, {"pid", ::getpid()}}));
  // Always the output format, whatever the device's own.
  EXPECT_EQ(
      all.back(),
      (json{{"type", "ready"}, {"engine", "test-engine"}, {"sampleRate", 16000}, {"channels", 1}}));
  ASSERT_NE(TalvorinAudioHelper::activeCapture, nullptr);
  EXPECT_TRUE(TalvorinAudioHelper::activeCapture->hasDeviceListener());
  EXPECT_EQ(host.listenerCount(), 1u);

  dispatch.runUntilIdle();
  EXPECT_EQ(types().back(), "capture.started");
}

TEST_F(DriverTest, AFailedStartEndsWithStatusThreeAndNoReady) {
  host.setDefaultOutputDevice(0);
  EXPECT_EQ(start(), 3);
  EXPECT_EQ(types(), (std::vector<std::string>{"starting", "error"}));
  EXPECT_EQ(events.events().back(),
            (json{{"type", "error"},
                  {"code", "capture_start_failed"},
                  {"message", "No default macOS output device is available."}}));
}

TEST_F(DriverTest, ACaptureOfChosenProcessesDoesNotFollowTheOutput) {
  host.setDefaultOutputDevice(host.addOutputDevice("speakers"));
  host.addProcess(4242, "com.example.player");
  ::setenv(kIncludePIDVariable, "4242", 1);
  EXPECT_EQ(start(), std::nullopt);
  EXPECT_EQ(types().back(), "ready");
  EXPECT_FALSE(TalvorinAudioHelper::activeCapture->usesDeviceTap());
  EXPECT_EQ(host.listenerCount(), 0u);
}

TEST_F(DriverTest, AFailedListenerRegistrationStillEndsReady) {
  host.setDefaultOutputDevice(host.addOutputDevice("speakers"));
  host.setStatus(SimulatedHost::Operation::addPropertyListener, -50);
  EXPECT_EQ(start(), std::nullopt);
  EXPECT_EQ(types(), (std::vector<std::string>{"starting", "output.device", "tap.created", "format",
                                               "warning", "ready"}));
}

}  // namespace
}  // namespace talvorin::testing
