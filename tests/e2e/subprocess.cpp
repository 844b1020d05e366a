#include "subprocess.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

extern char** environ;

namespace talvorin::testing {

namespace {

std::string variableName(const std::string& entry) {
  return entry.substr(0, entry.find('='));
}

}  // namespace

Subprocess::Subprocess(const std::vector<std::string>& argv,
                       const std::vector<std::string>& environment) {
  int outPipe[2];
  int errPipe[2];
  // Close-on-exec, so that no other child (a player started later) inherits the read ends and
  // keeps a pipe open after the test closes it.
  if (pipe2(outPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    throw std::runtime_error("pipe failed");
  }

  std::vector<char*> arguments;
  for (const auto& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);

  std::vector<std::string> overridden;
  for (const auto& entry : environment) overridden.push_back(variableName(entry));
  std::vector<char*> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    bool replaced = false;
    for (const auto& name : overridden) replaced = replaced || variableName(*entry) == name;
    if (!replaced) variables.push_back(*entry);
  }
  for (const auto& entry : environment) variables.push_back(const_cast<char*>(entry.c_str()));
  variables.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  const int error =
      posix_spawn(&pid_, arguments[0], &actions, nullptr, arguments.data(), variables.data());
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  stdout_ = outPipe[0];
  stderr_ = errPipe[0];
  if (error != 0) {
    close(stdout_);
    close(stderr_);
    throw std::runtime_error("cannot start " + argv.front());
  }
}

Subprocess::~Subprocess() {
  if (!status_) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  closeStdout();
  if (stderr_ >= 0) close(stderr_);
}

void Subprocess::closeStdout() {
  if (stdout_ >= 0) close(stdout_);
  stdout_ = -1;
}

void Subprocess::signal(int number) {
  if (!status_) kill(pid_, number);
}

std::optional<int> Subprocess::waitForExit(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!status_) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = status;
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return status_;
}

}  // namespace talvorin::testing
