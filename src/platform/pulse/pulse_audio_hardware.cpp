#include "platform/pulse/pulse_audio_hardware.hpp"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <vector>

#include <pulse/subscribe.h>

#include "platform/dispatch.hpp"
#include "platform/pulse/device_monitor_capture.hpp"
#include "platform/pulse/process_mix_capture.hpp"
#include "platform/pulse/pulse_loop.hpp"
#include "platform/pulse/server_queries.hpp"
#include "platform/pulse/status_codes.hpp"

namespace talvorin {

using namespace pulse;

namespace {

struct TapObject {
  TapDescription::Kind kind = TapDescription::Kind::deviceStream;
  SinkInfo sink;                      // device tap
  std::set<std::int32_t> processIDs;  // process tap
  std::string uid;
};

struct AggregateObject {
  AudioObjectID tap = kAudioObjectUnknown;
  std::string uid;
  AudioStreamBasicDescription format{};
  IOTarget io;
  std::shared_ptr<CaptureEngine> engine;
};

struct Listener {
  std::shared_ptr<DispatchQueue> queue;
  PropertyListener listener;
};

AudioStreamBasicDescription float32Interleaved(Float64 rate, UInt32 channels) {
  AudioStreamBasicDescription format{};
  format.mSampleRate = rate;
  format.mFormatID = kAudioFormatLinearPCM;
  format.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
  format.mBytesPerPacket = 4 * channels;
  format.mFramesPerPacket = 1;
  format.mBytesPerFrame = 4 * channels;
  format.mChannelsPerFrame = channels;
  format.mBitsPerChannel = 32;
  return format;
}

template <typename Value>
OSStatus writeValue(const Value& value, UInt32& ioDataSize, void* outData) {
  if (outData == nullptr || ioDataSize < sizeof(Value)) return kBadSize;
  std::memcpy(outData, &value, sizeof(Value));
  ioDataSize = sizeof(Value);
  return noErr;
}

// A string-valued property has the size of one string reference, as on macOS.
constexpr UInt32 kStringReferenceSize = sizeof(void*);

}  // namespace

struct PulseAudioHardware::Impl {
  PulseLoop loop{"Talvorin audio helper"};

  // All state below is guarded by the mainloop lock: the callbacks run under it.
  AudioObjectID nextID = kAudioObjectSystemObject + 1;
  std::map<std::string, AudioObjectID> sinkIDs;
  std::map<AudioObjectID, std::string> sinkNames;
  std::map<std::int32_t, AudioObjectID> processObjects;
  std::map<AudioObjectID, std::int32_t> processIDs;
  std::map<AudioObjectID, TapObject> taps;
  std::map<AudioObjectID, std::shared_ptr<AggregateObject>> aggregates;
  std::vector<Listener> listeners;
  std::optional<std::string> defaultSink;
  bool serverInfoPending = false;

  Impl() {
    PulseLoop::Lock lock(loop);
    if (!loop.connected()) return;
    pa_context_set_subscribe_callback(loop.context(), &Impl::onServerEvent, this);
    const auto mask = static_cast<pa_subscription_mask_t>(
        PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SINK_INPUT);
    loop.complete(pa_context_subscribe(loop.context(), mask, nullptr, nullptr));
  }

  ~Impl() {
    PulseLoop::Lock lock(loop);
    for (auto& [id, aggregate] : aggregates) stopEngine(*aggregate);
    aggregates.clear();
    listeners.clear();
  }

  AudioObjectID sinkObject(const std::string& name) {
    const auto [entry, added] = sinkIDs.try_emplace(name, nextID);
    if (added) sinkNames.emplace(nextID++, name);
    return entry->second;
  }

  AudioObjectID processObject(std::int32_t pid) {
    const auto [entry, added] = processObjects.try_emplace(pid, nextID);
    if (added) processIDs.emplace(nextID++, pid);
    return entry->second;
  }

