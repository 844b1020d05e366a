// The backend through the AudioHardware interface, against the private server that
// tests/e2e/run starts. Every wait on the server polls with a deadline.
#include "platform/pulse/pulse_audio_hardware.hpp"

#include <gtest/gtest.h>
#include <pulse/simple.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <thread>

#include "platform/dispatch.hpp"
#include "platform/pulse/status_codes.hpp"
#include "platform/threads/thread_dispatch.hpp"
#include "pulse_test_support.hpp"

#if defined(__SANITIZE_THREAD__)
// libpulse publishes some of its own mutexes through atomics of the uninstrumented library;
// ThreadSanitizer cannot see that hand-over and reports the first lock as a race.
extern "C" const char* __tsan_default_suppressions() {
  return "race:pa_mutex_lock\n";
}
#endif

namespace talvorin::testing {
namespace {

constexpr double kRate = 48000.0;
constexpr std::size_t kCycleFrames = 480;  // 10 ms at 48000 Hz

const AudioObjectPropertyAddress kDefaultOutput =
    propertyAddress(kAudioHardwarePropertyDefaultOutputDevice, kAudioObjectPropertyScopeGlobal);

AudioObjectPropertyAddress global(AudioObjectPropertySelector selector) {
  return propertyAddress(selector, kAudioObjectPropertyScopeGlobal);
}

std::string testSink() {
  const char* name = std::getenv("PULSE_TEST_SINK");
  return name != nullptr ? name : commandOutput("pactl get-default-sink");
}

std::size_t sourceOutputCount() {
  std::istringstream lines(commandOutput("pactl list short source-outputs"));
  std::size_t count = 0;
  for (std::string line; std::getline(lines, line);) count += line.empty() ? 0 : 1;
  return count;
}

class PulseBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!pulseServerConfigured()) GTEST_SKIP() << "needs a server: run tests/e2e/run";
    hardware_ = makePulseAudioHardware();
  }

  AudioObjectID defaultOutput(OSStatus* outStatus = nullptr) {
    AudioObjectID device = 12345;
    UInt32 size = sizeof device;
    const OSStatus status = hardware_->getPropertyData(kAudioObjectSystemObject, kDefaultOutput, 0,
                                                       nullptr, size, &device);
    if (outStatus != nullptr) *outStatus = status;
    return status == noErr ? device : kAudioObjectUnknown;
  }

  std::string uidOf(AudioObjectID object, AudioObjectPropertySelector selector) {
    std::string uid;
    EXPECT_EQ(hardware_->getPropertyString(object, global(selector), uid), noErr);
    return uid;
  }

  AudioObjectID processObject(pid_t pid) {
    const std::int32_t processID = pid;
    AudioObjectID object = 12345;
    UInt32 size = sizeof object;
    const OSStatus status = hardware_->getPropertyData(
        kAudioObjectSystemObject, global(kAudioHardwarePropertyTranslatePIDToProcessObject),
        sizeof processID, &processID, size, &object);
    return status == noErr ? object : kAudioObjectUnknown;
  }

  template <typename Value>
  Value processValue(AudioObjectID process, AudioObjectPropertySelector selector) {
    Value value{};
    UInt32 size = sizeof value;
    EXPECT_EQ(hardware_->getPropertyData(process, global(selector), 0, nullptr, size, &value),
              noErr);
    return value;
  }

  std::unique_ptr<AudioHardware> hardware_;
};

// A tap, its aggregate device and the IO procedure, torn down in the system's order.
struct Capture {
  AudioHardware& hardware;
  AudioObjectID tap = kAudioObjectUnknown;
  AudioObjectID device = kAudioObjectUnknown;
  AudioDeviceIOProcID proc = nullptr;
  CycleLog log;

  Capture(AudioHardware& backend, const TapDescription& description) : hardware(backend) {
    EXPECT_EQ(hardware.createProcessTap(description, tap), noErr);
    std::string tapUID;
    EXPECT_EQ(hardware.getPropertyString(tap, global(kAudioTapPropertyUID), tapUID), noErr);
    EXPECT_FALSE(tapUID.empty());
    AggregateDeviceDescription aggregate{"Talvorin System Audio Capture",
                                         "test.aggregate." + std::to_string(tap),
                                         true,
                                         true,
                                         {{tapUID, true}}};
    EXPECT_EQ(hardware.createAggregateDevice(aggregate, device), noErr);
  }

