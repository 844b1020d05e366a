// A child process with its standard output and standard error on pipes, for tests that run a
// built program: spawn, signal, close the parent's end of a pipe, wait for the end with a
// deadline. Standard input is /dev/null.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace talvorin::testing {

class Subprocess {
 public:
  // `environment` entries ("NAME=value") replace or add to the test's own environment.
  Subprocess(const std::vector<std::string>& argv, const std::vector<std::string>& environment);
  // Kills the child (SIGKILL) if it still runs, reaps it and closes the pipes.
  ~Subprocess();
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  pid_t pid() const noexcept { return pid_; }
  int stdoutFd() const noexcept { return stdout_; }
  int stderrFd() const noexcept { return stderr_; }

  // Closes the parent's read end of the child's standard output, as a reader that goes away.
  void closeStdout();
  void signal(int number);
  // The raw wait status once the child has ended, or nothing when `timeout` passes first.
  std::optional<int> waitForExit(std::chrono::milliseconds timeout);

 private:
  pid_t pid_ = -1;
  int stdout_ = -1;
  int stderr_ = -1;
  std::optional<int> status_;
};

}  // namespace talvorin::testing
