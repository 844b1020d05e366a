#include "discovery/input_process_watcher.hpp"

#include <algorithm>

#include "output/helper_error.hpp"

namespace talvorin {
namespace {

constexpr double kPollInterval = 1.0;

// Best effort: a property of one process that cannot be read leaves that process out.
template <typename Value>
bool readProcessValue(AudioHardware& hardware, AudioObjectID process,
                      AudioObjectPropertySelector selector, Value& value) {
  value = Value{};
  UInt32 size = sizeof value;
  return hardware.getPropertyData(process,
                                  propertyAddress(selector, kAudioObjectPropertyScopeGlobal), 0,
                                  nullptr, size, &value) == noErr;
}

std::string bundleIDOf(AudioHardware& hardware, AudioObjectID process, std::int32_t processID) {
  std::string bundleID;
  if (hardware.getPropertyString(
          process, propertyAddress(kAudioProcessPropertyBundleID, kAudioObjectPropertyScopeGlobal),
          bundleID) == noErr &&
      !bundleID.empty()) {
    return bundleID;
  }
  return hardware.runningApplicationBundleID(processID).value_or("");
}

}  // namespace

std::vector<ActiveInputProcess> activeInputProcesses(AudioHardware& hardware) {
  const auto listAddress =
      propertyAddress(kAudioHardwarePropertyProcessObjectList, kAudioObjectPropertyScopeGlobal);
  UInt32 size = 0;
  checkOSStatus(
      hardware.getPropertyDataSize(kAudioObjectSystemObject, listAddress, 0, nullptr, size),
      "AudioObjectGetPropertyDataSize(process object list)");

  std::vector<ActiveInputProcess> processes;
  if (size > 3) {
    // Entries left at 0 (the list shrank between the two reads) are skipped below.
    std::vector<AudioObjectID> objects(size / sizeof(AudioObjectID), kAudioObjectUnknown);
    UInt32 dataSize = size;
    checkOSStatus(hardware.getPropertyData(kAudioObjectSystemObject, listAddress, 0, nullptr,
                                           dataSize, objects.data()),
                  "AudioObjectGetPropertyData(process object list)");
    for (const AudioObjectID object : objects) {
      if (object == kAudioObjectUnknown) continue;
      UInt32 runningInput = 0;
      if (!readProcessValue(hardware, object, kAudioProcessPropertyIsRunningInput, runningInput) ||
          runningInput == 0) {
        continue;
      }
      SInt32 processID = 0;
      if (!readProcessValue(hardware, object, kAudioProcessPropertyPID, processID) ||
          processID < 1) {
        continue;
      }
      processes.push_back({processID, bundleIDOf(hardware, object, processID)});
    }
  }

  // UTF-8 text compares in Unicode scalar order byte by byte, and std::string compares its
  // bytes as unsigned.
  std::stable_sort(processes.begin(), processes.end(),
                   [](const ActiveInputProcess& a, const ActiveInputProcess& b) {
                     if (a.bundleID == b.bundleID) return a.processID < b.processID;
                     return a.bundleID < b.bundleID;
                   });
  return processes;
}

std::string processSignature(const std::vector<ActiveInputProcess>& processes) {
  std::string signature;
  for (const auto& process : processes) {
    if (!signature.empty()) signature += '|';
    signature += std::to_string(process.processID);
    signature += ':';
    signature += process.bundleID;
  }
  return signature;
}

Event audioInputProcessesEvent(const std::vector<ActiveInputProcess>& processes) {
  Event list = Event::array();
  for (const auto& process : processes) {
    list.push_back(Event{{"pid", process.processID}, {"bundleId", process.bundleID}});
  }
  return Event{{"type", "audio-input-processes"}, {"processes", std::move(list)}};
}

void InputProcessWatcher::pollOnce() {
  try {
    const auto processes = activeInputProcesses(hardware_);
    std::string signature = processSignature(processes);
    if (lastSignature_ == signature) return;
    lastSignature_ = std::move(signature);
    emitEvent(audioInputProcessesEvent(processes), eventFd_);
  } catch (const HelperError& error) {
    // The shared error shape, but on this mode's stream.
    emitError("audio_process_probe_failed", error.description(), eventFd_);
  }
}

void runInputProcessWatcher(AudioHardware& hardware, int eventFd,
                            const std::function<void(double)>& sleep) {
  InputProcessWatcher watcher(hardware, eventFd);
  for (;;) {
    watcher.pollOnce();
    sleep(kPollInterval);
  }
}

}  // namespace talvorin
