#include "discovery/target_processes.hpp"

#include <cstdlib>
#include <string>

#include "output/events.hpp"
#include "output/helper_error.hpp"

namespace talvorin {
namespace {

// White space and line breaks as the platform's text APIs define them: Unicode's
// White_Space characters.
bool isWhitespaceOrNewline(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

bool isContinuationByte(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// Decodes the UTF-8 sequence text[begin, end). Anything malformed decodes to a value that
// is not white space, so it is never trimmed.
char32_t decode(std::string_view text, std::size_t begin, std::size_t end) {
  const auto lead = static_cast<unsigned char>(text[begin]);
  const std::size_t length = end - begin;
  if (length == 1) return lead < 0x80 ? lead : 0xFFFD;
  char32_t value = 0;
  if (length == 2 && (lead & 0xE0) == 0xC0)
    value = lead & 0x1F;
  else if (length == 3 && (lead & 0xF0) == 0xE0)
    value = lead & 0x0F;
  else if (length == 4 && (lead & 0xF8) == 0xF0)
    value = lead & 0x07;
  else
    return 0xFFFD;
  for (std::size_t i = begin + 1; i < end; ++i) {
    value = (value << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
  }
  return value;
}

}  // namespace

std::string_view trimWhitespaceAndNewlines(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t next = begin + 1;
    while (next < text.size() && next - begin < 4 &&
           isContinuationByte(static_cast<unsigned char>(text[next]))) {
      ++next;
    }
    if (!isWhitespaceOrNewline(decode(text, begin, next))) break;
    begin = next;
  }
  std::size_t end = text.size();
  while (end > begin) {
    std::size_t start = end - 1;
    while (start > begin && end - start < 4 &&
           isContinuationByte(static_cast<unsigned char>(text[start]))) {
      --start;
    }
    if (!isWhitespaceOrNewline(decode(text, start, end))) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

std::optional<std::int32_t> parseProcessID(std::string_view piece) {
  bool negative = false;
  if (!piece.empty() && (piece.front() == '+' || piece.front() == '-')) {
    negative = piece.front() == '-';
    piece.remove_prefix(1);
  }
  if (piece.empty()) return std::nullopt;
  // 2^31 fits; anything larger is out of range for either sign.
  constexpr std::int64_t kLimit = std::int64_t{1} << 31;
  std::int64_t magnitude = 0;
  for (const char c : piece) {
    if (c < '0' || c > '9') return std::nullopt;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > kLimit) return std::nullopt;
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value > kLimit - 1) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

std::vector<std::int32_t> parseProcessIDList(std::string_view text) {
  std::vector<std::int32_t> processIDs;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    const std::string_view piece = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    if (piece.empty()) continue;
    const auto processID = parseProcessID(trimWhitespaceAndNewlines(piece));
    if (processID && *processID > 0) processIDs.push_back(*processID);
  }
  return processIDs;
}

std::vector<AudioObjectID> targetProcessObjectsFromEnvironment(AudioHardware& hardware) {
  const char* value = std::getenv(kIncludePIDVariable);
  const std::vector<std::int32_t> processIDs = parseProcessIDList(value ? value : "");

  const auto address = propertyAddress(kAudioHardwarePropertyTranslatePIDToProcessObject,
                                       kAudioObjectPropertyScopeGlobal);
  std::vector<AudioObjectID> objects;
  objects.reserve(processIDs.size());
  for (const std::int32_t processID : processIDs) {
    AudioObjectID object = kAudioObjectUnknown;
    UInt32 size = sizeof object;
    checkOSStatus(hardware.getPropertyData(kAudioObjectSystemObject, address, sizeof processID,
                                           &processID, size, &object),
                  "AudioObjectGetPropertyData(process object)");
    if (object == kAudioObjectUnknown) {
      throw HelperError("No Core Audio process object is available for PID " +
                        std::to_string(processID) + ".");
    }
    objects.push_back(object);
  }
  return objects;
}

}  // namespace talvorin
