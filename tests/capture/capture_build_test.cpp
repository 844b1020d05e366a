// Building and tearing down a capture: createCapture, its start work, teardownCapture.
#include <set>

#include "capture/core_audio_tap_capture.hpp"
#include "capture_fixture.hpp"
#include "output/helper_error.hpp"

namespace talvorin::testing {
namespace {

using nlohmann::json;

bool isCanonicalUUID(const std::string& text) {
  if (text.size() != 36) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
    const char c = text[i];
    if (hyphen ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

TEST_F(CaptureTest, ConstructionStartsIdleWithItsQueuesAndNoHardwareCall) {
  EXPECT_EQ(capture->tapID(), 0u);
  EXPECT_EQ(capture->aggregateDeviceID(), 0u);
  EXPECT_EQ(capture->ioProcID(), nullptr);
  EXPECT_FALSE(capture->started());
  EXPECT_FALSE(capture->loggedFormat());
  EXPECT_FALSE(capture->stopped());
  EXPECT_FALSE(capture->usesDeviceTap());
  EXPECT_FALSE(capture->boundOutputDeviceUID().has_value());
  EXPECT_EQ(capture->chunkCount(), 0);
  EXPECT_EQ(capture->byteCount(), 0);
  EXPECT_EQ(capture->resampler().sourcePosition(), 0.0);

  const auto& format = capture->streamDescription();
  EXPECT_EQ(format.mSampleRate, 48000.0);
  EXPECT_EQ(format.mFormatID, kAudioFormatLinearPCM);
  EXPECT_EQ(format.mFormatFlags, 9u);
  EXPECT_EQ(format.mBytesPerFrame, 4u);
  EXPECT_EQ(format.mChannelsPerFrame, 1u);
  EXPECT_EQ(format.mBitsPerChannel, 32u);

  EXPECT_EQ(capture->outputQueue()->label(), "com.talvorin.audio-helper.output");
  EXPECT_EQ(capture->startQueue()->label(), "com.talvorin.audio-helper.start");
  EXPECT_EQ(capture->deviceChangeQueue()->label(), "com.talvorin.audio-helper.device-change");
  EXPECT_TRUE(host.calls().empty());
}

TEST_F(CaptureTest, DeviceTapBuildDescribesTapAndAggregateAndStartsOnTheStartQueue) {
  capture->createCapture();

  ASSERT_EQ(host.createdTaps().size(), 1u);
  const TapDescription tap = host.createdTaps()[0];
  EXPECT_EQ(tap.kind, TapDescription::Kind::deviceStream);
  EXPECT_EQ(tap.deviceUID, "speakers-uid");
  EXPECT_EQ(tap.stream, 0);
  EXPECT_TRUE(tap.excludedProcesses.empty());
  EXPECT_TRUE(tap.processes.empty());
  EXPECT_EQ(tap.name, "Talvorin System Audio");
  EXPECT_TRUE(isCanonicalUUID(tap.uuid)) << tap.uuid;
  EXPECT_TRUE(tap.isPrivate);
  EXPECT_EQ(tap.muteBehavior, 0);

  ASSERT_EQ(host.createdAggregateDevices().size(), 1u);
  const AggregateDeviceDescription aggregate = host.createdAggregateDevices()[0];
  EXPECT_EQ(aggregate.name, "Talvorin System Audio Capture");
  const std::string prefix = "com.talvorin.audio-helper.aggregate.";
  ASSERT_EQ(aggregate.uid.rfind(prefix, 0), 0u) << aggregate.uid;
  const std::string aggregateUUID = aggregate.uid.substr(prefix.size());
  EXPECT_TRUE(isCanonicalUUID(aggregateUUID));
  EXPECT_NE(aggregateUUID, tap.uuid);
  EXPECT_TRUE(aggregate.isPrivate);
  EXPECT_TRUE(aggregate.tapAutoStart);
  ASSERT_EQ(aggregate.taps.size(), 1u);
  EXPECT_TRUE(aggregate.taps[0].driftCompensation);

  EXPECT_TRUE(capture->usesDeviceTap());
  EXPECT_EQ(capture->boundOutputDeviceUID(), "speakers-uid");
  EXPECT_NE(capture->tapID(), 0u);
  EXPECT_NE(capture->aggregateDeviceID(), 0u);
  EXPECT_NE(capture->ioProcID(), nullptr);
  EXPECT_TRUE(capture->loggedFormat());

  // Built, not yet started: the start waits for its queue.
  EXPECT_FALSE(capture->started());
  EXPECT_EQ(eventTypes(), (std::vector<std::string>{"output.device", "tap.created", "format"}));
  const auto all = events.events();
  EXPECT_EQ(
      all[0],
      (json{{"type", "output.device"}, {"deviceID", speakers}, {"deviceUID", "speakers-uid"}}));
  EXPECT_EQ(all[1]["tapID"], capture->tapID());
  EXPECT_EQ(all[1]["tapUUID"], tap.uuid);
  EXPECT_EQ(all[1]["tapUID"], aggregate.taps[0].uid);
  EXPECT_NE(aggregate.taps[0].uid, tap.uuid);  // the host gave the tap a UID of its own

  dispatch.runUntilIdle();
  EXPECT_TRUE(capture->started());
  const auto started = events.eventsOfType("capture.started");
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0], (json{{"type", "capture.started"},
                              {"aggregateDeviceID", capture->aggregateDeviceID()}}));
}

TEST_F(CaptureTest, ProcessTapBuildMixesTheTargetsAndStillRecordsTheOutputDevice) {
  const AudioObjectID player = host.addProcess(4242, "com.example.player");
  const AudioObjectID other = host.addProcess(77, "com.example.other");
  ::setenv(kIncludePIDVariable, "77, 4242", 1);

  capture->createCapture();

  ASSERT_EQ(host.createdTaps().size(), 1u);
  EXPECT_EQ(host.createdTaps()[0].kind, TapDescription::Kind::monoMixdownOfProcesses);
  EXPECT_EQ(host.createdTaps()[0].processes, (std::vector<AudioObjectID>{other, player}));
  EXPECT_FALSE(capture->usesDeviceTap());
  EXPECT_EQ(capture->boundOutputDeviceUID(), "speakers-uid");
  EXPECT_EQ(eventTypes(), (std::vector<std::string>{"output.device", "target.processes",
                                                    "tap.created", "format"}));
  EXPECT_EQ(events.eventsOfType("target.processes")[0]["processObjects"], (json{other, player}));
}

TEST_F(CaptureTest, TapUIDFallsBackToTheTapUUID) {
  struct Case {
    const char* name;
    std::function<void(SimulatedHost&)> arrange;
    std::vector<std::string> expectedTypes;
  };
  const std::vector<Case> cases = {
      {"empty UID",
       [](SimulatedHost& h) { h.setTapUID(std::string()); },
       {"output.device", "tap.created", "format"}},
      {"failed read",
       [](SimulatedHost& h) { h.setTapUIDStatus(kAudioHardwareUnknownPropertyError); },
       {"output.device", "warning", "tap.created", "format"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedHost localHost;
    VirtualDispatch localDispatch;
    CapturedOutput localEvents, localFrames;
    localHost.setDefaultOutputDevice(localHost.addOutputDevice("uid"));
    c.arrange(localHost);
    auto local = std::make_shared<CoreAudioTapCapture>(
        localHost, localDispatch, CoreAudioTapCapture::Streams{localFrames.fd(), localEvents.fd()});
    local->createCapture();

    std::vector<std::string> types;
    for (const auto& event : localEvents.events()) types.push_back(event["type"]);
    EXPECT_EQ(types, c.expectedTypes);
    const auto created = localEvents.eventsOfType("tap.created").at(0);
    EXPECT_EQ(created["tapUID"], created["tapUUID"]);
    EXPECT_EQ(localHost.createdAggregateDevices().at(0).taps.at(0).uid, created["tapUUID"]);
    if (!localEvents.eventsOfType("warning").empty()) {
      EXPECT_EQ(localEvents.eventsOfType("warning")[0],
                (json{{"type", "warning"},
                      {"code", "tap_uid_probe_failed"},
                      {"status", kAudioHardwareUnknownPropertyError}}));
    }
  }
}

TEST_F(CaptureTest, EveryBuildMakesFreshUUIDs) {
  capture->createCapture();
  capture->teardownCapture();
  capture->createCapture();
  std::set<std::string> uuids;
  for (const auto& tap : host.createdTaps()) uuids.insert(tap.uuid);
  for (const auto& aggregate : host.createdAggregateDevices()) uuids.insert(aggregate.uid);
  EXPECT_EQ(uuids.size(), 4u);
}

// What each failing step of a build leaves behind.
TEST_F(CaptureTest, AFailedBuildUndoesWhatItBuiltAndLeavesTheCaptureIdle) {
  struct Case {
    const char* name;
    std::function<void(SimulatedHost&, AudioObjectID speakerID)> arrange;
    std::string message;
    std::vector<std::string> events;
    std::vector<std::string> destroyed;  // the teardown calls made, in order
    bool fieldsChanged;
  };
  const std::string noProc = "AudioDeviceCreateIOProcID did not return an IOProc ID.";
  const std::vector<Case> cases = {
      {"no default output",
       [](SimulatedHost& h, AudioObjectID) { h.setDefaultOutputDevice(0); },
       "No default macOS output device is available.",
       {},
       {},
       false},
      {"default output read fails",
       [](SimulatedHost& h, AudioObjectID) {
         h.setPropertyStatus(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice,
                             -50);
       },
       "AudioObjectGetPropertyData(default output device) failed with OSStatus -50 (-50).",
       {},
       {},
       false},
      {"output without UID",
       [](SimulatedHost& h, AudioObjectID) { h.setDefaultOutputDevice(h.addOutputDevice("")); },
       "The default macOS output device has no UID.",
       {},
       {},
       false},
      {"UID read fails",
       [](SimulatedHost& h, AudioObjectID speakerID) {
         h.setPropertyStatus(speakerID, kAudioDevicePropertyDeviceUID,
                             kAudioHardwareBadDeviceError);
       },
       "AudioObjectGetPropertyData(default output UID) failed with OSStatus 560227702 (!dev).",
       {},
       {},
       false},
      {"unknown target process",
       [](SimulatedHost&, AudioObjectID) { ::setenv(kIncludePIDVariable, "999", 1); },
       "No Core Audio process object is available for PID 999.",
       {},
       {},
       false},
      {"tap creation",
       [](SimulatedHost& h, AudioObjectID) {
         h.setStatus(SimulatedHost::Operation::createProcessTap,
                     kAudioHardwareIllegalOperationError);
       },
       "AudioHardwareCreateProcessTap failed with OSStatus 1852797029 (nope).",
       {"output.device"},
       {},
       true},
      {"aggregate creation",
       [](SimulatedHost& h, AudioObjectID) {
         h.setStatus(SimulatedHost::Operation::createAggregateDevice,
                     kAudioHardwareUnspecifiedError);
       },
       "AudioHardwareCreateAggregateDevice failed with OSStatus 2003329396 (what).",
       {"output.device", "tap.created"},
       {"AudioHardwareDestroyProcessTap"},
       true},
      {"IO procedure creation",
       [](SimulatedHost& h, AudioObjectID) {
         h.setStatus(SimulatedHost::Operation::createIOProcID, -50);
       },
       "AudioDeviceCreateIOProcID failed with OSStatus -50 (-50).",
       {"output.device", "tap.created", "format"},
       {"AudioHardwareDestroyAggregateDevice", "AudioHardwareDestroyProcessTap"},
       true},
      {"null IO procedure",
       [](SimulatedHost& h, AudioObjectID) { h.returnNullIOProcID(true); },
       noProc,
       {"output.device", "tap.created", "format"},
       {"AudioHardwareDestroyAggregateDevice", "AudioHardwareDestroyProcessTap"},
       true},
  };

  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ::unsetenv(kIncludePIDVariable);
    SimulatedHost localHost;
    VirtualDispatch localDispatch;
    CapturedOutput localEvents, localFrames;
    const AudioObjectID localSpeakers = localHost.addOutputDevice("speakers-uid");
    localHost.setDefaultOutputDevice(localSpeakers);
    AudioStreamBasicDescription stereo{44100.0, kAudioFormatLinearPCM, 9, 8, 1, 8, 2, 32, 0};
    localHost.setAggregateFormat(stereo);
    c.arrange(localHost, localSpeakers);
    localHost.clearCalls();
    auto local = std::make_shared<CoreAudioTapCapture>(
        localHost, localDispatch, CoreAudioTapCapture::Streams{localFrames.fd(), localEvents.fd()});

    try {
      local->createCapture();
      ADD_FAILURE() << "no throw";
    } catch (const HelperError& error) {
      EXPECT_EQ(error.description(), c.message);
    }

    std::vector<std::string> types;
    for (const auto& event : localEvents.events()) types.push_back(event["type"]);
    EXPECT_EQ(types, c.events);

    std::vector<std::string> destroyed;
    for (const auto& operation : localHost.operations()) {
      if (operation.find("Destroy") != std::string::npos || operation == "AudioDeviceStop") {
        destroyed.push_back(operation);
      }
    }
    EXPECT_EQ(destroyed, c.destroyed);
    EXPECT_TRUE(localHost.liveTaps().empty());
    EXPECT_TRUE(localHost.liveAggregateDevices().empty());

    EXPECT_EQ(local->tapID(), 0u);
    EXPECT_EQ(local->aggregateDeviceID(), 0u);
    EXPECT_EQ(local->ioProcID(), nullptr);
    EXPECT_FALSE(local->started());
    EXPECT_EQ(local->usesDeviceTap(), c.fieldsChanged);
    EXPECT_EQ(local->boundOutputDeviceUID().has_value(), c.fieldsChanged);
    // Only a build that got as far as the format keeps it.
    const bool formatRead = std::find(c.events.begin(), c.events.end(), "format") != c.events.end();
    EXPECT_EQ(local->streamDescription().mChannelsPerFrame, formatRead ? 2u : 1u);

    localDispatch.runUntilIdle();  // no start work was queued
    EXPECT_TRUE(localEvents.eventsOfType("capture.started").empty());
  }
}

TEST_F(CaptureTest, AFailedStartIsReportedOnceAndLeavesTheCaptureBuilt) {
  host.setStatus(SimulatedHost::Operation::deviceStart, kAudioHardwareNotRunningError);
  capture->createCapture();
  dispatch.runUntilIdle();

  EXPECT_EQ(events.eventsOfType("error"),
            (std::vector<json>{
                {{"type", "error"},
                 {"code", "device_start_failed"},
                 {"message", "AudioDeviceStart failed with OSStatus 1937010544 (stop)."}}}));
  EXPECT_TRUE(events.eventsOfType("capture.started").empty());
  EXPECT_FALSE(capture->started());
  EXPECT_NE(capture->ioProcID(), nullptr);
  EXPECT_EQ(host.liveAggregateDevices().size(), 1u);
}

TEST_F(CaptureTest, TeardownStopsOnlyWhatStartedAndDestroysInOrder) {
  // Never built: nothing to do, twice.
  capture->teardownCapture();
  capture->teardownCapture();
  EXPECT_TRUE(host.calls().empty());

  // Built but not started: no stop.
  capture->createCapture();
  host.clearCalls();
  capture->teardownCapture();
  EXPECT_EQ(host.operations(), (std::vector<std::string>{"AudioDeviceDestroyIOProcID",
                                                         "AudioHardwareDestroyAggregateDevice",
                                                         "AudioHardwareDestroyProcessTap"}));

  // Running: stop first. A second teardown finds nothing left.
  capture->createCapture();
  dispatch.runUntilIdle();
  ASSERT_TRUE(capture->started());
  host.clearCalls();
  capture->teardownCapture();
  capture->teardownCapture();
  EXPECT_EQ(host.operations(),
            (std::vector<std::string>{"AudioDeviceStop", "AudioDeviceDestroyIOProcID",
                                      "AudioHardwareDestroyAggregateDevice",
                                      "AudioHardwareDestroyProcessTap"}));
  EXPECT_FALSE(capture->started());
  EXPECT_EQ(capture->ioProcID(), nullptr);
  EXPECT_EQ(capture->aggregateDeviceID(), 0u);
  EXPECT_EQ(capture->tapID(), 0u);
  // What teardown does not touch.
  EXPECT_TRUE(capture->usesDeviceTap());
  EXPECT_EQ(capture->boundOutputDeviceUID(), "speakers-uid");
  EXPECT_TRUE(capture->loggedFormat());
}

TEST_F(CaptureTest, TeardownResetsEveryHandleWhateverTheDestroyCallsReturn) {
  capture->createCapture();
  dispatch.runUntilIdle();
  host.setStatus(SimulatedHost::Operation::deviceStop, -1);
  host.setStatus(SimulatedHost::Operation::destroyIOProcID, -1);
  host.setStatus(SimulatedHost::Operation::destroyAggregateDevice, kAudioHardwareBadDeviceError);
  host.clearCalls();
  capture->teardownCapture();
  EXPECT_EQ(host.operations().size(), 4u);
  EXPECT_EQ(host.operations().back(), "AudioHardwareDestroyProcessTap");
  EXPECT_FALSE(capture->started());
  EXPECT_EQ(capture->ioProcID(), nullptr);
  EXPECT_EQ(capture->aggregateDeviceID(), 0u);
  EXPECT_EQ(capture->tapID(), 0u);
}

// A rebind that tears a build down before its start work ran: the stale start does nothing.
TEST_F(CaptureTest, AStartQueuedForATornDownBuildDoesNothing) {
  capture->createCapture();
  capture->teardownCapture();
  capture->createCapture();
  host.clearCalls();
  dispatch.runUntilIdle();
  EXPECT_EQ(host.operations(), (std::vector<std::string>{"AudioDeviceStart"}));
  EXPECT_EQ(events.eventsOfType("capture.started").size(), 1u);
  EXPECT_TRUE(events.eventsOfType("error").empty());
  EXPECT_TRUE(capture->started());
}

TEST_F(CaptureTest, IOProcedureWithoutClientDataDoesNothing) {
  AudioBufferList list{};
  EXPECT_EQ(CoreAudioTapCapture::coreAudioTapIOProc(1, nullptr, &list, nullptr, nullptr, nullptr,
                                                    nullptr),
            0);
  EXPECT_EQ(frames.contents(), "");
  EXPECT_EQ(events.contents(), "");
}

}  // namespace
}  // namespace talvorin::testing
