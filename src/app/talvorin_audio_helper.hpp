#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/core_audio_tap_capture.hpp"

namespace talvorin {

class TalvorinAudioHelper {
 public:
  // The one capture of the process. Set once by the start-up and never cleared: the queued
  // work and the listener refer to the capture weakly, so this is what keeps it alive.
  static inline std::shared_ptr<CoreAudioTapCapture> activeCapture;

  // Exit status after a failed capture start.
  static constexpr int kExitCaptureStartFailed = 3;
  // Exit status when the reader of the frames has gone away.
  static constexpr int kExitOutputClosed = 0;

  // True when an argument (the program path included) is exactly the watch switch.
  static bool isWatchMode(const std::vector<std::string>& arguments);

  // Capture-mode start-up: "starting", the first build, the default-output listener for a
  // device tap, "ready". Returns the exit status to end with when the start failed, or
  // nothing when the capture runs and the caller should park in the main loop.
  static std::optional<int> startCapture(AudioHardware& hardware, Dispatch& dispatch,
                                         std::string_view engineName,
                                         CoreAudioTapCapture::Streams streams,
                                         std::function<void()> onOutputClosed);

  // The program: reads the arguments, runs watch or capture mode, never returns.
  [[noreturn]] static void main(int argc, char** argv);
};

}  // namespace talvorin
