// The backend's own failure statuses. Each is four readable characters, so that the helper's
// checkOSStatus message ("... failed with OSStatus N ('conn').") says what went wrong.
#pragma once

#include "platform/core_audio_types.hpp"

namespace talvorin::pulse {

constexpr OSStatus statusCode(const char (&code)[5]) {
  return static_cast<OSStatus>(detail::fourCharCode(code));
}

// No server could be reached at start-up, or the connection was lost since.
inline constexpr OSStatus kServerUnreachable = statusCode("conn");
// The server did not answer within the wait limit.
inline constexpr OSStatus kServerTimedOut = statusCode("time");
// The server knows no sink of that name (a device tap's device UID).
inline constexpr OSStatus kNoSuchSink = statusCode("sink");
// The object ID names no object of the kind the call needs.
inline constexpr OSStatus kNoSuchObject = statusCode("obj?");
// The object does not have this property (selector or scope).
inline constexpr OSStatus kUnknownProperty = statusCode("prop");
// The caller's buffer or qualifier is too small for the value.
inline constexpr OSStatus kBadSize = statusCode("size");
// No tap has the UID an aggregate device description names.
inline constexpr OSStatus kUnknownTap = statusCode("tap?");
// A description or argument the backend cannot honour (empty process list, stream other
// than 0, a second IO procedure, an IO procedure ID that was never created).
inline constexpr OSStatus kBadArgument = statusCode("arg?");
// The server refused or ended a record stream.
inline constexpr OSStatus kStreamFailed = statusCode("strm");
// A blocking call made on the backend's own event thread, where waiting would deadlock.
inline constexpr OSStatus kWrongThread = statusCode("thrd");
// A listener on anything but the system object's default output device.
inline constexpr OSStatus kListenerUnsupported = statusCode("lsnr");

}  // namespace talvorin::pulse
