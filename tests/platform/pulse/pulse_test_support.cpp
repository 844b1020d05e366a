#include "pulse_test_support.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

extern char** environ;

namespace talvorin::testing {

bool pulseServerConfigured() {
  return std::getenv("PULSE_SERVER") != nullptr;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment) {
  std::vector<char*> arguments;
  for (const auto& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);
  std::vector<char*> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) variables.push_back(*entry);
  for (const auto& entry : environment) variables.push_back(const_cast<char*>(entry.c_str()));
  variables.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const int error =
      posix_spawnp(&pid_, arguments[0], &actions, nullptr, arguments.data(), variables.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) throw std::runtime_error("cannot start " + argv.front());
}

ChildProcess::~ChildProcess() {
  stop();
}

void ChildProcess::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  const bool ended = waitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 2.0);
  if (!ended) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
  pid_ = -1;
}

std::string commandOutput(const std::string& command) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[512];
  std::size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, count);
  pclose(pipe);
  while (!output.empty() && output.back() == '\n') output.pop_back();
  return output;
}

bool runCommand(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string toneFile(double frequency, double amplitude, int channels, double seconds) {
  // Inside the private server's directory when there is one, so that they go with it.
  const char* serverDirectory = std::getenv("PULSE_SERVER_DIR");
  const std::filesystem::path directory = serverDirectory != nullptr
                                              ? std::filesystem::path(serverDirectory)
                                              : std::filesystem::temp_directory_path();
  const auto path = directory / ("talvorin-tone-" + std::to_string(static_cast<int>(frequency)) +
                                 "-" + std::to_string(static_cast<int>(amplitude * 100)) + "-" +
                                 std::to_string(channels) + "-" +
                                 std::to_string(static_cast<int>(seconds)) + ".wav");
  if (!std::filesystem::exists(path)) {
    const std::string command = "sox -n -r 48000 -b 16 -c " + std::to_string(channels) + " '" +
                                path.string() + "' synth " + std::to_string(seconds) + " sine " +
                                std::to_string(frequency) + " vol " + std::to_string(amplitude);
    if (!runCommand(command)) throw std::runtime_error("sox cannot make " + path.string());
  }
  return path.string();
}

std::vector<std::string> playerCommand(const std::string& file) {
  return {"paplay", "--latency-msec=20", file};
}

double zeroCrossingFrequency(const std::vector<float>& samples, double sampleRate) {
  if (samples.size() < 2) return 0.0;
  std::size_t crossings = 0;
  for (std::size_t i = 1; i < samples.size(); ++i) {
    if ((samples[i - 1] < 0.0F) != (samples[i] < 0.0F)) ++crossings;
  }
  const double seconds = static_cast<double>(samples.size()) / sampleRate;
  return static_cast<double>(crossings) / 2.0 / seconds;
}

float peakLevel(const std::vector<float>& samples) {
  float peak = 0.0F;
  for (const float sample : samples) peak = std::max(peak, std::fabs(sample));
  return peak;
}

std::size_t CycleLog::cycleCount() {
  std::lock_guard lock(mutex);
  return cycleBytes.size();
}

std::vector<float> CycleLog::tail(std::size_t frames) {
  std::lock_guard lock(mutex);
  const std::size_t count = std::min(frames, firstChannel.size());
  return {firstChannel.end() - static_cast<std::ptrdiff_t>(count), firstChannel.end()};
}

void CycleLog::markStopped() {
  std::lock_guard lock(mutex);
  stopped = true;
}

OSStatus CycleLog::ioProc(AudioObjectID, const AudioTimeStamp*, const AudioBufferList* input,
                          const AudioTimeStamp*, AudioBufferList*, const AudioTimeStamp*,
                          void* clientData) {
  auto& log = *static_cast<CycleLog*>(clientData);
  std::lock_guard lock(log.mutex);
  if (log.stopped) ++log.callsAfterStop;
  if (input == nullptr || input->mNumberBuffers != 1 ||
      input->mBuffers[0].mNumberChannels != log.channels) {
    ++log.malformed;
    return noErr;
  }
  const AudioBuffer& buffer = input->mBuffers[0];
  log.cycleBytes.push_back(buffer.mDataByteSize);
  const auto* samples = static_cast<const float*>(buffer.mData);
  const std::size_t frames = buffer.mDataByteSize / (sizeof(float) * log.channels);
  for (std::size_t frame = 0; frame < frames; ++frame) {
    log.firstChannel.push_back(samples[frame * log.channels]);
  }
  return noErr;
}

}  // namespace talvorin::testing