  // The processes that have a client on the server, in PID order.
  OSStatus clientProcesses(std::vector<std::int32_t>& outProcessIDs) {
    std::vector<ClientInfo> clients;
    if (const OSStatus status = queryClients(loop, clients); status != noErr) return status;
    std::set<std::int32_t> unique;
    for (const auto& client : clients) {
      if (client.processID > 0) unique.insert(client.processID);
    }
    outProcessIDs.assign(unique.begin(), unique.end());
    return noErr;
  }

  OSStatus isRunningInput(std::int32_t pid, UInt32& outRunning) {
    outRunning = 0;
    std::vector<SourceOutputInfo> outputs;
    std::set<std::uint32_t> monitors;
    std::vector<ClientInfo> clients;
    OSStatus status = querySourceOutputs(loop, outputs);
    if (status == noErr) status = queryMonitorSources(loop, monitors);
    if (status == noErr) status = queryClients(loop, clients);
    if (status != noErr) return status;
    for (const auto& output : outputs) {
      std::int32_t owner = output.processID;
      if (owner == 0) {
        for (const auto& client : clients) {
          if (client.index == output.client) owner = client.processID;
        }
      }
      // Recording a monitor captures what plays; it is not recording from an input.
      if (owner == pid && !output.corked && !monitors.contains(output.source)) outRunning = 1;
    }
    return noErr;
  }

  OSStatus applicationID(std::int32_t pid, std::string& outValue) {
    std::vector<ClientInfo> clients;
    if (const OSStatus status = queryClients(loop, clients); status != noErr) return status;
    outValue.clear();
    for (const auto& client : clients) {
      if (client.processID == pid && !client.applicationID.empty()) {
        outValue = client.applicationID;
        break;
      }
    }
    return noErr;
  }

  static void stopEngine(AggregateObject& aggregate) {
    if (aggregate.engine) {
      aggregate.engine->stop();
      aggregate.engine.reset();
    }
  }

  // Mainloop thread.
  static void onServerEvent(pa_context* context, pa_subscription_event_type_t type,
                            std::uint32_t index, void* userdata) {
    auto* self = static_cast<Impl*>(userdata);
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto operation =
        static_cast<pa_subscription_event_type_t>(type & PA_SUBSCRIPTION_EVENT_TYPE_MASK);
    if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
      // Copied: an engine's callback never starts or stops devices, but stay safe anyway.
      std::vector<std::shared_ptr<CaptureEngine>> engines;
      for (const auto& [id, aggregate] : self->aggregates) {
        if (aggregate->engine) engines.push_back(aggregate->engine);
      }
      for (const auto& engine : engines) engine->onSinkInputEvent(operation, index);
      return;
    }
    // The default sink changes with a server event; a removed default sink changes it too.
    if (self->listeners.empty() || self->serverInfoPending) return;
    pa_operation* request = pa_context_get_server_info(context, &Impl::onServerInfo, self);
    if (request == nullptr) return;
    self->serverInfoPending = true;
    pa_operation_unref(request);
  }

  // Mainloop thread.
  static void onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
    auto* self = static_cast<Impl*>(userdata);
    self->serverInfoPending = false;
    if (info == nullptr) return;
    std::optional<std::string> current;
    if (info->default_sink_name != nullptr) current = std::string(info->default_sink_name);
    if (current == self->defaultSink) return;
    self->defaultSink = std::move(current);
    for (const auto& entry : self->listeners) {
      entry.queue->async([listener = entry.listener] {
        const AudioObjectPropertyAddress address = propertyAddress(
            kAudioHardwarePropertyDefaultOutputDevice, kAudioObjectPropertyScopeGlobal);
        listener(1, &address);
      });
    }
  }
};

PulseAudioHardware::PulseAudioHardware() : impl_(std::make_unique<Impl>()) {}

PulseAudioHardware::~PulseAudioHardware() = default;

