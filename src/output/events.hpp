// Event lines: one compact JSON object and a line feed, written straight to a file
// descriptor. Standard error in capture mode, standard output in watch mode.
#pragma once

#include <unistd.h>

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/core_audio_types.hpp"

namespace talvorin {

using Event = nlohmann::json;

// True when the event is a JSON object whose every number is finite, all the way down.
bool isValidEvent(const Event& event) noexcept;

// Writes the event as one line in one write (JSON text and its line feed together), so lines
// from different threads never interleave. An event that is not valid, or cannot be
// serialised, writes nothing at all. Never throws.
void emitEvent(const Event& event, int fd = STDERR_FILENO) noexcept;

// The shared "error" event: {"type":"error","code":...,"message":...}.
void emitError(std::string_view code, std::string_view message, int fd = STDERR_FILENO) noexcept;

// Throws HelperError "<operation> failed with OSStatus <status> (<fourCC>)." unless status
// is 0.
void checkOSStatus(OSStatus status, std::string_view operation);

// The status as four characters when all four bytes are printable ASCII, else in signed
// decimal.
std::string fourCC(OSStatus status);

}  // namespace talvorin
