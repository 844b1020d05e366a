// Declarations, written from Apple's public documentation, of the parts of AudioHardware.h
// that the helper's sources use: property reads and listeners, the selectors read, aggregate
// devices and their dictionary keys, and IO procedures.
#ifndef CoreAudio_AudioHardware_h
#define CoreAudio_AudioHardware_h

#include <CoreAudio/AudioHardwareBase.h>
#include <CoreFoundation/CFDictionary.h>
#include <dispatch/dispatch.h>

CF_EXTERN_C_BEGIN
CF_ASSUME_NONNULL_BEGIN

CF_ENUM(AudioObjectID) {
    kAudioObjectSystemObject = 1,
};

typedef void (^AudioObjectPropertyListenerBlock)(UInt32 inNumberAddresses,
                                                 const AudioObjectPropertyAddress* inAddresses);

extern OSStatus AudioObjectGetPropertyDataSize(AudioObjectID inObjectID,
                                               const AudioObjectPropertyAddress* inAddress,
                                               UInt32 inQualifierDataSize,
                                               const void* _Nullable inQualifierData,
                                               UInt32* outDataSize);

extern OSStatus AudioObjectGetPropertyData(AudioObjectID inObjectID,
                                           const AudioObjectPropertyAddress* inAddress,
                                           UInt32 inQualifierDataSize,
                                           const void* _Nullable inQualifierData,
                                           UInt32* ioDataSize, void* outData);

extern OSStatus AudioObjectAddPropertyListenerBlock(AudioObjectID inObjectID,
                                                    const AudioObjectPropertyAddress* inAddress,
                                                    dispatch_queue_t _Nullable inDispatchQueue,
                                                    AudioObjectPropertyListenerBlock inListener);

// The system object.
CF_ENUM(AudioObjectPropertySelector) {
    kAudioHardwarePropertyDefaultOutputDevice = 'dOut',
    kAudioHardwarePropertyTranslatePIDToProcessObject = 'id2p',
    kAudioHardwarePropertyProcessObjectList = 'prs#',
};

extern OSStatus AudioHardwareCreateAggregateDevice(CFDictionaryRef inDescription,
                                                   AudioObjectID* outDeviceID);
extern OSStatus AudioHardwareDestroyAggregateDevice(AudioObjectID inDeviceID);

// Process objects.
CF_ENUM(AudioObjectPropertySelector) {
    kAudioProcessPropertyPID = 'ppid',
    kAudioProcessPropertyBundleID = 'pbid',
    kAudioProcessPropertyIsRunningInput = 'piri',
};

// Taps.
CF_ENUM(AudioObjectPropertySelector) {
    kAudioTapPropertyUID = 'tuid',
};

// Devices.
CF_ENUM(AudioObjectPropertySelector) {
    kAudioDevicePropertyDeviceUID = 'uid ',
    kAudioDevicePropertyNominalSampleRate = 'nsrt',
    kAudioDevicePropertyStreamFormat = 'sfmt',
};

typedef OSStatus (*AudioDeviceIOProc)(AudioObjectID inDevice, const AudioTimeStamp* inNow,
                                      const AudioBufferList* inInputData,
                                      const AudioTimeStamp* inInputTime,
                                      AudioBufferList* outOutputData,
                                      const AudioTimeStamp* inOutputTime,
                                      void* _Nullable inClientData);
typedef AudioDeviceIOProc AudioDeviceIOProcID;

extern OSStatus AudioDeviceCreateIOProcID(AudioObjectID inDevice, AudioDeviceIOProc inProc,
                                          void* _Nullable inClientData,
                                          AudioDeviceIOProcID _Nullable* outIOProcID);
extern OSStatus AudioDeviceDestroyIOProcID(AudioObjectID inDevice, AudioDeviceIOProcID inIOProcID);
extern OSStatus AudioDeviceStart(AudioObjectID inDevice, AudioDeviceIOProcID _Nullable inProcID);
extern OSStatus AudioDeviceStop(AudioObjectID inDevice, AudioDeviceIOProcID _Nullable inProcID);

// Keys of the aggregate-device description dictionary, as C strings for CFSTR.
#define kAudioAggregateDeviceUIDKey "uid"
#define kAudioAggregateDeviceNameKey "name"
#define kAudioAggregateDeviceIsPrivateKey "private"
#define kAudioAggregateDeviceTapListKey "taps"
#define kAudioAggregateDeviceTapAutoStartKey "tapautostart"

// Keys of one sub-tap dictionary in the tap list.
#define kAudioSubTapUIDKey "uid"
#define kAudioSubTapDriftCompensationKey "drift"

CF_ASSUME_NONNULL_END
CF_EXTERN_C_END

#endif
