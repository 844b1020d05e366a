#include "platform/macos/core_audio_hardware.hpp"

#include <CoreFoundation/CoreFoundation.h>

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/macos/gcd_dispatch.hpp"

namespace talvorin {

namespace {

// Owns one Core Foundation reference and releases it on every path out of a scope.
class CfOwned {
 public:
  explicit CfOwned(CFTypeRef ref = nullptr) noexcept : ref_(ref) {}
  ~CfOwned() {
    if (ref_ != nullptr) CFRelease(ref_);
  }
  CfOwned(CfOwned&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
  CfOwned(const CfOwned&) = delete;
  CfOwned& operator=(const CfOwned&) = delete;
  CfOwned& operator=(CfOwned&&) = delete;

  CFTypeRef get() const noexcept { return ref_; }
  explicit operator bool() const noexcept { return ref_ != nullptr; }

 private:
  CFTypeRef ref_;
};

std::string utf8(CFStringRef string) {
  if (string == nullptr) return {};
  if (const char* direct = CFStringGetCStringPtr(string, kCFStringEncodingUTF8)) return direct;
  const CFIndex capacity =
      CFStringGetMaximumSizeForEncoding(CFStringGetLength(string), kCFStringEncodingUTF8) + 1;
  std::vector<char> buffer(static_cast<std::size_t>(capacity));
  if (!CFStringGetCString(string, buffer.data(), capacity, kCFStringEncodingUTF8)) return {};
  return buffer.data();
}

CfOwned cfString(const std::string& text) {
  return CfOwned(
      CFStringCreateWithCString(kCFAllocatorDefault, text.c_str(), kCFStringEncodingUTF8));
}

struct ListenerRegistration {
  std::shared_ptr<DispatchQueue> queue;
  PropertyListener listener;
};

CFTypeRef cfBoolean(bool value) {
  return value ? kCFBooleanTrue : kCFBooleanFalse;
}

// A dictionary of Core Foundation values; it retains what it holds, so the caller releases
// its own references afterwards.
template <std::size_t N>
CfOwned cfDictionary(const CFStringRef (&keys)[N], const CFTypeRef (&values)[N]) {
  const void* keyRefs[N];
  const void* valueRefs[N];
  for (std::size_t i = 0; i < N; ++i) {
    keyRefs[i] = keys[i];
    valueRefs[i] = values[i];
  }
  return CfOwned(CFDictionaryCreate(kCFAllocatorDefault, keyRefs, valueRefs,
                                    static_cast<CFIndex>(N), &kCFTypeDictionaryKeyCallBacks,
                                    &kCFTypeDictionaryValueCallBacks));
}

}  // namespace

OSStatus CoreAudioHardware::getPropertyDataSize(AudioObjectID object,
                                                const AudioObjectPropertyAddress& address,
                                                UInt32 qualifierSize, const void* qualifier,
                                                UInt32& outDataSize) {
  return AudioObjectGetPropertyDataSize(object, &address, qualifierSize, qualifier, &outDataSize);
}

OSStatus CoreAudioHardware::getPropertyData(AudioObjectID object,
                                            const AudioObjectPropertyAddress& address,
                                            UInt32 qualifierSize, const void* qualifier,
                                            UInt32& ioDataSize, void* outData) {
  return AudioObjectGetPropertyData(object, &address, qualifierSize, qualifier, &ioDataSize,
                                    outData);
}

OSStatus CoreAudioHardware::getPropertyString(AudioObjectID object,
                                              const AudioObjectPropertyAddress& address,
                                              std::string& outValue) {
  CFStringRef value = nullptr;
  UInt32 size = sizeof value;
  const OSStatus status = AudioObjectGetPropertyData(object, &address, 0, nullptr, &size, &value);
  // The read hands over a reference the caller owns, whatever the status says.
  const CfOwned owned(value);
  if (status == noErr) outValue = utf8(value);
  return status;
}

OSStatus CoreAudioHardware::addPropertyListener(AudioObjectID object,
                                                const AudioObjectPropertyAddress& address,
                                                std::shared_ptr<DispatchQueue> queue,
                                                PropertyListener listener) {
  // On macOS every queue comes from the GCD dispatch; Core Audio delivers onto it directly.
  auto* gcdQueue = dynamic_cast<GcdQueue*>(queue.get());
  if (gcdQueue == nullptr || !listener) return kAudio_ParamError;
  // Core Audio retains the GCD queue and copies the block, and the block's copy shares the
  // registration: listener and queue live as long as the listener is registered, for good.
  const auto registration = std::make_shared<ListenerRegistration>(
      ListenerRegistration{std::move(queue), std::move(listener)});
  return AudioObjectAddPropertyListenerBlock(
      object, &address, gcdQueue->native(),
      ^(UInt32 addressCount, const AudioObjectPropertyAddress* addresses) {
        registration->listener(addressCount, addresses);
      });
}

OSStatus CoreAudioHardware::createAggregateDevice(const AggregateDeviceDescription& description,
                                                  AudioObjectID& outDeviceID) {
  std::vector<CfOwned> subTaps;
  subTaps.reserve(description.taps.size());
  for (const AggregateSubTap& tap : description.taps) {
    const CfOwned uid = cfString(tap.uid);
    if (!uid) return kAudio_ParamError;
    subTaps.push_back(
        cfDictionary({CFSTR(kAudioSubTapUIDKey), CFSTR(kAudioSubTapDriftCompensationKey)},
                     {uid.get(), cfBoolean(tap.driftCompensation)}));
    if (!subTaps.back()) return kAudio_ParamError;
  }
  std::vector<const void*> subTapRefs;
  subTapRefs.reserve(subTaps.size());
  for (const CfOwned& subTap : subTaps) subTapRefs.push_back(subTap.get());
  const CfOwned tapList(CFArrayCreate(kCFAllocatorDefault, subTapRefs.data(),
                                      static_cast<CFIndex>(subTapRefs.size()),
                                      &kCFTypeArrayCallBacks));
  const CfOwned name = cfString(description.name);
  const CfOwned uid = cfString(description.uid);
  if (!tapList || !name || !uid) return kAudio_ParamError;

  const CfOwned dictionary = cfDictionary(
      {CFSTR(kAudioAggregateDeviceNameKey), CFSTR(kAudioAggregateDeviceUIDKey),
       CFSTR(kAudioAggregateDeviceIsPrivateKey), CFSTR(kAudioAggregateDeviceTapAutoStartKey),
       CFSTR(kAudioAggregateDeviceTapListKey)},
      {name.get(), uid.get(), cfBoolean(description.isPrivate), cfBoolean(description.tapAutoStart),
       tapList.get()});
  if (!dictionary) return kAudio_ParamError;

  return AudioHardwareCreateAggregateDevice(static_cast<CFDictionaryRef>(dictionary.get()),
                                            &outDeviceID);
}

OSStatus CoreAudioHardware::destroyAggregateDevice(AudioObjectID deviceID) {
  return AudioHardwareDestroyAggregateDevice(deviceID);
}

OSStatus CoreAudioHardware::createIOProcID(AudioObjectID deviceID, AudioDeviceIOProc proc,
                                           void* clientData, AudioDeviceIOProcID& outProcID) {
  return AudioDeviceCreateIOProcID(deviceID, proc, clientData, &outProcID);
}

OSStatus CoreAudioHardware::destroyIOProcID(AudioObjectID deviceID, AudioDeviceIOProcID procID) {
  return AudioDeviceDestroyIOProcID(deviceID, procID);
}

OSStatus CoreAudioHardware::deviceStart(AudioObjectID deviceID, AudioDeviceIOProcID procID) {
  return AudioDeviceStart(deviceID, procID);
}

OSStatus CoreAudioHardware::deviceStop(AudioObjectID deviceID, AudioDeviceIOProcID procID) {
  return AudioDeviceStop(deviceID, procID);
}

std::unique_ptr<AudioHardware> makeCoreAudioHardware() {
  return std::make_unique<CoreAudioHardware>();
}

}  // namespace talvorin
