// The macOS backend's C++ half against a counting stand-in for Core Foundation, Core Audio and
// GCD: what each call passes through, and that every Core Foundation object it creates or is
// handed is released exactly once, on every path.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "fake_apple.hpp"
#include "platform/macos/core_audio_hardware.hpp"
#include "platform/macos/gcd_dispatch.hpp"

namespace talvorin {
namespace {

namespace fake = testing::fake_apple;
using nlohmann::json;

class MacBackendTest : public ::testing::Test {
 protected:
  void SetUp() override { fake::reset(); }
  void TearDown() override {
    EXPECT_EQ(fake::liveObjects(), 0) << "a Core Foundation object was not released";
    EXPECT_EQ(fake::badReleases(), 0) << "a Core Foundation object was released once too often";
  }

  CoreAudioHardware hardware;
};

TEST_F(MacBackendTest, PropertyReadsPassSizesQualifierAndStatusStraightThrough) {
  const pid_t pid = 4242;
  fake::host().propertyData = [](const fake::PropertyRead&, UInt32& ioSize, void* data) {
    const AudioObjectID object = 77;
    std::memcpy(data, &object, sizeof object);
    ioSize = sizeof object;
    return OSStatus{noErr};
  };
  fake::host().propertyDataSize = [](const fake::PropertyRead&, UInt32& size) {
    size = 12;
    return OSStatus{kAudioHardwareBadObjectError};
  };
  const AudioObjectPropertyAddress translate = propertyAddress(
      kAudioHardwarePropertyTranslatePIDToProcessObject, kAudioObjectPropertyScopeGlobal);

  AudioObjectID processObject = 0;
  UInt32 size = 16;
  EXPECT_EQ(hardware.getPropertyData(kAudioObjectSystemObject, translate, sizeof pid, &pid, size,
                                     &processObject),
            noErr);
  EXPECT_EQ(processObject, 77u);
  EXPECT_EQ(size, sizeof(AudioObjectID));

  UInt32 listSize = 0;
  EXPECT_EQ(hardware.getPropertyDataSize(5, translate, 0, nullptr, listSize),
            kAudioHardwareBadObjectError);
  EXPECT_EQ(listSize, 12u);

  ASSERT_EQ(fake::host().reads.size(), 2u);
  const fake::PropertyRead& read = fake::host().reads[0];
  EXPECT_EQ(read.object, kAudioObjectSystemObject);
  EXPECT_EQ(read.address.mSelector, kAudioHardwarePropertyTranslatePIDToProcessObject);
  EXPECT_EQ(read.address.mScope, kAudioObjectPropertyScopeGlobal);
  EXPECT_EQ(read.address.mElement, kAudioObjectPropertyElementMain);
  EXPECT_EQ(read.qualifierSize, sizeof pid);
  EXPECT_EQ(read.qualifier, &pid);
  EXPECT_EQ(read.dataSize, 16u);
  EXPECT_EQ(fake::host().reads[1].object, 5u);
}

struct StringCase {
  const char* name;
  OSStatus status;
  bool slotFilled;
  bool directPointer;
  std::string text;
  std::string expected;  // the out value after the call; it starts as "before"
};

void PrintTo(const StringCase& c, std::ostream* os) {
  *os << c.name;
}

class StringPropertyTest : public MacBackendTest,
                           public ::testing::WithParamInterface<StringCase> {};

TEST_P(StringPropertyTest, ConvertsToUtf8AndReleasesTheStringOnEveryPath) {
  const StringCase& c = GetParam();
  fake::host().propertyData = [&c](const fake::PropertyRead&, UInt32& ioSize, void* data) {
    const CFStringRef value = c.slotFilled ? fake::makeString(c.text, c.directPointer) : nullptr;
    std::memcpy(data, &value, sizeof value);
    ioSize = sizeof value;
    return c.status;
  };

  std::string value = "before";
  EXPECT_EQ(hardware.getPropertyString(
                42, propertyAddress(kAudioDevicePropertyDeviceUID, kAudioObjectPropertyScopeGlobal),
                value),
            c.status);
  EXPECT_EQ(value, c.expected);

  ASSERT_EQ(fake::host().reads.size(), 1u);
  EXPECT_EQ(fake::host().reads[0].object, 42u);
  EXPECT_EQ(fake::host().reads[0].address.mSelector, kAudioDevicePropertyDeviceUID);
  EXPECT_EQ(fake::host().reads[0].dataSize, 8u);
  EXPECT_EQ(fake::host().reads[0].qualifierSize, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, StringPropertyTest,
    ::testing::Values(
        StringCase{"direct", noErr, true, true, "BuiltInSpeakerDevice", "BuiltInSpeakerDevice"},
        StringCase{"copied", noErr, true, false,
                   "Lautsprecher \xE2\x80\x93 K\xC3\xBC"
                   "che",
                   "Lautsprecher \xE2\x80\x93 K\xC3\xBC"
                   "che"},
        StringCase{"emptyString", noErr, true, false, "", ""},
        StringCase{"nullSlot", noErr, false, true, "", ""},
        StringCase{"failedButFilled", kAudioHardwareUnknownPropertyError, true, true, "stale",
                   "before"},
        StringCase{"failedEmpty", kAudioHardwareBadObjectError, false, true, "", "before"}),
    [](const ::testing::TestParamInfo<StringCase>& info) { return info.param.name; });

class AggregateDeviceTest : public MacBackendTest,
                            public ::testing::WithParamInterface<OSStatus> {};

TEST_P(AggregateDeviceTest, DictionaryHoldsExactlyTheFiveKeysAndIsReleased) {
  fake::host().createAggregateStatus = GetParam();
  fake::host().nextAggregateID = 91;
  AggregateDeviceDescription description;
  description.name = "Talvorin System Audio Capture";
  description.uid = "com.talvorin.audio-helper.aggregate.0F2C";
  description.isPrivate = true;
  description.tapAutoStart = false;
  description.taps = {{"tap-uid", true}};

  AudioObjectID deviceID = 0;
  EXPECT_EQ(hardware.createAggregateDevice(description, deviceID), GetParam());
  EXPECT_EQ(deviceID, GetParam() == noErr ? 91u : 0u);

  ASSERT_EQ(fake::host().aggregateDescriptions.size(), 1u);
  EXPECT_EQ(fake::host().aggregateDescriptions[0],
            (json{{"name", "Talvorin System Audio Capture"},
                  {"uid", "com.talvorin.audio-helper.aggregate.0F2C"},
                  {"private", true},
                  {"tapautostart", false},
                  {"taps", json::array({{{"uid", "tap-uid"}, {"drift", true}}})}}));
}

INSTANTIATE_TEST_SUITE_P(Statuses, AggregateDeviceTest,
                         ::testing::Values(OSStatus{noErr},
                                           OSStatus{kAudioHardwareIllegalOperationError}));

TEST_F(MacBackendTest, IOProceduresPassDeviceAndProcedureThrough) {
  static int marker = 0;
  fake::host().nextIOProcID = [](AudioObjectID, const AudioTimeStamp*, const AudioBufferList*,
                                 const AudioTimeStamp*, AudioBufferList*, const AudioTimeStamp*,
                                 void*) { return OSStatus{noErr}; };
  AudioDeviceIOProcID procID = nullptr;
  EXPECT_EQ(
      hardware.createIOProcID(
          7,
          [](AudioObjectID, const AudioTimeStamp*, const AudioBufferList*, const AudioTimeStamp*,
             AudioBufferList*, const AudioTimeStamp*, void*) { return OSStatus{noErr}; },
          &marker, procID),
      noErr);
  EXPECT_EQ(procID, fake::host().nextIOProcID);
  hardware.deviceStart(7, procID);
  hardware.deviceStop(7, procID);
  hardware.destroyIOProcID(7, procID);
  hardware.destroyAggregateDevice(7);
  EXPECT_EQ(
      fake::host().ioCalls,
      (std::vector<std::string>{"create 7 with proc and client data", "start 7 same proc",
                                "stop 7 same proc", "destroy 7 same proc", "destroy aggregate 7"}));
}

// A queue that is not GCD's, as a test or another platform would make it.
class ForeignQueue final : public DispatchQueue {
 public:
  const std::string& label() const noexcept override { return label_; }
  void async(std::function<void()>) override {}
  void asyncAfter(double, std::shared_ptr<DispatchWorkItem>) override {}

 private:
  std::string label_ = "foreign";
};

TEST_F(MacBackendTest, ListenerIsDeliveredOnTheCapturesGcdQueue) {
  const auto dispatch = makeGcdDispatch();
  const std::shared_ptr<DispatchQueue> queue = dispatch->makeSerialQueue("com.talvorin.changes");
  const AudioObjectPropertyAddress defaultOutput =
      propertyAddress(kAudioHardwarePropertyDefaultOutputDevice, kAudioObjectPropertyScopeGlobal);
  fake::host().notification = {defaultOutput, defaultOutput};

  std::vector<UInt32> calls;
  EXPECT_EQ(hardware.addPropertyListener(
                kAudioObjectSystemObject, defaultOutput, queue,
                [&calls](UInt32 count, const AudioObjectPropertyAddress* addresses) {
                  calls.push_back(count);
                  calls.push_back(addresses[1].mSelector);
                }),
            noErr);

  ASSERT_EQ(fake::host().listeners.size(), 1u);
  EXPECT_EQ(fake::host().listeners[0].object, kAudioObjectSystemObject);
  EXPECT_EQ(fake::host().listeners[0].address.mSelector, kAudioHardwarePropertyDefaultOutputDevice);
  EXPECT_EQ(fake::labelOf(fake::host().listeners[0].queue), "com.talvorin.changes");
  EXPECT_EQ(calls, (std::vector<UInt32>{2u, UInt32{kAudioHardwarePropertyDefaultOutputDevice}}));
}

TEST_F(MacBackendTest, ListenerOnAQueueCoreAudioCannotDeliverToIsRefused) {
  EXPECT_EQ(hardware.addPropertyListener(kAudioObjectSystemObject,
                                         propertyAddress(kAudioHardwarePropertyDefaultOutputDevice,
                                                         kAudioObjectPropertyScopeGlobal),
                                         std::make_shared<ForeignQueue>(),
                                         [](UInt32, const AudioObjectPropertyAddress*) {}),
            kAudio_ParamError);
  EXPECT_TRUE(fake::host().listeners.empty());
}

TEST_F(MacBackendTest, SerialQueuesAreLabelledGcdQueuesReleasedWithTheirOwner) {
  const auto dispatch = makeGcdDispatch();
  {
    const auto queue = dispatch->makeSerialQueue("com.talvorin.output");
    EXPECT_EQ(queue->label(), "com.talvorin.output");
    int runs = 0;
    queue->async([&runs] { ++runs; });
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(fake::host().queuesReleased.empty());
  }
  EXPECT_EQ(fake::host().queuesCreated, std::vector<std::string>{"com.talvorin.output"});
  EXPECT_EQ(fake::host().queuesSerial, std::vector<bool>{true});
  ASSERT_EQ(fake::host().submissions.size(), 1u);
  EXPECT_EQ(fake::host().submissions[0].queueLabel, "com.talvorin.output");
  EXPECT_FALSE(fake::host().submissions[0].delayed);
  EXPECT_EQ(fake::host().queuesReleased, std::vector<std::string>{"com.talvorin.output"});
}

struct DelayCase {
  double seconds;
  std::int64_t nanoseconds;
};

void PrintTo(const DelayCase& c, std::ostream* os) {
  *os << c.seconds << " s";
}

class DelayedItemTest : public MacBackendTest, public ::testing::WithParamInterface<DelayCase> {};

TEST_P(DelayedItemTest, DeadlineIsNowPlusTheDelayAndTheItemDecidesWhetherItRuns) {
  const auto dispatch = makeGcdDispatch();
  const auto queue = dispatch->makeSerialQueue("com.talvorin.changes");
  int runs = 0;
  const auto kept = std::make_shared<DispatchWorkItem>([&runs] { ++runs; });
  const auto cancelled = std::make_shared<DispatchWorkItem>([&runs] { runs += 100; });
  cancelled->cancel();

  queue->asyncAfter(GetParam().seconds, kept);
  queue->asyncAfter(GetParam().seconds, cancelled);

  EXPECT_EQ(runs, 1);
  ASSERT_EQ(fake::host().submissions.size(), 2u);
  for (const fake::Submission& submission : fake::host().submissions) {
    EXPECT_TRUE(submission.delayed);
    EXPECT_EQ(submission.queueLabel, "com.talvorin.changes");
    EXPECT_EQ(submission.delayNanoseconds, GetParam().nanoseconds);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Delays, DelayedItemTest,
    ::testing::Values(DelayCase{0.4, 400'000'000}, DelayCase{0.0, 0}, DelayCase{-1.0, 0},
                      DelayCase{std::numeric_limits<double>::quiet_NaN(), 0},
                      DelayCase{std::numeric_limits<double>::infinity(),
                                std::int64_t{100} * 365 * 24 * 3600 * 1'000'000'000}));

}  // namespace
}  // namespace talvorin
