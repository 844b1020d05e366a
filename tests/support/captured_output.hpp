// A file descriptor that tests hand to code that writes a standard stream, and read back
// afterwards. Backed by an unlinked temporary file, so a writer never blocks on a full pipe.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace talvorin::testing {

class CapturedOutput {
 public:
  CapturedOutput();
  ~CapturedOutput();
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;

  int fd() const { return fd_; }

  // Everything written so far.
  std::string contents() const;

  // The contents split at line feeds; a final line without its line feed is kept too, so a
  // test can see it. Each entry excludes its line feed.
  std::vector<std::string> lines() const;

  // Each line parsed as JSON (a line that does not parse fails the calling test).
  std::vector<nlohmann::json> events() const;

  // The events whose "type" is the given one.
  std::vector<nlohmann::json> eventsOfType(const std::string& type) const;

  // Forget what was written so far.
  void clear();

 private:
  int fd_ = -1;
};

}  // namespace talvorin::testing
