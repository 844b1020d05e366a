// The property reads of a build: default output, device and tap UIDs, the stream format.
#include <cmath>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

#include "capture/property_queries.hpp"
#include "capture/stream_format.hpp"
#include "output/helper_error.hpp"
#include "support/captured_output.hpp"
#include "support/simulated_host.hpp"

namespace talvorin::testing {
namespace {

using nlohmann::json;

std::string errorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const HelperError& error) {
    return error.description();
  }
  return "no error";
}

TEST(DefaultOutputDevice, ReadsTheDeviceOrExplainsWhyNot) {
  SimulatedHost host;
  const AudioObjectID device = host.addOutputDevice(" ");  // one space is a UID
  host.setDefaultOutputDevice(device);
  EXPECT_EQ(defaultOutputDeviceID(host), device);
  EXPECT_EQ(deviceUID(host, device), " ");

  host.setDefaultOutputDevice(0);
  EXPECT_EQ(errorOf([&] { defaultOutputDeviceID(host); }),
            "No default macOS output device is available.");

  host.setPropertyStatus(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice,
                         kAudioHardwareUnspecifiedError);
  EXPECT_EQ(errorOf([&] { defaultOutputDeviceID(host); }),
            "AudioObjectGetPropertyData(default output device) failed with OSStatus 2003329396 "
            "(what).");

  const AudioObjectID nameless = host.addOutputDevice("");
  EXPECT_EQ(errorOf([&] { deviceUID(host, nameless); }),
            "The default macOS output device has no UID.");
  host.setPropertyStatus(device, kAudioDevicePropertyDeviceUID, -10);
  EXPECT_EQ(errorOf([&] { deviceUID(host, device); }),
            "AudioObjectGetPropertyData(default output UID) failed with OSStatus -10 (-10).");
}

TEST(ReadTapUID, WarnsOnlyWhenTheReadFails) {
  SimulatedHost host;
  CapturedOutput events;
  const AudioObjectID speakers = host.addOutputDevice("speakers");
  host.setDefaultOutputDevice(speakers);

  EXPECT_EQ(readTapUID(host, 0, events.fd()), std::nullopt);
  EXPECT_TRUE(host.calls().empty());

  TapDescription description;
  description.deviceUID = "speakers";
  AudioObjectID tap = 0;
  host.setTapUID(std::string("tap-uid"));
  ASSERT_EQ(host.createProcessTap(description, tap), noErr);
  EXPECT_EQ(readTapUID(host, tap, events.fd()), "tap-uid");

  host.setTapUID(std::string());
  ASSERT_EQ(host.createProcessTap(description, tap), noErr);
  EXPECT_EQ(readTapUID(host, tap, events.fd()), std::nullopt);
  EXPECT_EQ(events.contents(), "");

  host.setPropertyStatus(tap, kAudioTapPropertyUID, -66);
  EXPECT_EQ(readTapUID(host, tap, events.fd()), std::nullopt);
  EXPECT_EQ(events.events(),
            (std::vector<json>{
                {{"type", "warning"}, {"code", "tap_uid_probe_failed"}, {"status", -66}}}));
}

struct FormatCase {
  const char* name;
  std::optional<AudioStreamBasicDescription> deviceFormat;  // nothing: the read fails
  std::optional<double> nominalRate;                        // nothing: the read fails
  double expectedRate;
  std::optional<OSStatus> warningStatus;  // nothing: no warning
  json expectedEvent;
};

TEST(ReadStreamDescription, UsesLinearPCMAsReadAndFallsBackToMonoFloat) {
  const AudioStreamBasicDescription nonInterleaved{
      48000.0, kAudioFormatLinearPCM, 41, 4, 1, 4, 2, 32, 0};
  const AudioStreamBasicDescription compressed{
      44100.0, 0x61616320 /* 'aac ' */, 0, 0, 1024, 0, 2, 0, 0};
  const AudioStreamBasicDescription fractional{22050.5, kAudioFormatLinearPCM, 9, 4, 1, 4, 1, 32,
                                               0};
  const json fallback44100 = {{"type", "format"},     {"sampleRate", 44100}, {"channels", 1},
                              {"bitsPerChannel", 32}, {"bytesPerFrame", 4},  {"formatFlags", 9}};
  json fallback48000 = fallback44100;
  fallback48000["sampleRate"] = 48000;

  const std::vector<FormatCase> cases = {
      {"linear PCM as read",
       nonInterleaved,
       std::nullopt,
       48000.0,
       std::nullopt,
       {{"type", "format"},
        {"sampleRate", 48000},
        {"channels", 2},
        {"bitsPerChannel", 32},
        {"bytesPerFrame", 4},
        {"formatFlags", 41}}},
      {"format read fails", std::nullopt, 44100.0, 44100.0, kAudioHardwareUnknownPropertyError,
       fallback44100},
      {"both reads fail", std::nullopt, std::nullopt, 48000.0, kAudioHardwareUnknownPropertyError,
       fallback48000},
      {"not linear PCM", compressed, 44100.0, 44100.0, 0, fallback44100},
      {"fractional rate",
       fractional,
       std::nullopt,
       22050.5,
       std::nullopt,
       {{"type", "format"},
        {"sampleRate", 22050},
        {"channels", 1},
        {"bitsPerChannel", 32},
        {"bytesPerFrame", 4},
        {"formatFlags", 9}}},
  };

  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedHost host;
    CapturedOutput events;
    const AudioObjectID device = host.addOutputDevice("device");
    if (c.deviceFormat) {
      host.setProperty(device, kAudioDevicePropertyStreamFormat, *c.deviceFormat,
                       kAudioObjectPropertyScopeInput);
    }
    if (c.nominalRate) {
      host.setProperty(device, kAudioDevicePropertyNominalSampleRate, Float64{*c.nominalRate});
    }

    const AudioStreamBasicDescription format = readStreamDescription(host, device, events.fd());
    EXPECT_EQ(format.mSampleRate, c.expectedRate);
    if (c.warningStatus) {
      EXPECT_EQ(events.events(),
                (std::vector<json>{{{"type", "warning"},
                                    {"code", "format_probe_failed"},
                                    {"message", "Falling back to float32 mono stream format."},
                                    {"status", *c.warningStatus}}}));
      EXPECT_EQ(format.mFormatID, kAudioFormatLinearPCM);
      EXPECT_EQ(format.mBytesPerPacket, 4u);
      EXPECT_EQ(format.mFramesPerPacket, 1u);
      EXPECT_EQ(format.mReserved, 0u);
    } else {
      EXPECT_EQ(events.contents(), "");
      EXPECT_EQ(std::memcmp(&format, &*c.deviceFormat, sizeof format), 0);
    }
    EXPECT_EQ(formatEvent(format), c.expectedEvent);
  }
}

TEST(FormatEvent, ARateWithoutIntegerFormIsReportedAsZero) {
  for (const double rate : {std::numeric_limits<double>::quiet_NaN(),
                            std::numeric_limits<double>::infinity(), -1e300, 9.3e18}) {
    AudioStreamBasicDescription format = fallbackStreamDescription(rate);
    EXPECT_EQ(formatEvent(format)["sampleRate"], 0) << rate;
  }
  EXPECT_EQ(formatEvent(fallbackStreamDescription(-44100.9))["sampleRate"], -44100);
  EXPECT_EQ(formatEvent(fallbackStreamDescription(9.2e18))["sampleRate"],
            std::int64_t{9200000000000000000});
}

}  // namespace
}  // namespace talvorin::testing
