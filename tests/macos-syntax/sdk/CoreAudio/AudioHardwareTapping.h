// Declarations, written from Apple's public documentation, of AudioHardwareTapping.h. As in
// the SDK, process taps are created and destroyed from Objective-C only.
#ifndef CoreAudio_AudioHardwareTapping_h
#define CoreAudio_AudioHardwareTapping_h

#if defined(__OBJC__)

#include <CoreAudio/AudioHardwareBase.h>

@class CATapDescription;

CF_EXTERN_C_BEGIN
CF_ASSUME_NONNULL_BEGIN

extern OSStatus AudioHardwareCreateProcessTap(CATapDescription* _Nullable inDescription,
                                              AudioObjectID* _Nullable outTapID);
extern OSStatus AudioHardwareDestroyProcessTap(AudioObjectID inTapID);

CF_ASSUME_NONNULL_END
CF_EXTERN_C_END

#endif

#endif
