#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/audio_hardware.hpp"

namespace talvorin {

inline constexpr const char* kIncludePIDVariable = "TALVORIN_AUDIO_INCLUDE_PID";

// The process IDs named in a TALVORIN_AUDIO_INCLUDE_PID text, in order: comma-separated
// pieces, trimmed of white space and line breaks, each a signed 32-bit decimal integer. A
// piece that does not parse, and any value below 1, is dropped without a word.
std::vector<std::int32_t> parseProcessIDList(std::string_view text);

// One piece: an optional sign and one or more ASCII digits, within the signed 32-bit range.
std::optional<std::int32_t> parseProcessID(std::string_view piece);

// The piece without leading and trailing white space or line breaks (Unicode's, not only
// ASCII's: a pasted no-break space is trimmed too).
std::string_view trimWhitespaceAndNewlines(std::string_view text);

// The Core Audio process objects of the processes named in the environment, in order, read
// afresh on every call. Empty when none are named. Throws HelperError when a process has no
// process object; nothing is returned then, not even the objects already found.
std::vector<AudioObjectID> targetProcessObjectsFromEnvironment(AudioHardware& hardware);

}  // namespace talvorin
