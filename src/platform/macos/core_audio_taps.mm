// The Objective-C half of the Core Audio boundary: process taps, which Core Audio describes
// with an Objective-C class, and the running-application lookup of AppKit. Compiled with ARC.
#include "platform/macos/core_audio_hardware.hpp"

#import <AppKit/AppKit.h>
#import <CoreAudio/AudioHardwareTapping.h>
#import <CoreAudio/CATapDescription.h>
#import <Foundation/Foundation.h>

namespace talvorin {

namespace {

NSArray<NSNumber*>* processObjectArray(const std::vector<AudioObjectID>& objects) {
  NSMutableArray<NSNumber*>* array = [NSMutableArray arrayWithCapacity:objects.size()];
  for (const AudioObjectID object : objects) {
    [array addObject:[NSNumber numberWithUnsignedInt:object]];
  }
  return array;
}

NSString* nsString(const std::string& text) {
  return [NSString stringWithUTF8String:text.c_str()];
}

}  // namespace

OSStatus CoreAudioHardware::createProcessTap(const TapDescription& description,
                                             AudioObjectID& outTapID) {
  @autoreleasepool {
    NSString* name = nsString(description.name);
    NSString* uuidText = nsString(description.uuid);
    NSUUID* uuid = uuidText == nil ? nil : [[NSUUID alloc] initWithUUIDString:uuidText];
    if (name == nil || uuid == nil) return kAudio_ParamError;

    CATapDescription* tap = nil;
    switch (description.kind) {
      case TapDescription::Kind::monoMixdownOfProcesses:
        tap = [[CATapDescription alloc]
            initMonoMixdownOfProcesses:processObjectArray(description.processes)];
        break;
      case TapDescription::Kind::deviceStream: {
        NSString* deviceUID = nsString(description.deviceUID);
        if (deviceUID == nil) return kAudio_ParamError;
        tap = [[CATapDescription alloc]
            initExcludingProcesses:processObjectArray(description.excludedProcesses)
                      andDeviceUID:deviceUID
                        withStream:static_cast<NSInteger>(description.stream)];
        break;
      }
    }
    if (tap == nil) return kAudio_ParamError;
    [tap setName:name];
    [tap setUUID:uuid];
    [tap setPrivate:description.isPrivate];
    [tap setMuteBehavior:static_cast<CATapMuteBehavior>(description.muteBehavior)];

    return AudioHardwareCreateProcessTap(tap, &outTapID);
  }
}

OSStatus CoreAudioHardware::destroyProcessTap(AudioObjectID tapID) {
  return AudioHardwareDestroyProcessTap(tapID);
}

std::optional<std::string> CoreAudioHardware::runningApplicationBundleID(std::int32_t pid) {
  @autoreleasepool {
    NSRunningApplication* application =
        [NSRunningApplication runningApplicationWithProcessIdentifier:pid];
    const char* bundleID = application.bundleIdentifier.UTF8String;
    if (bundleID == nullptr) return std::nullopt;
    return std::string(bundleID);
  }
}

}  // namespace talvorin
