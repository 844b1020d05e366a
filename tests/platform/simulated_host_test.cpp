#include "support/simulated_host.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/virtual_dispatch.hpp"

namespace talvorin::testing {
namespace {

constexpr AudioObjectPropertyAddress kDefaultOutput =
    propertyAddress(kAudioHardwarePropertyDefaultOutputDevice, kAudioObjectPropertyScopeGlobal);
constexpr AudioObjectPropertyAddress kPIDToProcess = propertyAddress(
    kAudioHardwarePropertyTranslatePIDToProcessObject, kAudioObjectPropertyScopeGlobal);

// Reads a UInt32-sized value; the status, and the value only when it succeeded.
struct Read {
  OSStatus status;
  UInt32 size;
  UInt32 value;
};

Read readWord(SimulatedHost& host, AudioObjectID object, AudioObjectPropertyAddress address,
              UInt32 qualifierSize = 0, const void* qualifier = nullptr) {
  Read read{0, sizeof(UInt32), 0xDEADBEEF};
  read.status =
      host.getPropertyData(object, address, qualifierSize, qualifier, read.size, &read.value);
  return read;
}

// Counts calls and remembers the last client data and input seen.
struct ProcProbe {
  int calls = 0;
  const AudioBufferList* lastInput = nullptr;

  static OSStatus proc(AudioObjectID, const AudioTimeStamp*, const AudioBufferList* input,
                       const AudioTimeStamp*, AudioBufferList*, const AudioTimeStamp*,
                       void* clientData) {
    auto* probe = static_cast<ProcProbe*>(clientData);
    ++probe->calls;
    probe->lastInput = input;
    return 7;  // passed back by deliverCycle
  }
};

TEST(SimulatedHostListenerTest, DefaultOutputChangesNotifyOnTheRegisteredQueue) {
  SimulatedHost host;
  VirtualDispatch dispatch;
  auto queue = dispatch.makeSerialQueue("com.example.device-change");
  const AudioObjectID speakers = host.addOutputDevice("speakers");
  const AudioObjectID headphones = host.addOutputDevice("headphones");
  host.setDefaultOutputDevice(speakers);  // nobody listens yet

  std::vector<std::string> notifications;
  ASSERT_EQ(host.addPropertyListener(
                kAudioObjectSystemObject, kDefaultOutput, queue,
                [&](UInt32 count, const AudioObjectPropertyAddress* addresses) {
                  ASSERT_EQ(count, 1U);
                  EXPECT_EQ(addresses[0].mSelector, kAudioHardwarePropertyDefaultOutputDevice);
                  notifications.push_back(dispatch.currentQueueLabel().value_or("not on a queue"));
                }),
            noErr);
  EXPECT_EQ(host.listenerCount(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice),
            1U);

  host.setDefaultOutputDevice(headphones);
  EXPECT_TRUE(notifications.empty()) << "delivered inside the change instead of on the queue";
  dispatch.runUntilIdle();
  EXPECT_EQ(notifications, std::vector<std::string>{"com.example.device-change"});

  host.setDefaultOutputDevice(headphones);  // no change: no notification
  EXPECT_EQ(dispatch.pendingCount(), 0U);

  host.notifyDefaultOutputListeners();  // a notification without a change
  dispatch.runUntilIdle();
  EXPECT_EQ(notifications.size(), 2U);
  EXPECT_EQ(readWord(host, kAudioObjectSystemObject, kDefaultOutput).value, headphones);
}

TEST(SimulatedHostListenerTest, AFailedRegistrationRegistersNothing) {
  SimulatedHost host;
  VirtualDispatch dispatch;
  host.setStatus(SimulatedHost::Operation::addPropertyListener, kAudioHardwareUnspecifiedError);
  int notifications = 0;
  EXPECT_EQ(host.addPropertyListener(
                kAudioObjectSystemObject, kDefaultOutput, dispatch.makeSerialQueue("q"),
                [&](UInt32, const AudioObjectPropertyAddress*) { ++notifications; }),
            kAudioHardwareUnspecifiedError);
  host.setDefaultOutputDevice(host.addOutputDevice("speakers"));
  dispatch.runUntilIdle();
  EXPECT_EQ(notifications, 0);
  EXPECT_EQ(host.listenerCount(), 0U);
  EXPECT_EQ(host.calls(),
            (std::vector<SimulatedHost::Call>{
                {"AudioObjectAddPropertyListenerBlock", kAudioObjectSystemObject,
                 kAudioHardwarePropertyDefaultOutputDevice, kAudioHardwareUnspecifiedError}}));
}

TEST(SimulatedHostProcessTest, TranslatesProcessIDsThroughTheQualifier) {
  SimulatedHost host;
  const AudioObjectID first = host.addProcess(100, "com.example.first", true);
  const AudioObjectID removed = host.addProcess(200);
  const AudioObjectID negative = host.addProcess(-5);
  host.removeProcess(removed);

  struct Case {
    std::int32_t pid;
    AudioObjectID expected;
  };
  for (const Case& c : {Case{100, first}, Case{-5, negative}, Case{200, kAudioObjectUnknown},
                        Case{999, kAudioObjectUnknown}}) {
    const Read read =
        readWord(host, kAudioObjectSystemObject, kPIDToProcess, sizeof(c.pid), &c.pid);
    EXPECT_EQ(read.status, noErr) << "pid " << c.pid;
    EXPECT_EQ(read.value, c.expected) << "pid " << c.pid;
  }

  const std::int16_t shortPID = 100;
  EXPECT_NE(
      readWord(host, kAudioObjectSystemObject, kPIDToProcess, sizeof(shortPID), &shortPID).status,
      noErr);
  EXPECT_NE(readWord(host, kAudioObjectSystemObject, kPIDToProcess).status, noErr);

  // The process list follows additions and removals, in order.
  const auto list =
      *host.propertyBytes(kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList);
  std::vector<AudioObjectID> ids(list.size() / sizeof(AudioObjectID));
  std::memcpy(ids.data(), list.data(), list.size());
  EXPECT_EQ(ids, (std::vector<AudioObjectID>{first, negative}));
  EXPECT_EQ(host.property<SInt32>(negative, kAudioProcessPropertyPID), -5);
  EXPECT_EQ(host.property<UInt32>(first, kAudioProcessPropertyIsRunningInput), 1U);
  EXPECT_EQ(host.stringProperty(first, kAudioProcessPropertyBundleID), "com.example.first");
}

TEST(SimulatedHostPropertyTest, ReadsFollowTheStoredValueScopeAndStatus) {
  SimulatedHost host;
  const AudioObjectID device = host.addOutputDevice("speakers");
  host.setProperty<Float64>(device, kAudioDevicePropertyNominalSampleRate, 44100.0);
  host.setProperty<UInt32>(device, kAudioDevicePropertyStreamFormat, 5,
                           kAudioObjectPropertyScopeInput);
  const AudioObjectID failing = host.addOutputDevice("failing");
  host.setPropertyStatus(failing, kAudioDevicePropertyDeviceUID, kAudioHardwareBadDeviceError);

  const auto global = [](AudioObjectPropertySelector selector) {
    return propertyAddress(selector, kAudioObjectPropertyScopeGlobal);
  };
  struct Case {
    const char* what;
    AudioObjectID object;
    AudioObjectPropertyAddress address;
    OSStatus status;
    UInt32 size;  // written, when the read succeeds
  };
  const Case cases[] = {
      {"value, buffer larger than it", device, global(kAudioDevicePropertyNominalSampleRate), noErr,
       8},
      {"input scope only", device, global(kAudioDevicePropertyStreamFormat),
       kAudioHardwareUnknownPropertyError, 0},
      {"in its scope", device,
       propertyAddress(kAudioDevicePropertyStreamFormat, kAudioObjectPropertyScopeInput), noErr, 4},
      {"missing property", device, global(kAudioTapPropertyUID), kAudioHardwareUnknownPropertyError,
       0},
      {"missing object", 4242, global(kAudioDevicePropertyDeviceUID), kAudioHardwareBadObjectError,
       0},
      {"string read as data", device, global(kAudioDevicePropertyDeviceUID),
       kAudioHardwareUnsupportedOperationError, 0},
      {"chosen status", failing, global(kAudioDevicePropertyDeviceUID),
       kAudioHardwareBadDeviceError, 0},
  };
  for (const Case& c : cases) {
    unsigned char buffer[16] = {};
    UInt32 size = sizeof(buffer);
    EXPECT_EQ(host.getPropertyData(c.object, c.address, 0, nullptr, size, buffer), c.status)
        << c.what;
    if (c.status == noErr) {
      EXPECT_EQ(size, c.size) << c.what;
    }
  }

  // A smaller buffer gets the first bytes only.
  UInt32 half = 0;
  UInt32 size = sizeof(half);
  ASSERT_EQ(host.getPropertyData(device, global(kAudioDevicePropertyNominalSampleRate), 0, nullptr,
                                 size, &half),
            noErr);
  EXPECT_EQ(size, 4U);

  // Strings: read through getPropertyString; the size is one reference; a chosen status
  // fails every kind of read and writes nothing.
  std::string text = "untouched";
  EXPECT_EQ(host.getPropertyString(device, global(kAudioDevicePropertyDeviceUID), text), noErr);
  EXPECT_EQ(text, "speakers");
  UInt32 stringSize = 0;
  EXPECT_EQ(host.getPropertyDataSize(device, global(kAudioDevicePropertyDeviceUID), 0, nullptr,
                                     stringSize),
            noErr);
  EXPECT_EQ(stringSize, 8U);
  text = "untouched";
  EXPECT_EQ(host.getPropertyString(failing, global(kAudioDevicePropertyDeviceUID), text),
            kAudioHardwareBadDeviceError);
  EXPECT_EQ(text, "untouched");
  EXPECT_EQ(host.getPropertyDataSize(failing, global(kAudioDevicePropertyDeviceUID), 0, nullptr,
                                     stringSize),
            kAudioHardwareBadDeviceError);
  host.setPropertyStatus(failing, kAudioDevicePropertyDeviceUID, noErr);
  EXPECT_EQ(host.getPropertyString(failing, global(kAudioDevicePropertyDeviceUID), text), noErr);
  EXPECT_EQ(text, "failing");
}

TEST(SimulatedHostOperationTest, AChosenStatusFailsEveryLaterCallOfThatKind) {
  SimulatedHost host;
  AudioObjectID tap = 0;
  ASSERT_EQ(host.createProcessTap(TapDescription{}, tap), noErr);
  AudioObjectID device = 0;
  ASSERT_EQ(host.createAggregateDevice(AggregateDeviceDescription{}, device), noErr);
  host.clearCalls();

  // A failing create creates nothing and leaves the out value alone.
  host.setStatus(SimulatedHost::Operation::createProcessTap, kAudioHardwareIllegalOperationError);
  host.setStatus(SimulatedHost::Operation::createAggregateDevice, kAudioHardwareBadDeviceError);
  AudioObjectID untouched = 77;
  EXPECT_EQ(host.createProcessTap(TapDescription{}, untouched),
            kAudioHardwareIllegalOperationError);
  EXPECT_EQ(host.createAggregateDevice(AggregateDeviceDescription{}, untouched),
            kAudioHardwareBadDeviceError);
  EXPECT_EQ(untouched, 77U);
  EXPECT_EQ(host.createdTaps().size(), 1U);
  EXPECT_EQ(host.createdAggregateDevices().size(), 1U);

  // A failing destroy returns its status and the object stays.
  host.setStatus(SimulatedHost::Operation::destroyProcessTap, kAudioHardwareBadObjectError);
  host.setStatus(SimulatedHost::Operation::destroyAggregateDevice, kAudioHardwareBadObjectError);
  EXPECT_EQ(host.destroyAggregateDevice(device), kAudioHardwareBadObjectError);
  EXPECT_EQ(host.destroyProcessTap(tap), kAudioHardwareBadObjectError);
  EXPECT_EQ(host.liveTaps(), std::vector<AudioObjectID>{tap});
  EXPECT_EQ(host.liveAggregateDevices(), std::vector<AudioObjectID>{device});

  // 0 restores success.
  host.setStatus(SimulatedHost::Operation::destroyProcessTap, noErr);
  host.setStatus(SimulatedHost::Operation::destroyAggregateDevice, noErr);
  EXPECT_EQ(host.destroyAggregateDevice(device), noErr);
  EXPECT_EQ(host.destroyProcessTap(tap), noErr);
  EXPECT_TRUE(host.liveTaps().empty());
  EXPECT_TRUE(host.liveAggregateDevices().empty());
  EXPECT_EQ(host.destroyProcessTap(tap), kAudioHardwareBadObjectError);  // already gone

  using Call = SimulatedHost::Call;
  EXPECT_EQ(host.calls(),
            (std::vector<Call>{
                {"AudioHardwareCreateProcessTap", 0, 0, kAudioHardwareIllegalOperationError},
                {"AudioHardwareCreateAggregateDevice", 0, 0, kAudioHardwareBadDeviceError},
                {"AudioHardwareDestroyAggregateDevice", device, 0, kAudioHardwareBadObjectError},
                {"AudioHardwareDestroyProcessTap", tap, 0, kAudioHardwareBadObjectError},
                {"AudioHardwareDestroyAggregateDevice", device, 0, noErr},
                {"AudioHardwareDestroyProcessTap", tap, 0, noErr},
                {"AudioHardwareDestroyProcessTap", tap, 0, kAudioHardwareBadObjectError},
            }));
}

TEST(SimulatedHostTapTest, CreatedObjectsCarryTheChosenUIDsAndFormats) {
  SimulatedHost host;
  const auto uidOf = [&](AudioObjectID tap) {
    std::string uid = "unread";
    const OSStatus status = host.getPropertyString(
        tap, propertyAddress(kAudioTapPropertyUID, kAudioObjectPropertyScopeGlobal), uid);
    return std::pair{status, uid};
  };
  TapDescription description;
  description.name = "first";
  AudioObjectID automatic1 = 0;
  AudioObjectID automatic2 = 0;
  ASSERT_EQ(host.createProcessTap(description, automatic1), noErr);
  ASSERT_EQ(host.createProcessTap(description, automatic2), noErr);
  EXPECT_GT(automatic1, kAudioObjectSystemObject);
  EXPECT_GT(automatic2, automatic1);
  EXPECT_EQ(uidOf(automatic1).first, noErr);
  EXPECT_FALSE(uidOf(automatic1).second.empty());
  EXPECT_NE(uidOf(automatic1).second, uidOf(automatic2).second);

  host.setTapUID("");
  AudioObjectID empty = 0;
  ASSERT_EQ(host.createProcessTap(description, empty), noErr);
  EXPECT_EQ(uidOf(empty), (std::pair<OSStatus, std::string>{noErr, ""}));

  host.setTapUID(std::nullopt);
  host.setTapUIDStatus(kAudioHardwareUnknownPropertyError);
  AudioObjectID unreadable = 0;
  ASSERT_EQ(host.createProcessTap(description, unreadable), noErr);
  EXPECT_EQ(uidOf(unreadable),
            (std::pair<OSStatus, std::string>{kAudioHardwareUnknownPropertyError, "unread"}));
  EXPECT_EQ(uidOf(automatic1).first, noErr) << "only later taps are affected";

  AudioStreamBasicDescription format = SimulatedHost::defaultAggregateFormat();
  EXPECT_EQ(format.mSampleRate, 48000.0);
  EXPECT_EQ(format.mChannelsPerFrame, 2U);
  EXPECT_EQ(format.mBytesPerFrame, 8U);
  format.mSampleRate = 44100.0;
  host.setAggregateFormat(format);
  host.setAggregateNominalRate(44100.0);
  AggregateDeviceDescription aggregate;
  aggregate.uid = "com.example.aggregate";
  AudioObjectID device = 0;
  ASSERT_EQ(host.createAggregateDevice(aggregate, device), noErr);
  AudioStreamBasicDescription read{};
  UInt32 size = sizeof(read);
  ASSERT_EQ(
      host.getPropertyData(
          device, propertyAddress(kAudioDevicePropertyStreamFormat, kAudioObjectPropertyScopeInput),
          0, nullptr, size, &read),
      noErr);
  EXPECT_EQ(size, sizeof(read));
  EXPECT_EQ(read.mSampleRate, 44100.0);
  EXPECT_EQ(host.property<Float64>(device, kAudioDevicePropertyNominalSampleRate), 44100.0);

  host.setAggregateFormatStatus(kAudioHardwareBadStreamError);
  AudioObjectID badFormat = 0;
  ASSERT_EQ(host.createAggregateDevice(aggregate, badFormat), noErr);
  size = sizeof(read);
  EXPECT_EQ(host.getPropertyData(
                badFormat,
                propertyAddress(kAudioDevicePropertyStreamFormat, kAudioObjectPropertyScopeInput),
                0, nullptr, size, &read),
            kAudioHardwareBadStreamError);

  ASSERT_EQ(host.createdTaps().size(), 4U);
  // Elements come by value: a reference to one outlives the snapshot it came from.
  const TapDescription& firstTap = host.createdTaps()[0];
  EXPECT_EQ(firstTap.name, "first");
  EXPECT_THROW(host.createdTaps()[4], std::out_of_range);
  ASSERT_EQ(host.createdAggregateDevices().size(), 2U);
  EXPECT_EQ(host.createdAggregateDevices()[0].uid, "com.example.aggregate");
}

TEST(SimulatedHostIOProcTest, DeliversCyclesOnlyToARunningProcedure) {
  SimulatedHost host;
  AudioObjectID device = 0;
  ASSERT_EQ(host.createAggregateDevice({}, device), noErr);
  ProcProbe probe;
  AudioBufferList input{};
  EXPECT_EQ(host.deliverCycle(input), kAudioHardwareNotRunningError);

  AudioDeviceIOProcID id = nullptr;
  ASSERT_EQ(host.createIOProcID(device, &ProcProbe::proc, &probe, id), noErr);
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(host.deliverCycle(input), kAudioHardwareNotRunningError) << "registered, not started";
  EXPECT_EQ(probe.calls, 0);

  ASSERT_EQ(host.deviceStart(device, id), noErr);
  EXPECT_EQ(host.deliverCycle(input), 7);
  EXPECT_EQ(host.deliverCycle(device, input), 7);
  EXPECT_EQ(probe.calls, 2);
  EXPECT_EQ(probe.lastInput, &input);

  // A second running procedure makes the device-less form ambiguous.
  ProcProbe second;
  AudioObjectID otherDevice = 0;
  ASSERT_EQ(host.createAggregateDevice({}, otherDevice), noErr);
  AudioDeviceIOProcID otherID = nullptr;
  ASSERT_EQ(host.createIOProcID(otherDevice, &ProcProbe::proc, &second, otherID), noErr);
  EXPECT_NE(otherID, id);
  ASSERT_EQ(host.deviceStart(otherDevice, otherID), noErr);
  EXPECT_EQ(host.deliverCycle(input), kAudioHardwareIllegalOperationError);
  EXPECT_EQ(host.deliverCycle(otherDevice, input), 7);
  EXPECT_EQ(second.calls, 1);

  // A failing stop leaves the procedure running; a real stop ends delivery.
  host.setStatus(SimulatedHost::Operation::deviceStop, kAudioHardwareUnspecifiedError);
  EXPECT_EQ(host.deviceStop(device, id), kAudioHardwareUnspecifiedError);
  EXPECT_EQ(host.deliverCycle(device, input), 7);
  host.setStatus(SimulatedHost::Operation::deviceStop, noErr);
  EXPECT_EQ(host.deviceStop(device, id), noErr);
  EXPECT_EQ(host.deliverCycle(device, input), kAudioHardwareNotRunningError);
  EXPECT_EQ(probe.calls, 3);

  EXPECT_EQ(host.destroyIOProcID(device, id), noErr);
  EXPECT_NE(host.deviceStart(device, id), noErr) << "a destroyed procedure cannot start";
  EXPECT_EQ(host.ioProcs().size(), 1U);
}

TEST(SimulatedHostIOProcTest, ANullIDRegistersNothing) {
  SimulatedHost host;
  AudioObjectID device = 0;
  ASSERT_EQ(host.createAggregateDevice({}, device), noErr);
  host.returnNullIOProcID(true);
  ProcProbe probe;
  AudioDeviceIOProcID id = &ProcProbe::proc;
  EXPECT_EQ(host.createIOProcID(device, &ProcProbe::proc, &probe, id), noErr);
  EXPECT_EQ(id, nullptr);
  EXPECT_TRUE(host.ioProcs().empty());

  host.returnNullIOProcID(false);
  host.setStatus(SimulatedHost::Operation::createIOProcID, kAudioHardwareBadDeviceError);
  EXPECT_EQ(host.createIOProcID(device, &ProcProbe::proc, &probe, id),
            kAudioHardwareBadDeviceError);
  EXPECT_TRUE(host.ioProcs().empty());
}

TEST(SimulatedHostCallLogTest, RecordsCoreAudioCallsButNotTheApplicationLookup) {
  SimulatedHost host;
  const AudioObjectID device = host.addOutputDevice("speakers");
  host.setDefaultOutputDevice(device);
  host.setRunningApplication(42, "com.example.app");

  UInt32 size = 4;
  AudioObjectID read = 0;
  host.getPropertyData(kAudioObjectSystemObject, kDefaultOutput, 0, nullptr, size, &read);
  std::string uid;
  host.getPropertyString(
      device, propertyAddress(kAudioDevicePropertyDeviceUID, kAudioObjectPropertyScopeGlobal), uid);
  EXPECT_EQ(host.runningApplicationBundleID(42), "com.example.app");
  EXPECT_EQ(host.runningApplicationBundleID(43), std::nullopt);
  UInt32 listSize = 0;
  host.getPropertyDataSize(
      kAudioObjectSystemObject,
      propertyAddress(kAudioHardwarePropertyProcessObjectList, kAudioObjectPropertyScopeGlobal), 0,
      nullptr, listSize);

  using Call = SimulatedHost::Call;
  EXPECT_EQ(host.calls(),
            (std::vector<Call>{
                {"AudioObjectGetPropertyData", kAudioObjectSystemObject,
                 kAudioHardwarePropertyDefaultOutputDevice, noErr},
                {"AudioObjectGetPropertyData", device, kAudioDevicePropertyDeviceUID, noErr},
                {"AudioObjectGetPropertyDataSize", kAudioObjectSystemObject,
                 kAudioHardwarePropertyProcessObjectList, noErr},
            }));
  EXPECT_EQ(host.runningApplicationLookups(), (std::vector<std::int32_t>{42, 43}));
  host.clearCalls();
  EXPECT_TRUE(host.operations().empty());
}

}  // namespace
}  // namespace talvorin::testing
