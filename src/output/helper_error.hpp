#pragma once

#include <exception>
#include <string>

namespace talvorin {

// The helper's one error type. Its description is a finished sentence and the whole of its
// textual form: what an event's "message" shows, with nothing added.
class HelperError : public std::exception {
 public:
  explicit HelperError(std::string description) : description_(std::move(description)) {}

  const std::string& description() const noexcept { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  std::string description_;
};

}  // namespace talvorin