  AudioStreamBasicDescription format() {
    AudioStreamBasicDescription description{};
    UInt32 size = sizeof description;
    EXPECT_EQ(hardware.getPropertyData(
                  device,
                  propertyAddress(kAudioDevicePropertyStreamFormat, kAudioObjectPropertyScopeInput),
                  0, nullptr, size, &description),
              noErr);
    return description;
  }

  Float64 nominalRate() {
    Float64 rate = 0;
    UInt32 size = sizeof rate;
    EXPECT_EQ(hardware.getPropertyData(device, global(kAudioDevicePropertyNominalSampleRate), 0,
                                       nullptr, size, &rate),
              noErr);
    return rate;
  }

  OSStatus start(UInt32 channels) {
    log.channels = channels;
    EXPECT_EQ(hardware.createIOProcID(device, &CycleLog::ioProc, &log, proc), noErr);
    return hardware.deviceStart(device, proc);
  }

  // Waits until the last `frames` of channel 0 reach `level`, then for `cycles` more cycles.
  bool hear(float level, std::size_t cycles, std::size_t frames = 4800) {
    if (!waitFor([&] { return peakLevel(log.tail(frames)) >= level; })) return false;
    const std::size_t reached = log.cycleCount();
    return waitFor([&] { return log.cycleCount() >= reached + cycles; });
  }

  ~Capture() {
    if (proc != nullptr) {
      hardware.deviceStop(device, proc);
      hardware.destroyIOProcID(device, proc);
    }
    if (device != kAudioObjectUnknown) hardware.destroyAggregateDevice(device);
    if (tap != kAudioObjectUnknown) hardware.destroyProcessTap(tap);
  }
};

TapDescription deviceTap(const std::string& deviceUID) {
  TapDescription description;
  description.kind = TapDescription::Kind::deviceStream;
  description.deviceUID = deviceUID;
  description.stream = 0;
  description.name = "Talvorin System Audio";
  description.uuid = "00000000-0000-4000-8000-000000000001";
  description.isPrivate = true;
  return description;
}

TapDescription processTap(std::vector<AudioObjectID> processes) {
  TapDescription description = deviceTap("");
  description.kind = TapDescription::Kind::monoMixdownOfProcesses;
  description.processes = std::move(processes);
  description.uuid = "00000000-0000-4000-8000-000000000002";
  return description;
}

TEST_F(PulseBackendTest, DefaultOutputIsTheDefaultSinkAndKeepsItsID) {
  const AudioObjectID device = defaultOutput();
  ASSERT_NE(device, kAudioObjectUnknown);
  EXPECT_NE(device, kAudioObjectSystemObject);
  EXPECT_EQ(uidOf(device, kAudioDevicePropertyDeviceUID), commandOutput("pactl get-default-sink"));
  EXPECT_EQ(defaultOutput(), device);

  UInt32 size = 0;
  EXPECT_EQ(
      hardware_->getPropertyDataSize(kAudioObjectSystemObject, kDefaultOutput, 0, nullptr, size),
      noErr);
  EXPECT_EQ(size, sizeof(AudioObjectID));
}

TEST_F(PulseBackendTest, NoSinkReadsAsNoDefaultOutputAndAReturningSinkGetsItsOldID) {
  const std::string sink = testSink();
  const AudioObjectID before = defaultOutput();
  ASSERT_NE(before, kAudioObjectUnknown);

  ASSERT_TRUE(runCommand("pactl unload-module module-null-sink"));
  OSStatus status = -1;
  EXPECT_TRUE(waitFor([&] { return defaultOutput(&status) == kAudioObjectUnknown; }));
  EXPECT_EQ(status, noErr);

  ASSERT_TRUE(runCommand("pactl load-module module-null-sink sink_name=" + sink +
                         " rate=48000 channels=2"));
  runCommand("pactl set-default-sink " + sink);
  EXPECT_TRUE(waitFor([&] { return defaultOutput() == before; }));
  EXPECT_EQ(uidOf(before, kAudioDevicePropertyDeviceUID), sink);
}