OSStatus PulseAudioHardware::getPropertyDataSize(AudioObjectID object,
                                                 const AudioObjectPropertyAddress& address, UInt32,
                                                 const void*, UInt32& outDataSize) {
  Impl& self = *impl_;
  PulseLoop::Lock lock(self.loop);
  if (const OSStatus status = self.loop.usable(); status != noErr) return status;
  const AudioObjectPropertySelector selector = address.mSelector;
  if (object == kAudioObjectSystemObject) {
    switch (selector) {
      case kAudioHardwarePropertyDefaultOutputDevice:
      case kAudioHardwarePropertyTranslatePIDToProcessObject:
        outDataSize = sizeof(AudioObjectID);
        return noErr;
      case kAudioHardwarePropertyProcessObjectList: {
        std::vector<std::int32_t> pids;
        if (const OSStatus status = self.clientProcesses(pids); status != noErr) return status;
        outDataSize = static_cast<UInt32>(pids.size() * sizeof(AudioObjectID));
        return noErr;
      }
      default:
        return kUnknownProperty;
    }
  }
  if (self.sinkNames.contains(object)) {
    if (selector != kAudioDevicePropertyDeviceUID) return kUnknownProperty;
    outDataSize = kStringReferenceSize;
    return noErr;
  }
  if (self.processIDs.contains(object)) {
    if (selector == kAudioProcessPropertyPID)
      outDataSize = sizeof(SInt32);
    else if (selector == kAudioProcessPropertyIsRunningInput)
      outDataSize = sizeof(UInt32);
    else if (selector == kAudioProcessPropertyBundleID)
      outDataSize = kStringReferenceSize;
    else
      return kUnknownProperty;
    return noErr;
  }
  if (self.taps.contains(object)) {
    if (selector != kAudioTapPropertyUID) return kUnknownProperty;
    outDataSize = kStringReferenceSize;
    return noErr;
  }
  if (self.aggregates.contains(object)) {
    if (selector == kAudioDevicePropertyStreamFormat &&
        address.mScope == kAudioObjectPropertyScopeInput) {
      outDataSize = sizeof(AudioStreamBasicDescription);
    } else if (selector == kAudioDevicePropertyNominalSampleRate) {
      outDataSize = sizeof(Float64);
    } else if (selector == kAudioDevicePropertyDeviceUID) {
      outDataSize = kStringReferenceSize;
    } else {
      return kUnknownProperty;
    }
    return noErr;
  }
  return kNoSuchObject;
}

