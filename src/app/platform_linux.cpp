#include "app/platform_services.hpp"
#include "platform/pulse/pulse_audio_hardware.hpp"
#include "platform/threads/thread_dispatch.hpp"

namespace talvorin {

PlatformServices makePlatformServices() {
  return PlatformServices{makePulseAudioHardware(), makeThreadDispatch(), "pulseaudio-monitor"};
}

}  // namespace talvorin