TEST_F(PulseBackendTest, ListenerRunsOnItsQueueOncePerSwitchOfTheDefaultSink) {
  const std::string original = testSink();
  const std::string moduleIndex = commandOutput(
      "pactl load-module module-null-sink sink_name=talvorin_other rate=44100 channels=2");
  ASSERT_FALSE(moduleIndex.empty());

  auto dispatch = makeThreadDispatch();
  auto queue = dispatch->makeSerialQueue("test.device-change");
  std::atomic<std::thread::id> queueThread{};
  queue->async([&] { queueThread = std::this_thread::get_id(); });

  std::mutex mutex;
  std::vector<AudioObjectPropertySelector> selectors;
  std::size_t offQueue = 0;
  const OSStatus added = hardware_->addPropertyListener(
      kAudioObjectSystemObject, kDefaultOutput, queue,
      [&](UInt32 count, const AudioObjectPropertyAddress* addresses) {
        std::lock_guard lock(mutex);
        if (std::this_thread::get_id() != queueThread.load()) ++offQueue;
        for (UInt32 i = 0; i < count; ++i) selectors.push_back(addresses[i].mSelector);
      });
  ASSERT_EQ(added, noErr);
  auto notified = [&] {
    std::lock_guard lock(mutex);
    return selectors.size();
  };

  ASSERT_TRUE(runCommand("pactl set-default-sink talvorin_other"));
  EXPECT_TRUE(waitFor([&] { return notified() == 1; }));
  EXPECT_EQ(uidOf(defaultOutput(), kAudioDevicePropertyDeviceUID), "talvorin_other");

  // Setting the same sink again is no change; the switch back is the second notification.
  ASSERT_TRUE(runCommand("pactl set-default-sink talvorin_other"));
  ASSERT_TRUE(runCommand("pactl set-default-sink " + original));
  EXPECT_TRUE(waitFor([&] { return notified() >= 2; }));
  EXPECT_EQ(uidOf(defaultOutput(), kAudioDevicePropertyDeviceUID), original);

  runCommand("pactl unload-module " + moduleIndex);
  std::lock_guard lock(mutex);
  EXPECT_EQ(selectors,
            (std::vector<AudioObjectPropertySelector>{kAudioHardwarePropertyDefaultOutputDevice,
                                                      kAudioHardwarePropertyDefaultOutputDevice}));
  EXPECT_EQ(offQueue, 0U);
}

TEST_F(PulseBackendTest, DeviceTapDeliversSteadyCyclesOfWhatTheSinkPlays) {
  const std::string sink = testSink();
  auto capture = std::make_unique<Capture>(*hardware_, deviceTap(sink));

  const AudioStreamBasicDescription format = capture->format();
  EXPECT_EQ(format.mSampleRate, kRate);
  EXPECT_EQ(format.mFormatID, kAudioFormatLinearPCM);
  EXPECT_EQ(format.mFormatFlags, kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked);
  EXPECT_EQ(format.mChannelsPerFrame, 2U);
  EXPECT_EQ(format.mBytesPerFrame, 8U);
  EXPECT_EQ(format.mBitsPerChannel, 32U);
  EXPECT_EQ(capture->nominalRate(), kRate);

  ASSERT_EQ(capture->start(2), noErr);
  ChildProcess player(playerCommand(toneFile(440, 0.5, 2)));
  ASSERT_TRUE(capture->hear(0.4F, 50));

  const std::vector<float> heard = capture->log.tail(24000);
  EXPECT_NEAR(zeroCrossingFrequency(heard, kRate), 440.0, 5.0);
  EXPECT_NEAR(peakLevel(heard), 0.5F, 0.03F);
  {
    std::lock_guard lock(capture->log.mutex);
    EXPECT_EQ(capture->log.malformed, 0U);
    EXPECT_TRUE(std::all_of(capture->log.cycleBytes.begin(), capture->log.cycleBytes.end(),
                            [](UInt32 bytes) { return bytes == kCycleFrames * 2 * 4; }));
  }

  // Once deviceStop returns, the IO procedure is never called again, and the record
  // stream is gone from the server.
  ASSERT_EQ(hardware_->deviceStop(capture->device, capture->proc), noErr);
  capture->log.markStopped();
  EXPECT_TRUE(waitFor([] { return sourceOutputCount() == 0; }));
  EXPECT_EQ(hardware_->destroyIOProcID(capture->device, capture->proc), noErr);
  capture->proc = nullptr;
  EXPECT_EQ(hardware_->destroyAggregateDevice(capture->device), noErr);
  EXPECT_EQ(hardware_->destroyProcessTap(capture->tap), noErr);
  capture->device = capture->tap = kAudioObjectUnknown;
  std::lock_guard lock(capture->log.mutex);
  EXPECT_EQ(capture->log.callsAfterStop, 0U);
}

