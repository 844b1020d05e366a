#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "output/events.hpp"
#include "platform/audio_hardware.hpp"

namespace talvorin {

// A process that is recording audio.
struct ActiveInputProcess {
  std::int32_t processID;
  std::string bundleID;  // may be empty

  friend bool operator==(const ActiveInputProcess&, const ActiveInputProcess&) = default;
};

// One poll: the processes running audio input, ordered by bundle ID, then by process ID
// among equal bundle IDs. Throws HelperError when the process list cannot be read; a process
// whose own properties cannot be read is only left out.
std::vector<ActiveInputProcess> activeInputProcesses(AudioHardware& hardware);

// "pid:bundle|pid:bundle...", what the watcher compares between polls.
std::string processSignature(const std::vector<ActiveInputProcess>& processes);

// The "audio-input-processes" event for a poll result.
Event audioInputProcessesEvent(const std::vector<ActiveInputProcess>& processes);

// The watch loop, one poll at a time, so that tests can drive it without sleeping.
class InputProcessWatcher {
 public:
  InputProcessWatcher(AudioHardware& hardware, int eventFd)
      : hardware_(hardware), eventFd_(eventFd) {}

  // Polls once and writes an event line when the set of recording processes differs from
  // the last one reported (always after the first successful poll), or an "error" line when
  // the poll fails.
  void pollOnce();

 private:
  AudioHardware& hardware_;
  int eventFd_;
  std::optional<std::string> lastSignature_;
};

// Polls once a second, for good, writing event lines to `eventFd` (standard output in watch
// mode). `sleep` is the pause between polls in seconds.
[[noreturn]] void runInputProcessWatcher(AudioHardware& hardware, int eventFd,
                                         const std::function<void(double)>& sleep);

}  // namespace talvorin
