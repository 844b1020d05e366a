// The audio hardware boundary on a PulseAudio server (PipeWire's pulse server included),
// through libpulse and its threaded mainloop.
//
// Object model: the system object (1); one object per sink, named by the sink's name; one
// per process that has a client on the server; one per tap and per aggregate device made
// here. IDs are handed out once and never reused; a sink or process keeps its ID for the life
// of the backend. A started aggregate device records with libpulse streams and calls its IO
// procedure on the mainloop thread.
//
// Threads: every call may come from any thread except the IO procedure's own (the mainloop
// thread), where the blocking calls answer kWrongThread instead of deadlocking.
#pragma once

#include <memory>

#include "platform/audio_hardware.hpp"

namespace talvorin {

class PulseAudioHardware final : public AudioHardware {
 public:
  // Connects to the server the environment names (PULSE_SERVER and libpulse's other rules).
  // Never throws: with no server, every call answers pulse::kServerUnreachable.
  PulseAudioHardware();
  ~PulseAudioHardware() override;

  PulseAudioHardware(const PulseAudioHardware&) = delete;
  PulseAudioHardware& operator=(const PulseAudioHardware&) = delete;

  OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                               UInt32 qualifierSize, const void* qualifier,
                               UInt32& outDataSize) override;
  OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                           UInt32 qualifierSize, const void* qualifier, UInt32& ioDataSize,
                           void* outData) override;
  OSStatus getPropertyString(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             std::string& outValue) override;
  OSStatus addPropertyListener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                               std::shared_ptr<DispatchQueue> queue,
                               PropertyListener listener) override;
  OSStatus createProcessTap(const TapDescription& description, AudioObjectID& outTapID) override;
  OSStatus destroyProcessTap(AudioObjectID tapID) override;
  OSStatus createAggregateDevice(const AggregateDeviceDescription& description,
                                 AudioObjectID& outDeviceID) override;
  OSStatus destroyAggregateDevice(AudioObjectID deviceID) override;
  OSStatus createIOProcID(AudioObjectID deviceID, AudioDeviceIOProc proc, void* clientData,
                          AudioDeviceIOProcID& outProcID) override;
  OSStatus destroyIOProcID(AudioObjectID deviceID, AudioDeviceIOProcID procID) override;
  OSStatus deviceStart(AudioObjectID deviceID, AudioDeviceIOProcID procID) override;
  OSStatus deviceStop(AudioObjectID deviceID, AudioDeviceIOProcID procID) override;
  // The executable's name (/proc/<pid>/comm); Linux has no bundle identifiers.
  std::optional<std::string> runningApplicationBundleID(std::int32_t pid) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

std::unique_ptr<AudioHardware> makePulseAudioHardware();

}  // namespace talvorin
