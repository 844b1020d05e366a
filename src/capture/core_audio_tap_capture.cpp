#include "capture/core_audio_tap_capture.hpp"

#include <exception>
#include <utility>
#include <vector>

#include "capture/property_queries.hpp"
#include "capture/stream_format.hpp"
#include "capture/uuid.hpp"
#include "discovery/target_processes.hpp"
#include "output/events.hpp"
#include "output/helper_error.hpp"
#include "pipeline/levels.hpp"
#include "pipeline/pcm_decoder.hpp"
#include "pipeline/pcm_encoder.hpp"

namespace talvorin {
namespace {

std::string queueLabel(std::string_view suffix) {
  std::string label(kProductPrefix);
  label += suffix;
  return label;
}

constexpr AudioObjectPropertyAddress kDefaultOutputAddress =
    propertyAddress(kAudioHardwarePropertyDefaultOutputDevice, kAudioObjectPropertyScopeGlobal);

// The textual form of whatever a top-level operation caught.
std::string describe(const std::exception& error) {
  if (const auto* helperError = dynamic_cast<const HelperError*>(&error)) {
    return helperError->description();
  }
  return error.what();
}

}  // namespace

CoreAudioTapCapture::CoreAudioTapCapture(AudioHardware& hardware, Dispatch& dispatch,
                                         Streams streams, std::function<void()> onOutputClosed)
    : hardware_(hardware),
      streams_(streams),
      writer_(std::make_shared<BinaryFrameWriter>(streams.frames, std::move(onOutputClosed))),
      outputQueue_(dispatch.makeSerialQueue(queueLabel(".audio-helper.output"))),
      startQueue_(dispatch.makeSerialQueue(queueLabel(".audio-helper.start"))),
      streamDescription_(fallbackStreamDescription(48000.0)),
      deviceChangeQueue_(dispatch.makeSerialQueue(queueLabel(".audio-helper.device-change"))) {}

AudioObjectID CoreAudioTapCapture::tapID() const {
  std::lock_guard lock(buildMutex_);
  return tapID_;
}

AudioObjectID CoreAudioTapCapture::aggregateDeviceID() const {
  std::lock_guard lock(buildMutex_);
  return aggregateDeviceID_;
}

AudioDeviceIOProcID CoreAudioTapCapture::ioProcID() const {
  std::lock_guard lock(buildMutex_);
  return ioProcID_;
}

bool CoreAudioTapCapture::started() const {
  std::lock_guard lock(buildMutex_);
  return started_;
}

void CoreAudioTapCapture::createCapture() {
  const AudioObjectID outputDeviceID = defaultOutputDeviceID(hardware_);
  const std::string outputDeviceUID = deviceUID(hardware_, outputDeviceID);
  const std::string tapUUID = makeUUIDString();
  const std::vector<AudioObjectID> targetProcesses = targetProcessObjectsFromEnvironment(hardware_);

  TapDescription tap;
  if (!targetProcesses.empty()) {
    tap.kind = TapDescription::Kind::monoMixdownOfProcesses;
    tap.processes = targetProcesses;
  } else {
    // Nothing excluded, the helper's own process included: it plays nothing.
    tap.kind = TapDescription::Kind::deviceStream;
    tap.deviceUID = outputDeviceUID;
    tap.stream = 0;
  }
  tap.name = kTapName;
  tap.uuid = tapUUID;
  tap.isPrivate = true;
  tap.muteBehavior = 0;  // unmuted: the tapped audio still plays

  usesDeviceTap_ = targetProcesses.empty();
  boundOutputDeviceUID_ = outputDeviceUID;

  emitEvent(
      Event{
          {"type", "output.device"}, {"deviceID", outputDeviceID}, {"deviceUID", outputDeviceUID}},
      streams_.events);
  if (!targetProcesses.empty()) {
    emitEvent(Event{{"type", "target.processes"}, {"processObjects", targetProcesses}},
              streams_.events);
  }

  AudioObjectID newTapID = kAudioObjectUnknown;
  checkOSStatus(hardware_.createProcessTap(tap, newTapID), "AudioHardwareCreateProcessTap");
  {
    std::lock_guard lock(buildMutex_);
    tapID_ = newTapID;
  }
  const std::string tapUID = readTapUID(hardware_, newTapID, streams_.events).value_or(tapUUID);
  emitEvent(
      Event{{"type", "tap.created"}, {"tapID", newTapID}, {"tapUUID", tapUUID}, {"tapUID", tapUID}},
      streams_.events);

  AggregateDeviceDescription aggregate;
  aggregate.name = kAggregateDeviceName;
  // A fresh UID per build: a fixed one would collide with a device left behind by a crash.
  aggregate.uid = queueLabel(".audio-helper.aggregate.") + makeUUIDString();
  aggregate.isPrivate = true;
  aggregate.tapAutoStart = true;
  aggregate.taps = {AggregateSubTap{tapUID, true}};

  AudioObjectID newDeviceID = kAudioObjectUnknown;
  const OSStatus aggregateStatus = hardware_.createAggregateDevice(aggregate, newDeviceID);
  if (aggregateStatus != noErr) {
    {
      std::lock_guard lock(buildMutex_);
      if (tapID_ != kAudioObjectUnknown) {
        (void)hardware_.destroyProcessTap(tapID_);
        tapID_ = kAudioObjectUnknown;
      }
    }
    checkOSStatus(aggregateStatus, "AudioHardwareCreateAggregateDevice");
  }
  {
    std::lock_guard lock(buildMutex_);
    aggregateDeviceID_ = newDeviceID;
  }

  // No IO procedure of this capture is installed yet, so the IO thread is not reading it.
  streamDescription_ = readStreamDescription(hardware_, newDeviceID, streams_.events);
  emitFormatState(streamDescription_);

  AudioDeviceIOProcID newProcID = nullptr;
  const OSStatus procStatus = hardware_.createIOProcID(
      newDeviceID, &CoreAudioTapCapture::coreAudioTapIOProc, this, newProcID);
  if (procStatus != noErr) {
    teardownCapture();
    checkOSStatus(procStatus, "AudioDeviceCreateIOProcID");
  }
  std::uint64_t build = 0;
  {
    std::lock_guard lock(buildMutex_);
    ioProcID_ = newProcID;
    build = buildGeneration_;
  }
  if (newProcID == nullptr) {
    teardownCapture();
    throw HelperError("AudioDeviceCreateIOProcID did not return an IOProc ID.");
  }

  startQueue_->async([weak = weak_from_this(), newProcID, build] {
    if (auto self = weak.lock()) self->runStartWork(newProcID, build);
  });
}

// On startQueue.
void CoreAudioTapCapture::runStartWork(AudioDeviceIOProcID procID, std::uint64_t build) {
  OSStatus status = noErr;
  AudioObjectID deviceID = kAudioObjectUnknown;
  {
    std::lock_guard lock(buildMutex_);
    // A rebind tore this build down before its start came up: starting now would start a
    // destroyed IO procedure, or the new build's device with the old procedure.
    if (build != buildGeneration_ || ioProcID_ != procID) return;
    deviceID = aggregateDeviceID_;
    status = hardware_.deviceStart(deviceID, procID);
    if (status == noErr) started_ = true;
  }
  if (status != noErr) {
    try {
      checkOSStatus(status, "AudioDeviceStart");
    } catch (const HelperError& error) {
      emitError("device_start_failed", error.description(), streams_.events);
    }
    return;
  }
  emitEvent(Event{{"type", "capture.started"}, {"aggregateDeviceID", deviceID}}, streams_.events);
}

void CoreAudioTapCapture::teardownCapture() {
  std::lock_guard lock(buildMutex_);
  if (started_ && ioProcID_ != nullptr) {
    (void)hardware_.deviceStop(aggregateDeviceID_, ioProcID_);
    started_ = false;
  }
  if (ioProcID_ != nullptr) {
    (void)hardware_.destroyIOProcID(aggregateDeviceID_, ioProcID_);
    ioProcID_ = nullptr;
  }
  if (aggregateDeviceID_ != kAudioObjectUnknown) {
    (void)hardware_.destroyAggregateDevice(aggregateDeviceID_);
    aggregateDeviceID_ = kAudioObjectUnknown;
  }
  if (tapID_ != kAudioObjectUnknown) {
    (void)hardware_.destroyProcessTap(tapID_);
    tapID_ = kAudioObjectUnknown;
  }
  ++buildGeneration_;
}

void CoreAudioTapCapture::registerDefaultOutputListener() {
  PropertyListener listener = [weak = weak_from_this()](UInt32, const AudioObjectPropertyAddress*) {
    if (auto self = weak.lock()) self->scheduleRebindToDefaultOutput();
  };
  const OSStatus status = hardware_.addPropertyListener(
      kAudioObjectSystemObject, kDefaultOutputAddress, deviceChangeQueue_, listener);
  if (status == noErr) {
    deviceListenerBlock_ = std::move(listener);
    return;
  }
  emitEvent(Event{{"type", "warning"}, {"code", "device_listener_failed"}, {"status", status}},
            streams_.events);
}

// On deviceChangeQueue.
void CoreAudioTapCapture::scheduleRebindToDefaultOutput() {
  if (rebindWorkItem_) rebindWorkItem_->cancel();
  rebindWorkItem_ = std::make_shared<DispatchWorkItem>([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->rebindToDefaultOutput();
  });
  deviceChangeQueue_->asyncAfter(kRebindDelay, rebindWorkItem_);
}

// On deviceChangeQueue.
void CoreAudioTapCapture::rebindToDefaultOutput() {
  try {
    const AudioObjectID outputDeviceID = defaultOutputDeviceID(hardware_);
    const std::string outputDeviceUID = deviceUID(hardware_, outputDeviceID);
    if (boundOutputDeviceUID_ == outputDeviceUID) return;
    emitEvent(Event{{"type", "output.device.changed"}, {"deviceUID", outputDeviceUID}},
              streams_.events);
    teardownCapture();
    createCapture();
  } catch (const std::exception& error) {
    emitError("retap_failed", describe(error), streams_.events);
  }
}

// On the backend's IO thread: no lock, nothing that blocks.
void CoreAudioTapCapture::handleInput(const AudioBufferList* bufferList) {
  if (bufferList == nullptr) return;
  std::vector<float> samples;
  try {
    samples = readMonoFloatSamples(*bufferList, streamDescription_);
  } catch (const HelperError&) {
    return;  // a format we cannot decode: drop the cycle
  }
  if (samples.empty()) return;

  const std::vector<float> resampled = resampler_.resample(samples, streamDescription_.mSampleRate);
  if (resampled.empty()) return;

  std::vector<std::uint8_t> payload = encodePCM16(resampled);
  if (payload.empty()) return;

  ++chunkCount_;
  byteCount_ += static_cast<std::int64_t>(payload.size());

  if (chunkCount_ == 1 || chunkCount_ % kStatisticsInterval == 0) {
    // Levels of what the device delivered, before resampling drops samples.
    const SignalLevels levels = measureLevels(samples);
    emitEvent(Event{{"type", "chunk"},
                    {"chunks", chunkCount_},
                    {"bytes", byteCount_},
                    {"rms", levels.rms},
                    {"peak", levels.peak}},
              streams_.events);
  }

  outputQueue_->async(
      [writer = writer_, payload = std::move(payload)] { writer->writeFrame(payload); });
}

void CoreAudioTapCapture::emitFormatState(const AudioStreamBasicDescription& format) {
  loggedFormat_ = true;
  emitEvent(formatEvent(format), streams_.events);
}

OSStatus CoreAudioTapCapture::coreAudioTapIOProc(AudioObjectID, const AudioTimeStamp*,
                                                 const AudioBufferList* inputData,
                                                 const AudioTimeStamp*, AudioBufferList*,
                                                 const AudioTimeStamp*, void* clientData) {
  if (clientData == nullptr) return noErr;
  try {
    static_cast<CoreAudioTapCapture*>(clientData)->handleInput(inputData);
  } catch (...) {
    // Nothing may unwind into the audio system's thread; the cycle is lost.
  }
  return noErr;
}

}  // namespace talvorin