TEST_F(PulseBackendTest, DeviceTapOfASinkThatGoesAwayEndsInsteadOfMovingToAnInput) {
  const std::string module = commandOutput(
      "pactl load-module module-null-sink sink_name=talvorin_leaving rate=44100 channels=1");
  ASSERT_FALSE(module.empty());
  Capture capture(*hardware_, deviceTap("talvorin_leaving"));
  EXPECT_EQ(capture.format().mSampleRate, 44100.0);
  EXPECT_EQ(capture.format().mChannelsPerFrame, 1U);
  ASSERT_EQ(capture.start(1), noErr);
  ASSERT_TRUE(waitFor([] { return sourceOutputCount() == 1; }));

  // Moved, the stream would live on, recording another source.
  ASSERT_TRUE(runCommand("pactl unload-module " + module));
  EXPECT_TRUE(waitFor([] { return sourceOutputCount() == 0; }));
  EXPECT_EQ(hardware_->deviceStop(capture.device, capture.proc), noErr);
}

TEST_F(PulseBackendTest, ProcessTapHearsOnlyItsTargetAndSilenceOnceItEnds) {
  auto target = std::make_unique<ChildProcess>(playerCommand(toneFile(440, 0.4, 2)));
  ChildProcess other(playerCommand(toneFile(1000, 0.4, 2)));
  AudioObjectID targetObject = kAudioObjectUnknown;
  ASSERT_TRUE(waitFor([&] {
    targetObject = processObject(target->pid());
    return targetObject != kAudioObjectUnknown && processObject(other.pid()) != 0;
  }));

  Capture capture(*hardware_, processTap({targetObject}));
  const AudioStreamBasicDescription format = capture.format();
  EXPECT_EQ(format.mChannelsPerFrame, 1U);
  EXPECT_EQ(format.mBytesPerFrame, 4U);
  EXPECT_EQ(format.mFormatFlags, kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked);
  EXPECT_EQ(capture.nominalRate(), format.mSampleRate);

  ASSERT_EQ(capture.start(1), noErr);
  ASSERT_TRUE(capture.hear(0.3F, 50));
  // With the other player mixed in, the peak would near 0.8 and the crossings would not
  // count 440 Hz.
  const std::vector<float> heard = capture.log.tail(24000);
  EXPECT_NEAR(zeroCrossingFrequency(heard, format.mSampleRate), 440.0, 5.0);
  EXPECT_NEAR(peakLevel(heard), 0.4F, 0.04F);

  target.reset();
  EXPECT_TRUE(waitFor([&] { return peakLevel(capture.log.tail(4800)) == 0.0F; }));
  const std::size_t cycles = capture.log.cycleCount();
  EXPECT_TRUE(waitFor([&] { return capture.log.cycleCount() >= cycles + 20; }));
  // The ended stream's recorder is closed; the device runs on and hears nothing.
  EXPECT_TRUE(waitFor([] { return sourceOutputCount() == 0; }));
  EXPECT_EQ(peakLevel(capture.log.tail(9600)), 0.0F);
  std::lock_guard lock(capture.log.mutex);
  EXPECT_EQ(capture.log.malformed, 0U);
  EXPECT_TRUE(std::all_of(capture.log.cycleBytes.begin(), capture.log.cycleBytes.end(),
                          [](UInt32 bytes) { return bytes == kCycleFrames * 4; }));
}