OSStatus PulseAudioHardware::getPropertyData(AudioObjectID object,
                                             const AudioObjectPropertyAddress& address,
                                             UInt32 qualifierSize, const void* qualifier,
                                             UInt32& ioDataSize, void* outData) {
  Impl& self = *impl_;
  PulseLoop::Lock lock(self.loop);
  if (const OSStatus status = self.loop.usable(); status != noErr) return status;
  const AudioObjectPropertySelector selector = address.mSelector;

  if (object == kAudioObjectSystemObject) {
    switch (selector) {
      case kAudioHardwarePropertyDefaultOutputDevice: {
        if (outData == nullptr || ioDataSize < sizeof(AudioObjectID)) return kBadSize;
        std::optional<std::string> name;
        if (const OSStatus status = queryDefaultSinkName(self.loop, name); status != noErr) {
          return status;
        }
        const AudioObjectID device = name ? self.sinkObject(*name) : kAudioObjectUnknown;
        return writeValue(device, ioDataSize, outData);
      }
      case kAudioHardwarePropertyProcessObjectList: {
        if (outData == nullptr) return kBadSize;
        std::vector<std::int32_t> pids;
        if (const OSStatus status = self.clientProcesses(pids); status != noErr) return status;
        const std::size_t room = ioDataSize / sizeof(AudioObjectID);
        const std::size_t count = std::min(room, pids.size());
        auto* objects = static_cast<AudioObjectID*>(outData);
        for (std::size_t i = 0; i < count; ++i) objects[i] = self.processObject(pids[i]);
        ioDataSize = static_cast<UInt32>(count * sizeof(AudioObjectID));
        return noErr;
      }
      case kAudioHardwarePropertyTranslatePIDToProcessObject: {
        if (qualifier == nullptr || qualifierSize < sizeof(std::int32_t)) return kBadSize;
        if (outData == nullptr || ioDataSize < sizeof(AudioObjectID)) return kBadSize;
        std::int32_t pid = 0;
        std::memcpy(&pid, qualifier, sizeof pid);
        std::vector<std::int32_t> pids;
        if (const OSStatus status = self.clientProcesses(pids); status != noErr) return status;
        const bool hasClient = std::find(pids.begin(), pids.end(), pid) != pids.end();
        const AudioObjectID process = hasClient ? self.processObject(pid) : kAudioObjectUnknown;
        return writeValue(process, ioDataSize, outData);
      }
      default:
        return kUnknownProperty;
    }
  }

  if (self.sinkNames.contains(object)) return kUnknownProperty;  // only 'uid ', a string

  if (const auto process = self.processIDs.find(object); process != self.processIDs.end()) {
    const std::int32_t pid = process->second;
    if (selector == kAudioProcessPropertyPID) {
      return writeValue(static_cast<SInt32>(pid), ioDataSize, outData);
    }
    if (selector == kAudioProcessPropertyIsRunningInput) {
      if (outData == nullptr || ioDataSize < sizeof(UInt32)) return kBadSize;
      UInt32 running = 0;
      if (const OSStatus status = self.isRunningInput(pid, running); status != noErr) {
        return status;
      }
      return writeValue(running, ioDataSize, outData);
    }
    return kUnknownProperty;
  }

  if (self.taps.contains(object)) return kUnknownProperty;  // only 'tuid', a string

  if (const auto found = self.aggregates.find(object); found != self.aggregates.end()) {
    const AggregateObject& aggregate = *found->second;
    if (selector == kAudioDevicePropertyStreamFormat &&
        address.mScope == kAudioObjectPropertyScopeInput) {
      return writeValue(aggregate.format, ioDataSize, outData);
    }
    if (selector == kAudioDevicePropertyNominalSampleRate) {
      return writeValue(aggregate.format.mSampleRate, ioDataSize, outData);
    }
    return kUnknownProperty;
  }
  return kNoSuchObject;
}

OSStatus PulseAudioHardware::getPropertyString(AudioObjectID object,
                                               const AudioObjectPropertyAddress& address,
                                               std::string& outValue) {
  Impl& self = *impl_;
  PulseLoop::Lock lock(self.loop);
  if (const OSStatus status = self.loop.usable(); status != noErr) return status;
  const AudioObjectPropertySelector selector = address.mSelector;
  if (object == kAudioObjectSystemObject) return kUnknownProperty;
  if (const auto sink = self.sinkNames.find(object); sink != self.sinkNames.end()) {
    if (selector != kAudioDevicePropertyDeviceUID) return kUnknownProperty;
    outValue = sink->second;
    return noErr;
  }
  if (const auto process = self.processIDs.find(object); process != self.processIDs.end()) {
    if (selector != kAudioProcessPropertyBundleID) return kUnknownProperty;
    return self.applicationID(process->second, outValue);
  }
  if (const auto tap = self.taps.find(object); tap != self.taps.end()) {
    if (selector != kAudioTapPropertyUID) return kUnknownProperty;
    outValue = tap->second.uid;
    return noErr;
  }
  if (const auto found = self.aggregates.find(object); found != self.aggregates.end()) {
    if (selector != kAudioDevicePropertyDeviceUID) return kUnknownProperty;
    outValue = found->second->uid;
    return noErr;
  }
  return kNoSuchObject;
}

OSStatus PulseAudioHardware::addPropertyListener(AudioObjectID object,
                                                 const AudioObjectPropertyAddress& address,
                                                 std::shared_ptr<DispatchQueue> queue,
                                                 PropertyListener listener) {
  Impl& self = *impl_;
  PulseLoop::Lock lock(self.loop);
  if (const OSStatus status = self.loop.usable(); status != noErr) return status;
  if (object != kAudioObjectSystemObject ||
      address.mSelector != kAudioHardwarePropertyDefaultOutputDevice) {
    return kListenerUnsupported;
  }
  if (!queue || !listener) return kBadArgument;
  if (self.listeners.empty()) {
    // The name later server events are compared with.
    std::optional<std::string> name;
    if (const OSStatus status = queryDefaultSinkName(self.loop, name); status != noErr) {
      return status;
    }
    self.defaultSink = std::move(name);
  }
  self.listeners.push_back(Listener{std::move(queue), std::move(listener)});
  return noErr;
}

