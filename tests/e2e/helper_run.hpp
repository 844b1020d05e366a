// The built helper running as a child: one thread reads its standard error as event lines,
// another its standard output as frames (capture mode) or event lines (watch mode).
#pragma once

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "frame_reader.hpp"
#include "subprocess.hpp"

namespace talvorin::testing {

// Path of the helper binary under test.
std::string helperPath();

struct HelperOptions {
  std::vector<std::string> arguments;
  std::vector<std::string> environment;  // "NAME=value", over the test's own environment
  bool watchMode = false;                // standard output carries lines, not frames
  bool readStdout = true;                // false: nothing reads until releaseStdout()

  HelperOptions& withArguments(std::vector<std::string> value) {
    arguments = std::move(value);
    return *this;
  }
  HelperOptions& withEnvironment(std::vector<std::string> value) {
    environment = std::move(value);
    return *this;
  }
  HelperOptions& inWatchMode() {
    watchMode = true;
    return *this;
  }
  HelperOptions& withoutReadingStdout() {
    readStdout = false;
    return *this;
  }
};

class HelperRun {
 public:
  explicit HelperRun(HelperOptions options = {});
  // Kills the helper and joins the readers.
  ~HelperRun();
  HelperRun(const HelperRun&) = delete;
  HelperRun& operator=(const HelperRun&) = delete;

  pid_t pid() const noexcept { return process_.pid(); }
  Subprocess& process() noexcept { return process_; }

  // Starts the standard output reader of a run begun with readStdout = false.
  void releaseStdout();

  // Standard error's lines parsed as JSON (a line that does not parse becomes a string).
  std::vector<nlohmann::json> events() const;
  // Standard output's lines in watch mode.
  std::vector<nlohmann::json> stdoutEvents() const;
  std::size_t countOf(const std::string& type) const;
  std::vector<std::string> eventTypes() const;

  std::size_t frameCount() const;
  std::size_t sampleCount() const;
  std::vector<std::uint32_t> payloadSizes() const;
  bool framesBroken() const;
  // The last `count` samples as floats (full scale 1.0).
  std::vector<float> tail(std::size_t count) const;
  std::vector<float> samplesFrom(std::size_t first) const;

  // Polls `condition` every 10 ms until it holds or `seconds` pass.
  template <typename Condition>
  bool waitUntil(Condition condition, double seconds) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  // Waits for `seconds` of new samples after the call, then returns them.
  std::vector<float> nextSeconds(double seconds, double timeout = 10.0) const;

 private:
  void readLines(int fd, std::vector<nlohmann::json>& into);
  void readFrames();

  Subprocess process_;
  mutable std::mutex mutex_;
  std::condition_variable released_;
  bool stdoutReleased_ = false;
  bool stopping_ = false;
  std::vector<nlohmann::json> events_;
  std::vector<nlohmann::json> stdoutEvents_;
  FrameReader frames_;
  std::thread stderrReader_;
  std::thread stdoutReader_;
};

// Signal checks on 16 kHz samples.
double rms(const std::vector<float>& samples);
float peak(const std::vector<float>& samples);
double zeroCrossingHz(const std::vector<float>& samples, double sampleRate = 16000.0);
// Amplitude of the sine at `frequency` in the samples (Goertzel), full scale 1.0.
double toneAmplitude(const std::vector<float>& samples, double frequency,
                     double sampleRate = 16000.0);

}  // namespace talvorin::testing
