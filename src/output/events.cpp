#include "output/events.hpp"

#include <cmath>
#include <cstdint>
#include <vector>

#include "output/fd_write.hpp"
#include "output/helper_error.hpp"

namespace talvorin {

bool isValidEvent(const Event& event) noexcept {
  if (!event.is_object()) return false;
  // Iterative walk: an event is small, but its depth is the caller's to choose.
  std::vector<const Event*> pending{&event};
  while (!pending.empty()) {
    const Event* value = pending.back();
    pending.pop_back();
    if (value->is_number_float() && !std::isfinite(value->get<double>())) return false;
    if (value->is_structured()) {
      for (const auto& member : *value) pending.push_back(&member);
    }
  }
  return true;
}

void emitEvent(const Event& event, int fd) noexcept {
  try {
    if (!isValidEvent(event)) return;
    // Strict UTF-8 handling makes an invalid string a serialisation failure, which is
    // swallowed like an invalid event.
    std::string line = event.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
    line.push_back('\n');
    (void)writeAll(fd, line.data(), line.size());
  } catch (...) {
    // Nothing is reported about a line that could not be written.
  }
}

void emitError(std::string_view code, std::string_view message, int fd) noexcept {
  try {
    emitEvent(Event{{"type", "error"}, {"code", code}, {"message", message}}, fd);
  } catch (...) {
  }
}

std::string fourCC(OSStatus status) {
  const auto pattern = static_cast<std::uint32_t>(status);
  std::string text(4, ' ');
  for (int index = 0; index < 4; ++index) {
    const auto byte = static_cast<unsigned char>(pattern >> (24 - 8 * index));
    if (byte < 0x20 || byte > 0x7E) return std::to_string(status);
    text[static_cast<std::size_t>(index)] = static_cast<char>(byte);
  }
  return text;
}

void checkOSStatus(OSStatus status, std::string_view operation) {
  if (status == 0) return;
  std::string description(operation);
  description += " failed with OSStatus ";
  description += std::to_string(status);
  description += " (";
  description += fourCC(status);
  description += ").";
  throw HelperError(std::move(description));
}

}  // namespace talvorin