// Plays a tone from this very process, through a stream of its own, until stopped.
class OwnPlayback {
 public:
  explicit OwnPlayback(double frequency) {
    thread_ = std::thread([this, frequency] {
      const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, 48000, 1};
      pa_buffer_attr attributes{static_cast<std::uint32_t>(-1), 48000 * 4 / 10,
                                static_cast<std::uint32_t>(-1), static_cast<std::uint32_t>(-1),
                                static_cast<std::uint32_t>(-1)};
      pa_simple* stream = pa_simple_new(nullptr, "talvorin-test", PA_STREAM_PLAYBACK, nullptr,
                                        "tone", &format, nullptr, &attributes, nullptr);
      if (stream == nullptr) return;
      std::vector<float> chunk(480);
      std::size_t position = 0;
      while (!stop_) {
        for (float& sample : chunk) {
          sample = 0.3F * static_cast<float>(std::sin(2.0 * M_PI * frequency *
                                                      static_cast<double>(position++) / 48000.0));
        }
        if (pa_simple_write(stream, chunk.data(), chunk.size() * sizeof(float), nullptr) < 0) {
          break;
        }
      }
      pa_simple_free(stream);
    });
  }
  ~OwnPlayback() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(PulseBackendTest, ProcessTapPicksUpAStreamOpenedAfterItStarted) {
#if defined(__SANITIZE_THREAD__)
  // Two libpulse contexts in one process share libpulse's lock-free free lists, whose atomics
  // ThreadSanitizer cannot see in the uninstrumented library: it reports their reuse as races.
  GTEST_SKIP() << "a second libpulse context in the process; run without ThreadSanitizer";
#endif
  // This test process has a client (the backend's own) but plays nothing yet.
  const AudioObjectID self = processObject(getpid());
  ASSERT_NE(self, kAudioObjectUnknown);
  Capture capture(*hardware_, processTap({self}));
  ASSERT_EQ(capture.start(1), noErr);

  // Silence keeps coming as steady cycles while the target plays nothing.
  ASSERT_TRUE(waitFor([&] { return capture.log.cycleCount() >= 20; }));
  EXPECT_EQ(peakLevel(capture.log.tail(9600)), 0.0F);

  {
    OwnPlayback playback(660);
    ASSERT_TRUE(capture.hear(0.25F, 50));
    EXPECT_NEAR(zeroCrossingFrequency(capture.log.tail(24000), 48000.0), 660.0, 5.0);
  }
  EXPECT_TRUE(waitFor([&] { return peakLevel(capture.log.tail(4800)) == 0.0F; }));
}

TEST_F(PulseBackendTest, ProcessObjectsTellWhoRecordsFromAnInput) {
  const std::string module = commandOutput(
      "pactl load-module module-null-source source_name=talvorin_mic rate=48000 channels=1");
  ASSERT_FALSE(module.empty());
  auto recorder = std::make_unique<ChildProcess>(
      std::vector<std::string>{"parec", "-d", "talvorin_mic"},
      std::vector<std::string>{"PULSE_PROP=application.id=com.example.recorder"});
  ChildProcess monitorRecorder({"parec", "-d", testSink() + ".monitor"});
  ChildProcess noClient({"sleep", "30"});

  AudioObjectID recorderObject = kAudioObjectUnknown;
  AudioObjectID monitorObject = kAudioObjectUnknown;
  EXPECT_TRUE(waitFor([&] {
    recorderObject = processObject(recorder->pid());
    monitorObject = processObject(monitorRecorder.pid());
    return recorderObject != 0 && monitorObject != 0 &&
           processValue<UInt32>(recorderObject, kAudioProcessPropertyIsRunningInput) == 1;
  }));
  EXPECT_NE(recorderObject, monitorObject);
  EXPECT_EQ(processObject(noClient.pid()), kAudioObjectUnknown);

  UInt32 size = 0;
  const auto list = global(kAudioHardwarePropertyProcessObjectList);
  ASSERT_EQ(hardware_->getPropertyDataSize(kAudioObjectSystemObject, list, 0, nullptr, size),
            noErr);
  std::vector<AudioObjectID> objects(size / sizeof(AudioObjectID));
  ASSERT_EQ(
      hardware_->getPropertyData(kAudioObjectSystemObject, list, 0, nullptr, size, objects.data()),
      noErr);
  EXPECT_NE(std::find(objects.begin(), objects.end(), recorderObject), objects.end());
  EXPECT_NE(std::find(objects.begin(), objects.end(), monitorObject), objects.end());

  EXPECT_EQ(processValue<SInt32>(recorderObject, kAudioProcessPropertyPID), recorder->pid());
  EXPECT_EQ(processValue<SInt32>(monitorObject, kAudioProcessPropertyPID), monitorRecorder.pid());
  EXPECT_EQ(uidOf(recorderObject, kAudioProcessPropertyBundleID), "com.example.recorder");
  EXPECT_EQ(uidOf(monitorObject, kAudioProcessPropertyBundleID), "");
  // Capturing what a sink plays is not recording from an input.
  EXPECT_EQ(processValue<UInt32>(monitorObject, kAudioProcessPropertyIsRunningInput), 0U);
  EXPECT_EQ(hardware_->runningApplicationBundleID(recorder->pid()), "parec");

  const pid_t gone = recorder->pid();
  recorder.reset();
  EXPECT_EQ(hardware_->runningApplicationBundleID(gone), std::nullopt);
  EXPECT_TRUE(waitFor([&] {
    return processValue<UInt32>(recorderObject, kAudioProcessPropertyIsRunningInput) == 0;
  }));
  runCommand("pactl unload-module " + module);
}

