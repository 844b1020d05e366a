// Mistakes the macOS build would reject in its Objective-C++ file, each switched on by
// TALVORIN_FAULT=<n>. Without a fault the file compiles, so the check's failure with one is
// that fault's doing alone.
//
// fault 1: the tap's private flag set through a setter the class does not have
// fault 2: a dispatch object released by hand where ARC owns it
// fault 3: a device-stream tap built with the process list where the device UID belongs
// fault 4: the tap's mute behaviour set from a plain integer without naming the enumeration
#import <CoreAudio/AudioHardwareTapping.h>
#import <CoreAudio/CATapDescription.h>
#import <Foundation/Foundation.h>
#include <dispatch/dispatch.h>

namespace talvorin::faults {

OSStatus createTap(NSArray<NSNumber*>* processes, NSString* deviceUID, NSUUID* uuid,
                   AudioObjectID& outTapID) {
#if TALVORIN_FAULT == 3
  CATapDescription* tap = [[CATapDescription alloc] initExcludingProcesses:processes
                                                              andDeviceUID:processes
                                                                withStream:0];
#else
  CATapDescription* tap = [[CATapDescription alloc] initExcludingProcesses:processes
                                                              andDeviceUID:deviceUID
                                                                withStream:0];
#endif
  [tap setUUID:uuid];
#if TALVORIN_FAULT == 1
  [tap setPrivateTap:YES];
#else
  [tap setPrivate:YES];
#endif
#if TALVORIN_FAULT == 4
  [tap setMuteBehavior:0];
#else
  [tap setMuteBehavior:CATapUnmuted];
#endif
  return AudioHardwareCreateProcessTap(tap, &outTapID);
}

void dropQueue(dispatch_queue_t queue) {
#if TALVORIN_FAULT == 2
  dispatch_release(queue);
#else
  (void)queue;
#endif
}

}  // namespace talvorin::faults
