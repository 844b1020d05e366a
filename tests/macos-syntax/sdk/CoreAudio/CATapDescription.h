// Declarations, written from Apple's public documentation, of the parts of CATapDescription.h
// that the helper's Objective-C++ uses. As in the SDK, the class exists for Objective-C only.
#ifndef CoreAudio_CATapDescription_h
#define CoreAudio_CATapDescription_h

#if defined(__OBJC__)

#include <CoreAudio/AudioHardwareBase.h>
#include <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

typedef NS_ENUM(NSInteger, CATapMuteBehavior) {
    CATapUnmuted = 0,
    CATapMuted = 1,
    CATapMutedWhenTapped = 2,
};

@interface CATapDescription : NSObject
- (instancetype)initMonoMixdownOfProcesses:(NSArray<NSNumber*>*)processesObjectIDsToIncludeInTap;
- (instancetype)initExcludingProcesses:(NSArray<NSNumber*>*)processesObjectIDsToExcludeFromTap
                          andDeviceUID:(NSString*)deviceUID
                            withStream:(NSInteger)stream;

@property(atomic, copy) NSString* name;
@property(atomic, strong) NSUUID* UUID;
@property(atomic, getter=isPrivate, setter=setPrivate:) BOOL privateTap;
@property(atomic) CATapMuteBehavior muteBehavior;
@end

NS_ASSUME_NONNULL_END

#endif

#endif