TEST_F(PulseBackendTest, EachFaultHasItsOwnStatus) {
  const AudioObjectID sink = defaultOutput();
  ASSERT_NE(sink, kAudioObjectUnknown);
  static OSStatus (*const noProc)(AudioObjectID, const AudioTimeStamp*, const AudioBufferList*,
                                  const AudioTimeStamp*, AudioBufferList*, const AudioTimeStamp*,
                                  void*) = &CycleLog::ioProc;
  Capture capture(*hardware_, deviceTap(testSink()));

  struct Case {
    const char* name;
    std::function<OSStatus()> call;
    OSStatus expected;
  };
  const std::vector<Case> cases = {
      {"string of an unknown object",
       [&] {
         std::string value;
         return hardware_->getPropertyString(99999, global(kAudioDevicePropertyDeviceUID), value);
       },
       pulse::kNoSuchObject},
      {"unknown selector on the system object",
       [&] {
         UInt32 value = 0, size = sizeof value;
         return hardware_->getPropertyData(kAudioObjectSystemObject,
                                           global(detail::fourCharCode("abcd")), 0, nullptr, size,
                                           &value);
       },
       pulse::kUnknownProperty},
      {"tap UID asked of a sink",
       [&] {
         std::string value;
         return hardware_->getPropertyString(sink, global(kAudioTapPropertyUID), value);
       },
       pulse::kUnknownProperty},
      {"default output into two bytes",
       [&] {
         std::uint16_t value = 0;
         UInt32 size = sizeof value;
         return hardware_->getPropertyData(kAudioObjectSystemObject, kDefaultOutput, 0, nullptr,
                                           size, &value);
       },
       pulse::kBadSize},
      {"process object without a PID qualifier",
       [&] {
         AudioObjectID value = 0;
         UInt32 size = sizeof value;
         return hardware_->getPropertyData(
             kAudioObjectSystemObject, global(kAudioHardwarePropertyTranslatePIDToProcessObject), 0,
             nullptr, size, &value);
       },
       pulse::kBadSize},
      {"device tap of a sink that does not exist",
       [&] {
         AudioObjectID tap = 0;
         return hardware_->createProcessTap(deviceTap("no_such_sink"), tap);
       },
       pulse::kNoSuchSink},
      {"process tap of an unknown process object",
       [&] {
         AudioObjectID tap = 0;
         return hardware_->createProcessTap(processTap({99999}), tap);
       },
       pulse::kNoSuchObject},
      {"aggregate of an unknown tap UID",
       [&] {
         AudioObjectID device = 0;
         const OSStatus status = hardware_->createAggregateDevice(
             {"x", "test.aggregate.unknown", true, true, {{"no-such-tap", true}}}, device);
         EXPECT_EQ(device, kAudioObjectUnknown);
         return status;
       },
       pulse::kUnknownTap},
      {"listener on anything but the default output",
       [&] {
         auto queue = makeThreadDispatch()->makeSerialQueue("test.unused");
         return hardware_->addPropertyListener(sink, global(kAudioDevicePropertyDeviceUID), queue,
                                               [](UInt32, const AudioObjectPropertyAddress*) {});
       },
       pulse::kListenerUnsupported},
      {"start with an IO procedure ID never created",
       [&] { return hardware_->deviceStart(capture.device, noProc); }, pulse::kBadArgument},
  };
  for (const Case& entry : cases) {
    SCOPED_TRACE(entry.name);
    EXPECT_EQ(entry.call(), entry.expected);
  }
}

