#include "e2e_support.hpp"

#include <signal.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

namespace talvorin::testing {

LoadedModule::LoadedModule(const std::string& arguments) {
  index_ = commandOutput("pactl load-module " + arguments + " 2>/dev/null");
}

LoadedModule::~LoadedModule() {
  if (loaded()) runCommand("pactl unload-module " + index_);
}

ExtraSink::ExtraSink(const std::string& name)
    : module_("module-null-sink sink_name=" + name + " rate=48000 channels=2") {
  if (!ready()) return;
  keeper_ = std::make_unique<ChildProcess>(std::vector<std::string>{
      "sh", "-c", "exec pacat --playback --latency-msec=10 -d " + name + " </dev/zero"});
}

std::string defaultSink() {
  return commandOutput("pactl get-default-sink");
}

bool hasClientWithPid(pid_t pid) {
  return runCommand("pactl list clients | grep -q 'application.process.id = \"" +
                    std::to_string(pid) + "\"'");
}

std::unique_ptr<ChildProcess> playTone(double frequency, double amplitude,
                                       const std::string& sink) {
  std::vector<std::string> argv{"paplay", "--latency-msec=20"};
  if (!sink.empty()) argv.push_back("--device=" + sink);
  argv.push_back(toneFile(frequency, amplitude, 2));
  auto player = std::make_unique<ChildProcess>(argv);
  waitFor([&] { return hasClientWithPid(player->pid()); });
  return player;
}

BareServer::BareServer() {
  char pattern[] = "/tmp/talvorin-bare.XXXXXX";
  if (mkdtemp(pattern) == nullptr) return;
  directory_ = pattern;
  server_ = std::make_unique<Subprocess>(
      std::vector<std::string>{
          "/usr/bin/pulseaudio", "-n", "--daemonize=no", "--system=no", "--use-pid-file=no",
          "--exit-idle-time=-1", "--disallow-exit", "--high-priority=no", "--realtime=no",
          "--log-target=file:" + directory_ + "/log",
          "--load=module-native-protocol-unix socket=" + directory_ + "/native auth-anonymous=1"},
      std::vector<std::string>{"PULSE_RUNTIME_PATH=" + directory_, "HOME=" + directory_,
                               "XDG_CONFIG_HOME=" + directory_});
  ready_ = waitFor(
      [&] { return runCommand("PULSE_SERVER=unix:" + directory_ + "/native pactl info"); }, 10.0);
}

BareServer::~BareServer() {
  if (server_) {
    server_->signal(SIGTERM);
    if (!server_->waitForExit(std::chrono::seconds(2))) server_->signal(SIGKILL);
    server_->waitForExit(std::chrono::seconds(2));
  }
  if (!directory_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }
}

}  // namespace talvorin::testing
