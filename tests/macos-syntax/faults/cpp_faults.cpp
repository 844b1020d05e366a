// Mistakes the macOS build would reject, each switched on by TALVORIN_FAULT=<n>. Without a
// fault the file compiles, so the check's failure with one is that fault's doing alone.
//
// fault 1: a process tap destroyed from C++, where the SDK does not declare the call
// fault 2: a property address passed by value instead of by pointer
// fault 3: a misspelt aggregate-device key
// fault 4: a property listener block with the wrong parameter types
// fault 5: an IO procedure whose input buffer list is not const
// fault 6: portable code using a helper that exists only where the SDK is absent
#include <CoreAudio/AudioHardware.h>
#include <CoreAudio/AudioHardwareTapping.h>
#include <CoreFoundation/CoreFoundation.h>

#include "platform/core_audio_types.hpp"

namespace talvorin::faults {

OSStatus destroyTapFromCpp(AudioObjectID tapID) {
#if TALVORIN_FAULT == 1
  return AudioHardwareDestroyProcessTap(tapID);
#else
  return AudioHardwareDestroyAggregateDevice(tapID);
#endif
}

OSStatus readProperty(AudioObjectID object, const AudioObjectPropertyAddress& address, UInt32& size,
                      void* data) {
#if TALVORIN_FAULT == 2
  return AudioObjectGetPropertyData(object, address, 0, nullptr, &size, data);
#else
  return AudioObjectGetPropertyData(object, &address, 0, nullptr, &size, data);
#endif
}

CFStringRef tapAutoStartKey() {
#if TALVORIN_FAULT == 3
  return CFSTR(kAudioAggregateDeviceTapAutostartKey);
#else
  return CFSTR(kAudioAggregateDeviceTapAutoStartKey);
#endif
}

OSStatus listen(dispatch_queue_t queue) {
  const AudioObjectPropertyAddress address =
      propertyAddress(kAudioHardwarePropertyDefaultOutputDevice, kAudioObjectPropertyScopeGlobal);
#if TALVORIN_FAULT == 4
  return AudioObjectAddPropertyListenerBlock(kAudioObjectSystemObject, &address, queue,
                                             ^(UInt64, const AudioObjectPropertyAddress*){
                                             });
#else
  return AudioObjectAddPropertyListenerBlock(kAudioObjectSystemObject, &address, queue,
                                             ^(UInt32, const AudioObjectPropertyAddress*){
                                             });
#endif
}

#if TALVORIN_FAULT == 5
OSStatus ioProc(AudioObjectID, const AudioTimeStamp*, AudioBufferList*, const AudioTimeStamp*,
                AudioBufferList*, const AudioTimeStamp*, void*) {
  return noErr;
}
#else
OSStatus ioProc(AudioObjectID, const AudioTimeStamp*, const AudioBufferList*, const AudioTimeStamp*,
                AudioBufferList*, const AudioTimeStamp*, void*) {
  return noErr;
}
#endif

OSStatus registerIOProc(AudioObjectID device, AudioDeviceIOProcID& procID) {
  return AudioDeviceCreateIOProcID(device, ioProc, nullptr, &procID);
}

AudioObjectPropertySelector tapUIDSelector() {
#if TALVORIN_FAULT == 6
  return talvorin::detail::fourCharCode("tuid");
#else
  return kAudioTapPropertyUID;
#endif
}

}  // namespace talvorin::faults
