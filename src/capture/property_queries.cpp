#include "capture/property_queries.hpp"

#include "output/events.hpp"
#include "output/helper_error.hpp"

namespace talvorin {

AudioObjectID defaultOutputDeviceID(AudioHardware& hardware) {
  AudioObjectID deviceID = kAudioObjectUnknown;
  UInt32 size = sizeof deviceID;
  checkOSStatus(hardware.getPropertyData(kAudioObjectSystemObject,
                                         propertyAddress(kAudioHardwarePropertyDefaultOutputDevice,
                                                         kAudioObjectPropertyScopeGlobal),
                                         0, nullptr, size, &deviceID),
                "AudioObjectGetPropertyData(default output device)");
  if (deviceID == kAudioObjectUnknown) {
    throw HelperError("No default macOS output device is available.");
  }
  return deviceID;
}

std::string deviceUID(AudioHardware& hardware, AudioObjectID deviceID) {
  std::string uid;
  checkOSStatus(
      hardware.getPropertyString(
          deviceID, propertyAddress(kAudioDevicePropertyDeviceUID, kAudioObjectPropertyScopeGlobal),
          uid),
      "AudioObjectGetPropertyData(default output UID)");
  // Not trimmed: a UID of one space is a UID.
  if (uid.empty()) throw HelperError("The default macOS output device has no UID.");
  return uid;
}

std::optional<std::string> readTapUID(AudioHardware& hardware, AudioObjectID tapID, int eventFd) {
  if (tapID == kAudioObjectUnknown) return std::nullopt;
  std::string uid;
  const OSStatus status = hardware.getPropertyString(
      tapID, propertyAddress(kAudioTapPropertyUID, kAudioObjectPropertyScopeGlobal), uid);
  if (status != noErr) {
    emitEvent(Event{{"type", "warning"}, {"code", "tap_uid_probe_failed"}, {"status", status}},
              eventFd);
    return std::nullopt;
  }
  if (uid.empty()) return std::nullopt;
  return uid;
}

}  // namespace talvorin
