// Helpers for the tests that run against a real audio server: child processes (players and
// recorders), server commands, polling with a deadline, tone files and signal checks.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/core_audio_types.hpp"

namespace talvorin::testing {

// True when the environment names a server (tests/e2e/run starts one).
bool pulseServerConfigured();

// A child process, stopped with TERM (then KILL) when it goes out of scope.
class ChildProcess {
 public:
  // `environment` entries ("NAME=value") are added to the test's own environment.
  explicit ChildProcess(const std::vector<std::string>& argv,
                        const std::vector<std::string>& environment = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const noexcept { return pid_; }
  void stop();

 private:
  pid_t pid_ = -1;
};

// Runs a shell command; its standard output, trailing line feeds removed.
std::string commandOutput(const std::string& command);
// Runs a shell command; true when it exits with status 0.
bool runCommand(const std::string& command);

// Polls `condition` every 10 ms until it holds or `seconds` pass.
template <typename Condition>
bool waitFor(Condition condition, double seconds = 5.0) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// A 48000 Hz 16-bit WAV file with a sine tone on every channel, made once with sox.
std::string toneFile(double frequency, double amplitude, int channels, double seconds = 30.0);

// A player of the file at low latency, so that its audio reaches the monitor quickly.
std::vector<std::string> playerCommand(const std::string& file);

// Frequency from the zero crossings (rising and falling) of a signal.
double zeroCrossingFrequency(const std::vector<float>& samples, double sampleRate);
float peakLevel(const std::vector<float>& samples);

// Record of the IO cycles a device delivers, filled on the backend's IO thread.
struct CycleLog {
  std::mutex mutex;
  std::vector<float> firstChannel;  // channel 0 of every cycle, in order
  std::vector<UInt32> cycleBytes;
  std::size_t malformed = 0;  // cycles without exactly one buffer of the expected channels
  UInt32 channels = 0;
  bool stopped = false;
  std::size_t callsAfterStop = 0;

  std::size_t cycleCount();
  // The last `frames` samples of channel 0.
  std::vector<float> tail(std::size_t frames);
  void markStopped();

  static OSStatus ioProc(AudioObjectID, const AudioTimeStamp*, const AudioBufferList* input,
                         const AudioTimeStamp*, AudioBufferList*, const AudioTimeStamp*,
                         void* clientData);
};

}  // namespace talvorin::testing
