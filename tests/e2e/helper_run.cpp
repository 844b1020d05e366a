#include "helper_run.hpp"

#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <numbers>

namespace talvorin::testing {

std::string helperPath() {
  return TALVORIN_HELPER_PATH;
}

namespace {

std::vector<std::string> commandLine(const HelperOptions& options) {
  std::vector<std::string> argv{helperPath()};
  argv.insert(argv.end(), options.arguments.begin(), options.arguments.end());
  return argv;
}

}  // namespace

HelperRun::HelperRun(HelperOptions options)
    : process_(commandLine(options), options.environment), stdoutReleased_(options.readStdout) {
  stderrReader_ = std::thread([this] { readLines(process_.stderrFd(), events_); });
  if (options.watchMode) {
    stdoutReader_ = std::thread([this] { readLines(process_.stdoutFd(), stdoutEvents_); });
  } else {
    stdoutReader_ = std::thread([this] { readFrames(); });
  }
}

HelperRun::~HelperRun() {
  process_.signal(SIGKILL);
  process_.waitForExit(std::chrono::seconds(10));
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  released_.notify_all();
  // The child is gone, so both pipes reach end of file and the readers end.
  stderrReader_.join();
  stdoutReader_.join();
}

void HelperRun::releaseStdout() {
  {
    std::lock_guard lock(mutex_);
    stdoutReleased_ = true;
  }
  released_.notify_all();
}

void HelperRun::readLines(int fd, std::vector<nlohmann::json>& into) {
  std::string pending;
  char buffer[4096];
  for (;;) {
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count <= 0) break;
    pending.append(buffer, static_cast<std::size_t>(count));
    std::size_t end = 0;
    while ((end = pending.find('\n')) != std::string::npos) {
      const std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
      std::lock_guard lock(mutex_);
      into.push_back(parsed.is_discarded() ? nlohmann::json(line) : std::move(parsed));
    }
  }
}

void HelperRun::readFrames() {
  {
    std::unique_lock lock(mutex_);
    released_.wait(lock, [this] { return stdoutReleased_ || stopping_; });
    if (!stdoutReleased_) return;
  }
  const int fd = process_.stdoutFd();
  std::uint8_t buffer[8192];
  for (;;) {
    // An odd-sized buffer now and then, so that lengths and samples split across reads.
    const ssize_t count = read(fd, buffer, sizeof buffer - 3);
    if (count <= 0) break;
    std::lock_guard lock(mutex_);
    frames_.feed(buffer, static_cast<std::size_t>(count));
  }
}

std::vector<nlohmann::json> HelperRun::events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::vector<nlohmann::json> HelperRun::stdoutEvents() const {
  std::lock_guard lock(mutex_);
  return stdoutEvents_;
}

std::size_t HelperRun::countOf(const std::string& type) const {
  std::lock_guard lock(mutex_);
  std::size_t count = 0;
  for (const auto& event : events_) count += event.is_object() && event.value("type", "") == type;
  return count;
}

std::vector<std::string> HelperRun::eventTypes() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> types;
  for (const auto& event : events_) {
    types.push_back(event.is_object() ? event.value("type", "?") : "(not json)");
  }
  return types;
}

std::size_t HelperRun::frameCount() const {
  std::lock_guard lock(mutex_);
  return frames_.payloadSizes().size();
}

std::size_t HelperRun::sampleCount() const {
  std::lock_guard lock(mutex_);
  return frames_.samples().size();
}

std::vector<std::uint32_t> HelperRun::payloadSizes() const {
  std::lock_guard lock(mutex_);
  return frames_.payloadSizes();
}

bool HelperRun::framesBroken() const {
  std::lock_guard lock(mutex_);
  return frames_.broken();
}

std::vector<float> HelperRun::samplesFrom(std::size_t first) const {
  std::lock_guard lock(mutex_);
  const auto& samples = frames_.samples();
  std::vector<float> result;
  for (std::size_t i = first; i < samples.size(); ++i) {
    result.push_back(static_cast<float>(samples[i]) / 32768.0F);
  }
  return result;
}

std::vector<float> HelperRun::tail(std::size_t count) const {
  const std::size_t total = sampleCount();
  return samplesFrom(total > count ? total - count : 0);
}

std::vector<float> HelperRun::nextSeconds(double seconds, double timeout) const {
  const std::size_t first = sampleCount();
  const auto wanted = static_cast<std::size_t>(seconds * 16000.0);
  waitUntil([&] { return sampleCount() >= first + wanted; }, timeout);
  auto samples = samplesFrom(first);
  if (samples.size() > wanted) samples.resize(wanted);
  return samples;
}

double rms(const std::vector<float>& samples) {
  if (samples.empty()) return 0.0;
  double sum = 0.0;
  for (const float sample : samples) sum += static_cast<double>(sample) * sample;
  return std::sqrt(sum / static_cast<double>(samples.size()));
}

float peak(const std::vector<float>& samples) {
  float result = 0.0F;
  for (const float sample : samples) result = std::max(result, std::fabs(sample));
  return result;
}

double zeroCrossingHz(const std::vector<float>& samples, double sampleRate) {
  if (samples.size() < 2) return 0.0;
  std::size_t crossings = 0;
  for (std::size_t i = 1; i < samples.size(); ++i) {
    crossings += (samples[i - 1] < 0.0F) != (samples[i] < 0.0F);
  }
  return static_cast<double>(crossings) / 2.0 / (static_cast<double>(samples.size()) / sampleRate);
}

double toneAmplitude(const std::vector<float>& samples, double frequency, double sampleRate) {
  if (samples.empty()) return 0.0;
  const double coefficient = 2.0 * std::cos(2.0 * std::numbers::pi * frequency / sampleRate);
  double previous = 0.0;
  double beforePrevious = 0.0;
  for (const float sample : samples) {
    const double current = sample + coefficient * previous - beforePrevious;
    beforePrevious = previous;
    previous = current;
  }
  const double power = previous * previous + beforePrevious * beforePrevious -
                       coefficient * previous * beforePrevious;
  return 2.0 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(samples.size());
}

}  // namespace talvorin::testing
