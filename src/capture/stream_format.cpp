#include "capture/stream_format.hpp"

#include <cmath>
#include <cstdint>

namespace talvorin {

AudioStreamBasicDescription fallbackStreamDescription(double sampleRate) {
  AudioStreamBasicDescription format{};
  format.mSampleRate = sampleRate;
  format.mFormatID = kAudioFormatLinearPCM;
  format.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
  format.mBytesPerPacket = 4;
  format.mFramesPerPacket = 1;
  format.mBytesPerFrame = 4;
  format.mChannelsPerFrame = 1;
  format.mBitsPerChannel = 32;
  format.mReserved = 0;
  return format;
}

AudioStreamBasicDescription readStreamDescription(AudioHardware& hardware, AudioObjectID deviceID,
                                                  int eventFd) {
  AudioStreamBasicDescription format{};
  UInt32 size = sizeof format;
  const OSStatus status = hardware.getPropertyData(
      deviceID, propertyAddress(kAudioDevicePropertyStreamFormat, kAudioObjectPropertyScopeInput),
      0, nullptr, size, &format);
  if (status == noErr && format.mFormatID == kAudioFormatLinearPCM) return format;

  Float64 rate = 48000.0;
  UInt32 rateSize = sizeof rate;
  if (hardware.getPropertyData(
          deviceID,
          propertyAddress(kAudioDevicePropertyNominalSampleRate, kAudioObjectPropertyScopeGlobal),
          0, nullptr, rateSize, &rate) != noErr) {
    rate = 48000.0;
  }
  emitEvent(Event{{"type", "warning"},
                  {"code", "format_probe_failed"},
                  {"message", "Falling back to float32 mono stream format."},
                  {"status", status}},
            eventFd);
  return fallbackStreamDescription(rate);
}

Event formatEvent(const AudioStreamBasicDescription& format) {
  // 2^63 is exact in a double; every double in [-2^63, 2^63) truncates to an int64.
  constexpr double kLimit = 9223372036854775808.0;
  const double rate = format.mSampleRate;
  const std::int64_t reportedRate = (std::isfinite(rate) && rate >= -kLimit && rate < kLimit)
                                        ? static_cast<std::int64_t>(rate)
                                        : 0;
  return Event{{"type", "format"},
               {"sampleRate", reportedRate},
               {"channels", format.mChannelsPerFrame},
               {"bitsPerChannel", format.mBitsPerChannel},
               {"bytesPerFrame", format.mBytesPerFrame},
               {"formatFlags", format.mFormatFlags}};
}

}  // namespace talvorin
