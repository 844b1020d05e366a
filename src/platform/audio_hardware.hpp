// The audio hardware boundary. Its operations have the shape of the Core Audio calls the
// helper makes, so that the logic around each call (sizes, statuses, the texts thrown) stays
// in the helper's own code, identical on every platform, and each backend is a thin
// translation: Core Audio on macOS, PulseAudio on Linux, the simulated host in tests.
//
// Every Core Audio-shaped operation returns an OSStatus, 0 for success. Backends never throw.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/core_audio_types.hpp"

namespace talvorin {

class DispatchQueue;

// Called with the number of changed addresses and the addresses, on the queue given at
// registration.
using PropertyListener =
    std::function<void(UInt32 addressCount, const AudioObjectPropertyAddress* addresses)>;

// What a process tap records: the portable form of a CATapDescription.
struct TapDescription {
  enum class Kind {
    // Every process in `processes` mixed down to one channel.
    monoMixdownOfProcesses,
    // Stream `stream` of the output device `deviceUID`, with `excludedProcesses` left out.
    deviceStream,
  };

  Kind kind = Kind::deviceStream;
  std::vector<AudioObjectID> processes;
  std::vector<AudioObjectID> excludedProcesses;
  std::string deviceUID;
  std::int64_t stream = 0;

  std::string name;
  std::string uuid;  // canonical upper-case text
  bool isPrivate = false;
  int muteBehavior = 0;  // 0 unmuted, 1 muted, 2 muted when tapped
};

// One entry of the aggregate device's tap list ("uid", "drift").
struct AggregateSubTap {
  std::string uid;
  bool driftCompensation = false;
};

// The aggregate-device dictionary, key for key: "name", "uid", "private", "tapautostart",
// "taps". Nothing else is ever put in it.
struct AggregateDeviceDescription {
  std::string name;
  std::string uid;
  bool isPrivate = false;
  bool tapAutoStart = false;
  std::vector<AggregateSubTap> taps;
};

class AudioHardware {
 public:
  virtual ~AudioHardware() = default;

  // AudioObjectGetPropertyDataSize.
  virtual OSStatus getPropertyDataSize(AudioObjectID object,
                                       const AudioObjectPropertyAddress& address,
                                       UInt32 qualifierSize, const void* qualifier,
                                       UInt32& outDataSize) = 0;

  // AudioObjectGetPropertyData for plain values. ioDataSize is the buffer's size on entry
  // and the size written on return.
  virtual OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                   UInt32 qualifierSize, const void* qualifier, UInt32& ioDataSize,
                                   void* outData) = 0;

  // AudioObjectGetPropertyData for a string-valued property (a CFString on macOS). The
  // backend releases the platform's string on every path; a null string reads as "".
  virtual OSStatus getPropertyString(AudioObjectID object,
                                     const AudioObjectPropertyAddress& address,
                                     std::string& outValue) = 0;

  // AudioObjectAddPropertyListenerBlock: on success the listener runs on `queue` after every
  // change of the property. The backend keeps the queue alive as long as the listener.
  virtual OSStatus addPropertyListener(AudioObjectID object,
                                       const AudioObjectPropertyAddress& address,
                                       std::shared_ptr<DispatchQueue> queue,
                                       PropertyListener listener) = 0;

  // AudioHardwareCreateProcessTap / AudioHardwareDestroyProcessTap.
  virtual OSStatus createProcessTap(const TapDescription& description, AudioObjectID& outTapID) = 0;
  virtual OSStatus destroyProcessTap(AudioObjectID tapID) = 0;

  // AudioHardwareCreateAggregateDevice / AudioHardwareDestroyAggregateDevice.
  virtual OSStatus createAggregateDevice(const AggregateDeviceDescription& description,
                                         AudioObjectID& outDeviceID) = 0;
  virtual OSStatus destroyAggregateDevice(AudioObjectID deviceID) = 0;

  // AudioDeviceCreateIOProcID / AudioDeviceDestroyIOProcID / AudioDeviceStart /
  // AudioDeviceStop. Once started, the backend calls `proc` once per IO cycle, on its IO
  // thread, with `clientData` and the cycle's input buffers.
  virtual OSStatus createIOProcID(AudioObjectID deviceID, AudioDeviceIOProc proc, void* clientData,
                                  AudioDeviceIOProcID& outProcID) = 0;
  virtual OSStatus destroyIOProcID(AudioObjectID deviceID, AudioDeviceIOProcID procID) = 0;
  virtual OSStatus deviceStart(AudioObjectID deviceID, AudioDeviceIOProcID procID) = 0;
  virtual OSStatus deviceStop(AudioObjectID deviceID, AudioDeviceIOProcID procID) = 0;

  // The bundle identifier of the running application with this process ID (AppKit's
  // NSRunningApplication on macOS); nothing when there is no such application or it has no
  // identifier.
  virtual std::optional<std::string> runningApplicationBundleID(std::int32_t pid) = 0;
};

}  // namespace talvorin
