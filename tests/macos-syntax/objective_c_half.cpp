// The backend's Objective-C half (core_audio_taps.mm) cannot be built without an Objective-C
// runtime, so the backend test links these in its place. They complete the class and fail any
// test that reaches them; the syntax check is what covers that file.
#include <gtest/gtest.h>

#include "platform/macos/core_audio_hardware.hpp"

namespace talvorin {

OSStatus CoreAudioHardware::createProcessTap(const TapDescription&, AudioObjectID&) {
  ADD_FAILURE() << "process taps are built in Objective-C++, which this test does not link";
  return kAudioHardwareUnsupportedOperationError;
}

OSStatus CoreAudioHardware::destroyProcessTap(AudioObjectID) {
  ADD_FAILURE() << "process taps are destroyed in Objective-C++, which this test does not link";
  return kAudioHardwareUnsupportedOperationError;
}

std::optional<std::string> CoreAudioHardware::runningApplicationBundleID(std::int32_t) {
  ADD_FAILURE() << "the running-application lookup is Objective-C++, which this test does not "
                   "link";
  return std::nullopt;
}

}  // namespace talvorin
