// The Core Audio records, selectors and constants that the helper uses.
//
// On Apple builds these are the SDK's own declarations. Elsewhere this header declares the
// same names with the same layouts and values, so that the pipeline, the capture and the
// discovery code read identically on every platform and run against the Linux backend and
// the simulated host.
#pragma once

#include <cstdint>

#if defined(__APPLE__) || defined(TALVORIN_APPLE_SDK_CHECK)

#include <CoreAudio/AudioHardware.h>
#include <CoreAudio/CoreAudioTypes.h>

#else

using OSStatus = std::int32_t;
using Boolean = unsigned char;
using UInt32 = std::uint32_t;
using SInt32 = std::int32_t;
using UInt64 = std::uint64_t;
using Float32 = float;
using Float64 = double;

using AudioObjectID = UInt32;
using AudioObjectPropertySelector = UInt32;
using AudioObjectPropertyScope = UInt32;
using AudioObjectPropertyElement = UInt32;
using AudioFormatID = UInt32;
using AudioFormatFlags = UInt32;

struct AudioObjectPropertyAddress {
  AudioObjectPropertySelector mSelector;
  AudioObjectPropertyScope mScope;
  AudioObjectPropertyElement mElement;
};

struct AudioStreamBasicDescription {
  Float64 mSampleRate;
  AudioFormatID mFormatID;
  AudioFormatFlags mFormatFlags;
  UInt32 mBytesPerPacket;
  UInt32 mFramesPerPacket;
  UInt32 mBytesPerFrame;
  UInt32 mChannelsPerFrame;
  UInt32 mBitsPerChannel;
  UInt32 mReserved;
};

struct AudioBuffer {
  UInt32 mNumberChannels;
  UInt32 mDataByteSize;
  void* mData;
};

// Variable length, as in Core Audio: mNumberBuffers records follow, of which only the first
// is declared. Index the buffers through a pointer (list.mBuffers + i), never as an array.
struct AudioBufferList {
  UInt32 mNumberBuffers;
  AudioBuffer mBuffers[1];
};

struct SMPTETime {
  std::int16_t mSubframes;
  std::int16_t mSubframeDivisor;
  UInt32 mCounter;
  UInt32 mType;
  UInt32 mFlags;
  std::int16_t mHours;
  std::int16_t mMinutes;
  std::int16_t mSeconds;
  std::int16_t mFrames;
};

struct AudioTimeStamp {
  Float64 mSampleTime;
  UInt64 mHostTime;
  Float64 mRateScalar;
  UInt64 mWordClockTime;
  SMPTETime mSMPTETime;
  UInt32 mFlags;
  UInt32 mReserved;
};

using AudioDeviceIOProc = OSStatus (*)(AudioObjectID inDevice, const AudioTimeStamp* inNow,
                                       const AudioBufferList* inInputData,
                                       const AudioTimeStamp* inInputTime,
                                       AudioBufferList* outOutputData,
                                       const AudioTimeStamp* inOutputTime, void* inClientData);
using AudioDeviceIOProcID = AudioDeviceIOProc;

namespace talvorin::detail {
constexpr UInt32 fourCharCode(const char (&code)[5]) {
  return (static_cast<UInt32>(static_cast<unsigned char>(code[0])) << 24) |
         (static_cast<UInt32>(static_cast<unsigned char>(code[1])) << 16) |
         (static_cast<UInt32>(static_cast<unsigned char>(code[2])) << 8) |
         static_cast<UInt32>(static_cast<unsigned char>(code[3]));
}
}  // namespace talvorin::detail

inline constexpr OSStatus noErr = 0;
inline constexpr AudioObjectID kAudioObjectUnknown = 0;
inline constexpr AudioObjectID kAudioObjectSystemObject = 1;

inline constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeGlobal =
    talvorin::detail::fourCharCode("glob");
inline constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeInput =
    talvorin::detail::fourCharCode("inpt");
inline constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeOutput =
    talvorin::detail::fourCharCode("outp");
inline constexpr AudioObjectPropertyElement kAudioObjectPropertyElementMain = 0;

