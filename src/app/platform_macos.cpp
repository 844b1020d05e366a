// The services of the macOS build: Core Audio behind the hardware boundary, Grand Central
// Dispatch behind the dispatch boundary.
#include "app/platform_services.hpp"
#include "platform/macos/core_audio_hardware.hpp"
#include "platform/macos/gcd_dispatch.hpp"

namespace talvorin {

PlatformServices makePlatformServices() {
  return PlatformServices{makeCoreAudioHardware(), makeGcdDispatch(), "coreaudio-process-tap"};
}

}  // namespace talvorin
