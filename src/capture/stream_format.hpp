// The input format of an aggregate device: probed once per build, since IO cycles carry no
// format of their own, and reported in a "format" event.
#pragma once

#include "output/events.hpp"
#include "platform/audio_hardware.hpp"

namespace talvorin {

// Mono 32-bit float at the given rate: what decoding assumes when the device will not say.
AudioStreamBasicDescription fallbackStreamDescription(double sampleRate);

// The device's input stream format when it reads as linear PCM; otherwise the fallback at
// the device's nominal rate (48000 Hz when that cannot be read either), announced with a
// "format_probe_failed" warning on `eventFd`. Never throws.
AudioStreamBasicDescription readStreamDescription(AudioHardware& hardware, AudioObjectID deviceID,
                                                  int eventFd);

// The "format" event. A rate that is not finite or does not fit a signed 64-bit integer has
// no integer to report and is written as 0.
Event formatEvent(const AudioStreamBasicDescription& format);

}  // namespace talvorin