inline constexpr AudioObjectPropertySelector kAudioHardwarePropertyDefaultOutputDevice =
    talvorin::detail::fourCharCode("dOut");
inline constexpr AudioObjectPropertySelector kAudioHardwarePropertyProcessObjectList =
    talvorin::detail::fourCharCode("prs#");
inline constexpr AudioObjectPropertySelector kAudioHardwarePropertyTranslatePIDToProcessObject =
    talvorin::detail::fourCharCode("id2p");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyDeviceUID =
    talvorin::detail::fourCharCode("uid ");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyStreamFormat =
    talvorin::detail::fourCharCode("sfmt");
inline constexpr AudioObjectPropertySelector kAudioDevicePropertyNominalSampleRate =
    talvorin::detail::fourCharCode("nsrt");
inline constexpr AudioObjectPropertySelector kAudioTapPropertyUID =
    talvorin::detail::fourCharCode("tuid");
inline constexpr AudioObjectPropertySelector kAudioProcessPropertyPID =
    talvorin::detail::fourCharCode("ppid");
inline constexpr AudioObjectPropertySelector kAudioProcessPropertyBundleID =
    talvorin::detail::fourCharCode("pbid");
inline constexpr AudioObjectPropertySelector kAudioProcessPropertyIsRunningInput =
    talvorin::detail::fourCharCode("piri");

inline constexpr AudioFormatID kAudioFormatLinearPCM = talvorin::detail::fourCharCode("lpcm");
inline constexpr AudioFormatFlags kAudioFormatFlagIsFloat = 1U << 0;
inline constexpr AudioFormatFlags kAudioFormatFlagIsBigEndian = 1U << 1;
inline constexpr AudioFormatFlags kAudioFormatFlagIsSignedInteger = 1U << 2;
inline constexpr AudioFormatFlags kAudioFormatFlagIsPacked = 1U << 3;
inline constexpr AudioFormatFlags kAudioFormatFlagIsAlignedHigh = 1U << 4;
inline constexpr AudioFormatFlags kAudioFormatFlagIsNonInterleaved = 1U << 5;

inline constexpr OSStatus kAudioHardwareNoError = 0;
inline constexpr OSStatus kAudioHardwareNotRunningError =
    static_cast<OSStatus>(talvorin::detail::fourCharCode("stop"));
inline constexpr OSStatus kAudioHardwareUnspecifiedError =
    static_cast<OSStatus>(talvorin::detail::fourCharCode("what"));
inline constexpr OSStatus kAudioHardwareUnknownPropertyError =
    static_cast<OSStatus>(talvorin::detail::fourCharCode("who?"));
inline constexpr OSStatus kAudioHardwareBadPropertySizeError =
    static_cast<OSStatus>(talvorin::detail::fourCharCode("!siz"));
inline constexpr OSStatus kAudioHardwareIllegalOperationError =
    static_cast<OSStatus>(talvorin::detail::fourCharCode("nope"));
inline constexpr OSStatus kAudioHardwareBadObjectError =
    static_cast<OSStatus>(talvorin::detail::fourCharCode("!obj"));
inline constexpr OSStatus kAudioHardwareBadDeviceError =
    static_cast<OSStatus>(talvorin::detail::fourCharCode("!dev"));
inline constexpr OSStatus kAudioHardwareBadStreamError =
    static_cast<OSStatus>(talvorin::detail::fourCharCode("!str"));
inline constexpr OSStatus kAudioHardwareUnsupportedOperationError =
    static_cast<OSStatus>(talvorin::detail::fourCharCode("unop"));
inline constexpr OSStatus kAudio_ParamError = -50;

#endif

namespace talvorin {

// A property address on the main element, the only element the helper uses.
constexpr AudioObjectPropertyAddress propertyAddress(AudioObjectPropertySelector selector,
                                                     AudioObjectPropertyScope scope) {
  return AudioObjectPropertyAddress{selector, scope, kAudioObjectPropertyElementMain};
}

}  // namespace talvorin
