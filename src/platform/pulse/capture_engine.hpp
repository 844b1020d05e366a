// What runs behind a started aggregate device: record streams that feed its IO procedure.
#pragma once

#include <cstddef>
#include <cstdint>

#include <pulse/subscribe.h>

#include "platform/core_audio_types.hpp"

namespace talvorin::pulse {

// The IO procedure registered on an aggregate device, and the device it reports.
struct IOTarget {
  AudioObjectID device = kAudioObjectUnknown;
  AudioDeviceIOProc proc = nullptr;
  void* clientData = nullptr;
};

// Calls the IO procedure once per cycle with one interleaved float32 buffer, stamping the
// cycles with a running sample time. Mainloop thread, lock held.
class CycleDelivery {
 public:
  CycleDelivery(IOTarget target, UInt32 channels) : target_(target), channels_(channels) {}

  void operator()(const float* samples, std::size_t frames);

 private:
  IOTarget target_;
  UInt32 channels_;
  Float64 sampleTime_ = 0.0;
};

class CaptureEngine {
 public:
  virtual ~CaptureEngine() = default;

  // Lock held, caller's thread. noErr once audio will flow.
  virtual OSStatus start() = 0;
  // Lock held. Once it returns, the IO procedure is not running and will not be called again.
  virtual void stop() = 0;
  // Mainloop thread: a sink input appeared, changed or went away.
  virtual void onSinkInputEvent(pa_subscription_event_type_t /*operation*/,
                                std::uint32_t /*index*/) {}
};

}  // namespace talvorin::pulse
