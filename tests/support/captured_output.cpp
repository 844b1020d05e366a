#include "support/captured_output.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <gtest/gtest.h>

namespace talvorin::testing {

CapturedOutput::CapturedOutput() {
  char path[] = "/tmp/talvorin-output-XXXXXX";
  fd_ = ::mkstemp(path);
  if (fd_ < 0) throw std::runtime_error("mkstemp failed");
  ::unlink(path);
}

CapturedOutput::~CapturedOutput() {
  if (fd_ >= 0) ::close(fd_);
}

std::string CapturedOutput::contents() const {
  std::string text;
  char buffer[65536];
  off_t offset = 0;
  for (;;) {
    const ssize_t got = ::pread(fd_, buffer, sizeof buffer, offset);
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
    offset += got;
  }
  return text;
}

std::vector<std::string> CapturedOutput::lines() const {
  std::vector<std::string> result;
  const std::string text = contents();
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      result.push_back(text.substr(start));
      break;
    }
    result.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return result;
}

std::vector<nlohmann::json> CapturedOutput::events() const {
  std::vector<nlohmann::json> result;
  for (const auto& line : lines()) {
    try {
      result.push_back(nlohmann::json::parse(line));
    } catch (const std::exception& error) {
      ADD_FAILURE() << "not a JSON line: " << line << " (" << error.what() << ")";
    }
  }
  return result;
}

std::vector<nlohmann::json> CapturedOutput::eventsOfType(const std::string& type) const {
  std::vector<nlohmann::json> result;
  for (auto& event : events()) {
    if (event.value("type", "") == type) result.push_back(std::move(event));
  }
  return result;
}

void CapturedOutput::clear() {
  if (::ftruncate(fd_, 0) != 0) throw std::runtime_error("ftruncate failed");
  ::lseek(fd_, 0, SEEK_SET);
}

}  // namespace talvorin::testing
