// Following the default output device: notifications, the 0.4 s debounce and the rebind.
#include "capture_fixture.hpp"

namespace talvorin::testing {
namespace {

using nlohmann::json;

class FollowingTest : public CaptureTest {
 protected:
  void SetUp() override {
    capture->createCapture();
    capture->registerDefaultOutputListener();
    dispatch.runUntilIdle();
    ASSERT_TRUE(capture->started());
    events.clear();
    host.clearCalls();
  }

  std::size_t rebuilds() const {
    std::size_t count = 0;
    for (const auto& operation : host.operations()) {
      count += operation == "AudioHardwareCreateProcessTap";
    }
    return count;
  }
};

TEST_F(FollowingTest, ASwitchRebuildsOnTheNewDevice) {
  const AudioObjectID oldAggregate = capture->aggregateDeviceID();
  host.setDefaultOutputDevice(headphones);
  dispatch.advance(0.39);
  EXPECT_TRUE(events.events().empty());
  dispatch.advance(0.02);

  EXPECT_EQ(eventTypes(), (std::vector<std::string>{"output.device.changed", "output.device",
                                                    "tap.created", "format", "capture.started"}));
  EXPECT_EQ(events.events()[0],
            (json{{"type", "output.device.changed"}, {"deviceUID", "headphones-uid"}}));
  EXPECT_EQ(events.events()[1]["deviceID"], headphones);
  EXPECT_EQ(host.createdTaps().back().deviceUID, "headphones-uid");
  EXPECT_EQ(capture->boundOutputDeviceUID(), "headphones-uid");
  EXPECT_TRUE(capture->started());
  EXPECT_NE(capture->aggregateDeviceID(), oldAggregate);
  EXPECT_EQ(host.liveAggregateDevices().size(), 1u);
  EXPECT_EQ(host.liveTaps().size(), 1u);
  // The old capture was stopped and destroyed before the new one was built.
  const auto operations = host.operations();
  const auto stop = std::find(operations.begin(), operations.end(), "AudioDeviceStop");
  const auto create =
      std::find(operations.begin(), operations.end(), "AudioHardwareCreateProcessTap");
  EXPECT_LT(stop, create);
}

TEST_F(FollowingTest, ABurstOfNotificationsEndsInOneRebindAfterTheLast) {
  host.setDefaultOutputDevice(headphones);
  dispatch.advance(0.1);
  host.notifyDefaultOutputListeners();
  dispatch.advance(0.1);
  host.notifyDefaultOutputListeners();
  dispatch.advance(0.399);  // 0.599 s in, 0.399 s after the third
  EXPECT_EQ(rebuilds(), 0u);
  dispatch.advance(0.002);
  EXPECT_EQ(rebuilds(), 1u);
  EXPECT_EQ(events.eventsOfType("output.device.changed").size(), 1u);
  dispatch.advance(5.0);
  EXPECT_EQ(rebuilds(), 1u);
}

TEST_F(FollowingTest, NotificationsThatEndOnTheSameDeviceChangeNothing) {
  host.notifyDefaultOutputListeners();  // same device
  dispatch.advance(1.0);
  host.setDefaultOutputDevice(headphones);  // away and back within the delay
  dispatch.advance(0.2);
  host.setDefaultOutputDevice(speakers);
  dispatch.advance(1.0);

  EXPECT_EQ(events.contents(), "");
  EXPECT_EQ(rebuilds(), 0u);
  EXPECT_TRUE(capture->started());
  for (const auto& operation : host.operations()) {
    EXPECT_EQ(operation, "AudioObjectGetPropertyData");
  }
}

TEST_F(FollowingTest, ANewDeviceWithoutUIDKeepsTheOldCaptureRunning) {
  const AudioObjectID nameless = host.addOutputDevice("");
  const AudioObjectID aggregate = capture->aggregateDeviceID();
  host.setDefaultOutputDevice(nameless);
  dispatch.advance(0.4);
  EXPECT_EQ(events.events(),
            (std::vector<json>{{{"type", "error"},
                                {"code", "retap_failed"},
                                {"message", "The default macOS output device has no UID."}}}));
  EXPECT_TRUE(capture->started());
  EXPECT_EQ(capture->aggregateDeviceID(), aggregate);
  EXPECT_EQ(capture->boundOutputDeviceUID(), "speakers-uid");
}

TEST_F(FollowingTest, AFailedRebuildLeavesTheCaptureIdleUntilAnotherDevice) {
  host.setStatus(SimulatedHost::Operation::createAggregateDevice, kAudioHardwareUnspecifiedError);
  host.setDefaultOutputDevice(headphones);
  dispatch.advance(0.4);
  EXPECT_EQ(eventTypes(), (std::vector<std::string>{"output.device.changed", "output.device",
                                                    "tap.created", "error"}));
  EXPECT_EQ(events.eventsOfType("error")[0]["code"], "retap_failed");
  EXPECT_EQ(events.eventsOfType("error")[0]["message"],
            "AudioHardwareCreateAggregateDevice failed with OSStatus 2003329396 (what).");
  EXPECT_EQ(capture->tapID(), 0u);
  EXPECT_EQ(capture->aggregateDeviceID(), 0u);
  EXPECT_FALSE(capture->started());
  EXPECT_TRUE(host.liveTaps().empty());

  // The failed build recorded the new device, so another notification for it does nothing.
  host.setStatus(SimulatedHost::Operation::createAggregateDevice, noErr);
  events.clear();
  host.notifyDefaultOutputListeners();
  dispatch.advance(0.4);
  EXPECT_EQ(events.contents(), "");
  EXPECT_FALSE(capture->started());

  // A different device brings the capture back.
  host.setDefaultOutputDevice(speakers);
  dispatch.advance(0.4);
  EXPECT_TRUE(capture->started());
  EXPECT_EQ(capture->boundOutputDeviceUID(), "speakers-uid");
}

TEST_F(CaptureTest, AFailedListenerRegistrationIsAWarningAndNothingFollows) {
  capture->createCapture();
  host.setStatus(SimulatedHost::Operation::addPropertyListener,
                 kAudioHardwareIllegalOperationError);
  events.clear();
  capture->registerDefaultOutputListener();
  EXPECT_EQ(events.events(),
            (std::vector<json>{{{"type", "warning"},
                                {"code", "device_listener_failed"},
                                {"status", kAudioHardwareIllegalOperationError}}}));
  EXPECT_FALSE(capture->hasDeviceListener());
  host.setDefaultOutputDevice(headphones);
  dispatch.advance(1.0);
  EXPECT_EQ(capture->boundOutputDeviceUID(), "speakers-uid");
}

TEST_F(CaptureTest, TheListenerRunsOnTheDeviceChangeQueueAndHoldsTheCaptureWeakly) {
  capture->createCapture();
  capture->registerDefaultOutputListener();
  EXPECT_TRUE(capture->hasDeviceListener());
  EXPECT_EQ(host.listenerCount(), 1u);
  std::weak_ptr<CoreAudioTapCapture> weak = capture;
  capture.reset();  // only the test held it
  EXPECT_TRUE(weak.expired());
  host.setDefaultOutputDevice(headphones);
  dispatch.advance(1.0);  // the listener finds no capture and does nothing
  EXPECT_EQ(host.createdTaps().size(), 1u);
}

}  // namespace
}  // namespace talvorin::testing
