// The small property reads that every capture build needs.
#pragma once

#include <optional>
#include <string>

#include "platform/audio_hardware.hpp"

namespace talvorin {

// The default output device; throws HelperError when the read fails or there is none.
AudioObjectID defaultOutputDeviceID(AudioHardware& hardware);

// The UID of a device (its callers pass the default output device); throws HelperError when
// the read fails or the UID is empty.
std::string deviceUID(AudioHardware& hardware, AudioObjectID deviceID);

// The UID of a process tap, or nothing. Best effort: a failed read writes a
// "tap_uid_probe_failed" warning to `eventFd` and never throws.
std::optional<std::string> readTapUID(AudioHardware& hardware, AudioObjectID tapID, int eventFd);

}  // namespace talvorin