OSStatus PulseAudioHardware::createProcessTap(const TapDescription& description,
                                              AudioObjectID& outTapID) {
  Impl& self = *impl_;
  PulseLoop::Lock lock(self.loop);
  if (const OSStatus status = self.loop.usable(); status != noErr) return status;
  TapObject tap;
  tap.kind = description.kind;
  if (description.kind == TapDescription::Kind::deviceStream) {
    if (description.stream != 0) return kBadArgument;
    std::optional<SinkInfo> sink;
    if (const OSStatus status = querySink(self.loop, description.deviceUID, sink);
        status != noErr) {
      return status;
    }
    if (!sink) return kNoSuchSink;
    self.sinkObject(sink->name);
    tap.sink = std::move(*sink);
  } else {
    if (description.processes.empty()) return kBadArgument;
    for (const AudioObjectID process : description.processes) {
      const auto found = self.processIDs.find(process);
      if (found == self.processIDs.end()) return kNoSuchObject;
      tap.processIDs.insert(found->second);
    }
  }
  const AudioObjectID tapID = self.nextID++;
  tap.uid = description.uuid;
  const bool taken = std::any_of(self.taps.begin(), self.taps.end(),
                                 [&](const auto& entry) { return entry.second.uid == tap.uid; });
  if (tap.uid.empty() || taken) tap.uid = "talvorin-tap-" + std::to_string(tapID);
  self.taps.emplace(tapID, std::move(tap));
  outTapID = tapID;
  return noErr;
}

OSStatus PulseAudioHardware::destroyProcessTap(AudioObjectID tapID) {
  Impl& self = *impl_;
  PulseLoop::Lock lock(self.loop);
  if (self.taps.erase(tapID) == 0) return kNoSuchObject;
  return self.loop.connected() ? noErr : kServerUnreachable;
}

OSStatus PulseAudioHardware::createAggregateDevice(const AggregateDeviceDescription& description,
                                                   AudioObjectID& outDeviceID) {
  Impl& self = *impl_;
  PulseLoop::Lock lock(self.loop);
  if (const OSStatus status = self.loop.usable(); status != noErr) return status;
  if (description.taps.size() != 1) return kBadArgument;
  const auto tap = std::find_if(self.taps.begin(), self.taps.end(), [&](const auto& entry) {
    return entry.second.uid == description.taps.front().uid;
  });
  if (tap == self.taps.end()) return kUnknownTap;

  auto aggregate = std::make_shared<AggregateObject>();
  aggregate->tap = tap->first;
  aggregate->uid = description.uid;
  if (tap->second.kind == TapDescription::Kind::deviceStream) {
    aggregate->format =
        float32Interleaved(tap->second.sink.sampleSpec.rate, tap->second.sink.sampleSpec.channels);
  } else {
    aggregate->format = float32Interleaved(ProcessMixCapture::kSampleRate, 1);
  }
  const AudioObjectID deviceID = self.nextID++;
  self.aggregates.emplace(deviceID, std::move(aggregate));
  outDeviceID = deviceID;
  return noErr;
}

OSStatus PulseAudioHardware::destroyAggregateDevice(AudioObjectID deviceID) {
  Impl& self = *impl_;
  PulseLoop::Lock lock(self.loop);
  if (self.loop.inLoopThread()) return kWrongThread;
  const auto found = self.aggregates.find(deviceID);
  if (found == self.aggregates.end()) return kNoSuchObject;
  Impl::stopEngine(*found->second);
  self.aggregates.erase(found);
  return self.loop.connected() ? noErr : kServerUnreachable;
}