TEST_F(PulseBackendTest, CallsFromOtherThreadsWhileCyclesFlow) {
  Capture capture(*hardware_, deviceTap(testSink()));
  ASSERT_EQ(capture.start(2), noErr);
  ASSERT_TRUE(waitFor([&] { return capture.log.cycleCount() >= 5; }));

  std::atomic<int> failures{0};
  std::thread reader([&] {
    for (int i = 0; i < 50; ++i) {
      const AudioObjectID device = defaultOutput();
      std::string uid;
      if (device == kAudioObjectUnknown ||
          hardware_->getPropertyString(device, global(kAudioDevicePropertyDeviceUID), uid) !=
              noErr) {
        ++failures;
      }
    }
  });
  std::thread starter([&] {
    for (int i = 0; i < 20; ++i) {
      if (hardware_->deviceStop(capture.device, capture.proc) != noErr) ++failures;
      if (hardware_->deviceStart(capture.device, capture.proc) != noErr) ++failures;
    }
  });
  reader.join();
  starter.join();
  EXPECT_EQ(failures.load(), 0);

  const std::size_t cycles = capture.log.cycleCount();
  EXPECT_TRUE(waitFor([&] { return capture.log.cycleCount() >= cycles + 5; }));
  ASSERT_EQ(hardware_->deviceStop(capture.device, capture.proc), noErr);
  capture.log.markStopped();
  EXPECT_TRUE(waitFor([] { return sourceOutputCount() == 0; }));
  std::lock_guard lock(capture.log.mutex);
  EXPECT_EQ(capture.log.callsAfterStop, 0U);
  EXPECT_EQ(capture.log.malformed, 0U);
}

// A server of its own, so that it can be taken away.
TEST_F(PulseBackendTest, AServerThatGoesAwayMakesEveryCallFailWithoutHanging) {
  const std::string script = std::string(TALVORIN_SOURCE_DIR) + "/tests/e2e/pulse-server.sh";
  std::istringstream started(
      commandOutput("bash -c 'source \"" + script +
                    "\" && pulse_server_start >/dev/null && echo \"$PULSE_SERVER_DIR\" && "
                    "echo \"$PULSE_SERVER\"'"));
  std::string directory;
  std::string server;
  std::getline(started, directory);
  std::getline(started, server);
  ASSERT_FALSE(server.empty());
  const std::string previous = std::getenv("PULSE_SERVER");
  hardware_.reset();  // one connection in the process at a time
  setenv("PULSE_SERVER", server.c_str(), 1);
  auto hardware = makePulseAudioHardware();
  setenv("PULSE_SERVER", previous.c_str(), 1);

  AudioObjectID device = kAudioObjectUnknown;
  UInt32 size = sizeof device;
  ASSERT_EQ(hardware->getPropertyData(kAudioObjectSystemObject, kDefaultOutput, 0, nullptr, size,
                                      &device),
            noErr);
  std::string sink;
  ASSERT_EQ(hardware->getPropertyString(device, global(kAudioDevicePropertyDeviceUID), sink),
            noErr);
  Capture capture(*hardware, deviceTap(sink));
  ASSERT_EQ(capture.start(2), noErr);
  ASSERT_TRUE(waitFor([&] { return capture.log.cycleCount() >= 5; }));

  ASSERT_TRUE(runCommand("bash \"" + script + "\" stop \"" + directory + "\""));
  EXPECT_TRUE(waitFor([&] {
    UInt32 readSize = sizeof device;
    return hardware->getPropertyData(kAudioObjectSystemObject, kDefaultOutput, 0, nullptr, readSize,
                                     &device) == pulse::kServerUnreachable;
  }));
  AudioObjectID tap = kAudioObjectUnknown;
  EXPECT_EQ(hardware->createProcessTap(deviceTap(sink), tap), pulse::kServerUnreachable);
  EXPECT_EQ(hardware->deviceStop(capture.device, capture.proc), pulse::kServerUnreachable);
  const std::size_t cycles = capture.log.cycleCount();
  EXPECT_EQ(hardware->deviceStart(capture.device, capture.proc), pulse::kServerUnreachable);
  EXPECT_EQ(capture.log.cycleCount(), cycles);
}

}  // namespace
}  // namespace talvorin::testing
