// What the program needs from the platform it runs on. Each platform defines
// makePlatformServices in a file of its own (platform_linux.cpp, platform_macos.cpp), and
// CMake compiles the one that fits: nothing above this folder knows which backend runs.
#pragma once

#include <memory>
#include <string>

#include "platform/audio_hardware.hpp"
#include "platform/dispatch.hpp"

namespace talvorin {

struct PlatformServices {
  std::unique_ptr<AudioHardware> hardware;
  std::unique_ptr<Dispatch> dispatch;
  // The "engine" of the "starting" and "ready" events: what does the capturing.
  std::string engineName;
};

PlatformServices makePlatformServices();

}  // namespace talvorin