OSStatus PulseAudioHardware::createIOProcID(AudioObjectID deviceID, AudioDeviceIOProc proc,
                                            void* clientData, AudioDeviceIOProcID& outProcID) {
  Impl& self = *impl_;
  PulseLoop::Lock lock(self.loop);
  if (const OSStatus status = self.loop.usable(); status != noErr) return status;
  const auto found = self.aggregates.find(deviceID);
  if (found == self.aggregates.end()) return kNoSuchObject;
  AggregateObject& aggregate = *found->second;
  // One IO procedure per device is all the helper registers.
  if (proc == nullptr || aggregate.io.proc != nullptr) return kBadArgument;
  aggregate.io = IOTarget{deviceID, proc, clientData};
  outProcID = proc;
  return noErr;
}

OSStatus PulseAudioHardware::destroyIOProcID(AudioObjectID deviceID, AudioDeviceIOProcID procID) {
  Impl& self = *impl_;
  PulseLoop::Lock lock(self.loop);
  if (self.loop.inLoopThread()) return kWrongThread;
  const auto found = self.aggregates.find(deviceID);
  if (found == self.aggregates.end()) return kNoSuchObject;
  AggregateObject& aggregate = *found->second;
  if (procID == nullptr || aggregate.io.proc != procID) return kBadArgument;
  Impl::stopEngine(aggregate);
  aggregate.io = IOTarget{};
  return self.loop.connected() ? noErr : kServerUnreachable;
}

OSStatus PulseAudioHardware::deviceStart(AudioObjectID deviceID, AudioDeviceIOProcID procID) {
  Impl& self = *impl_;
  PulseLoop::Lock lock(self.loop);
  if (const OSStatus status = self.loop.usable(); status != noErr) return status;
  const auto found = self.aggregates.find(deviceID);
  if (found == self.aggregates.end()) return kNoSuchObject;
  const std::shared_ptr<AggregateObject> aggregate = found->second;
  if (procID == nullptr || aggregate->io.proc != procID) return kBadArgument;
  if (aggregate->engine) return noErr;
  const auto tap = self.taps.find(aggregate->tap);
  if (tap == self.taps.end()) return kNoSuchObject;

  std::shared_ptr<CaptureEngine> engine;
  if (tap->second.kind == TapDescription::Kind::deviceStream) {
    engine = std::make_shared<DeviceMonitorCapture>(self.loop, tap->second.sink, aggregate->io);
  } else {
    engine = std::make_shared<ProcessMixCapture>(self.loop, tap->second.processIDs, aggregate->io);
  }
  // start() may wait for the server, releasing the lock meanwhile.
  if (const OSStatus status = engine->start(); status != noErr) return status;
  const auto still = self.aggregates.find(deviceID);
  if (still == self.aggregates.end() || still->second != aggregate || aggregate->engine ||
      aggregate->io.proc != procID) {
    engine->stop();
    return still == self.aggregates.end() ? kNoSuchObject : noErr;
  }
  aggregate->engine = std::move(engine);
  return noErr;
}

OSStatus PulseAudioHardware::deviceStop(AudioObjectID deviceID, AudioDeviceIOProcID procID) {
  Impl& self = *impl_;
  // The IO procedure runs on the mainloop thread under this lock: once it is held, no call
  // is in progress, and stopping the engine prevents any later one.
  PulseLoop::Lock lock(self.loop);
  if (self.loop.inLoopThread()) return kWrongThread;
  const auto found = self.aggregates.find(deviceID);
  if (found == self.aggregates.end()) return kNoSuchObject;
  if (procID == nullptr || found->second->io.proc != procID) return kBadArgument;
  Impl::stopEngine(*found->second);
  return self.loop.connected() ? noErr : kServerUnreachable;
}

std::optional<std::string> PulseAudioHardware::runningApplicationBundleID(std::int32_t pid) {
  if (pid < 1) return std::nullopt;
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  if (!comm || !std::getline(comm, name) || name.empty()) return std::nullopt;
  return name;
}

std::unique_ptr<AudioHardware> makePulseAudioHardware() {
  return std::make_unique<PulseAudioHardware>();
}

}  // namespace talvorin
