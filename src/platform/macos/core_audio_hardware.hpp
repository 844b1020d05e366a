// The audio hardware boundary on macOS: each operation is the Core Audio call of the same
// shape, with no decisions of its own. Sizes, statuses and what they mean are the callers'
// business, in the portable code above the boundary.
//
// Plain C++: the Objective-C half (process taps, the running-application lookup) lives in
// core_audio_taps.mm, and no Objective-C type appears here.
#pragma once

#include <memory>

#include "platform/audio_hardware.hpp"

namespace talvorin {

class CoreAudioHardware final : public AudioHardware {
 public:
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

  // Defined in core_audio_taps.mm.
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

  // Defined in core_audio_taps.mm.
  std::optional<std::string> runningApplicationBundleID(std::int32_t pid) override;
};

std::unique_ptr<AudioHardware> makeCoreAudioHardware();

}  // namespace talvorin
