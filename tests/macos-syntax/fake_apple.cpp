#include "fake_apple.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <utility>

namespace talvorin::testing::fake_apple {
namespace {

struct Object {
  virtual ~Object() = default;
  int references = 1;
};

struct String final : Object {
  std::string text;
  bool directPointer = true;
};

struct Array final : Object {
  std::vector<CFTypeRef> items;
  bool retainsItems = false;
};

struct Dictionary final : Object {
  std::vector<std::pair<CFTypeRef, CFTypeRef>> entries;
  bool retainsEntries = false;
};

struct BooleanValue {
  bool value;
};

const BooleanValue trueValue{true};
const BooleanValue falseValue{false};

// The layout clang gives a CFSTR constant.
struct ConstantString {
  const int* isa;
  int flags;
  const char* text;
  long length;
};

struct FakeQueue {
  std::string label;
};

std::set<const void*>& live() {
  static std::set<const void*> objects;
  return objects;
}

// Objects released for good, until their address is used again: a release of one of them is
// a bad release, found without reading freed memory.
std::set<const void*>& freed() {
  static std::set<const void*> objects;
  return objects;
}

int& badReleaseCount() {
  static int count = 0;
  return count;
}

Host& theHost() {
  static Host instance;
  return instance;
}

}  // namespace
}  // namespace talvorin::testing::fake_apple

extern "C" {
// Symbols clang's code refers to for constant strings and blocks.
int __CFConstantStringClassReference[24];
void* _NSConcreteStackBlock[32];
void* _NSConcreteGlobalBlock[32];
}

namespace talvorin::testing::fake_apple {
namespace {

bool isConstantString(CFTypeRef value) {
  return live().count(value) == 0 && freed().count(value) == 0 && value != &trueValue &&
         value != &falseValue &&
         static_cast<const ConstantString*>(value)->isa == __CFConstantStringClassReference;
}

template <typename T>
const T* alive(CFTypeRef value) {
  if (live().count(value) == 0) return nullptr;
  return dynamic_cast<const T*>(static_cast<const Object*>(value));
}

void retain(CFTypeRef value) {
  if (live().count(value) != 0)
    ++const_cast<Object*>(static_cast<const Object*>(value))->references;
}

template <typename T>
T* track(std::unique_ptr<T> object) {
  freed().erase(object.get());
  live().insert(object.get());
  return object.release();
}

}  // namespace

Host& host() {
  return theHost();
}

void reset() {
  EXPECT_EQ(liveObjects(), 0) << "Core Foundation objects outlived the previous test";
  live().clear();
  freed().clear();
  badReleaseCount() = 0;
  theHost() = Host{};
}

int liveObjects() {
  return static_cast<int>(live().size());
}
int badReleases() {
  return badReleaseCount();
}

CFStringRef makeString(const std::string& text, bool directPointer) {
  auto string = std::make_unique<String>();
  string->text = text;
  string->directPointer = directPointer;
  return static_cast<CFStringRef>(static_cast<const void*>(track(std::move(string))));
}

std::string labelOf(dispatch_queue_t queue) {
  return reinterpret_cast<const FakeQueue*>(queue)->label;
}

nlohmann::json toJson(CFTypeRef value) {
  if (value == &trueValue) return true;
  if (value == &falseValue) return false;
  if (const auto* string = alive<String>(value)) return string->text;
  if (const auto* array = alive<Array>(value)) {
    nlohmann::json items = nlohmann::json::array();
    for (CFTypeRef item : array->items) items.push_back(toJson(item));
    return items;
  }
  if (const auto* dictionary = alive<Dictionary>(value)) {
    nlohmann::json object = nlohmann::json::object();
    for (const auto& [key, entry] : dictionary->entries) {
      const nlohmann::json keyText = toJson(key);
      if (!keyText.is_string()) return "<invalid>";
      object[keyText.get<std::string>()] = toJson(entry);
    }
    return object;
  }
  if (value != nullptr && isConstantString(value)) {
    const auto* constant = static_cast<const ConstantString*>(value);
    return std::string(constant->text, static_cast<std::size_t>(constant->length));
  }
  return "<invalid>";
}

}  // namespace talvorin::testing::fake_apple

using namespace talvorin::testing::fake_apple;

// Core Foundation.

const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFBooleanRef kCFBooleanTrue = static_cast<CFBooleanRef>(static_cast<const void*>(&trueValue));
const CFBooleanRef kCFBooleanFalse =
    static_cast<CFBooleanRef>(static_cast<const void*>(&falseValue));
const CFArrayCallBacks kCFTypeArrayCallBacks{};
const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks{};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks{};

void CFRelease(CFTypeRef value) {
  if (value == &trueValue || value == &falseValue) return;
  if (live().count(value) == 0) {
    if (!isConstantString(value)) ++badReleaseCount();
    return;
  }
  auto* object = const_cast<Object*>(static_cast<const Object*>(value));
  if (--object->references > 0) return;
  live().erase(value);
  freed().insert(value);
  if (auto* array = dynamic_cast<Array*>(object); array != nullptr && array->retainsItems) {
    for (CFTypeRef item : array->items) CFRelease(item);
  }
  if (auto* dictionary = dynamic_cast<Dictionary*>(object);
      dictionary != nullptr && dictionary->retainsEntries) {
    for (const auto& [key, entry] : dictionary->entries) {
      CFRelease(key);
      CFRelease(entry);
    }
  }
  delete object;
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* text, CFStringEncoding) {
  return makeString(text);
}

CFIndex CFStringGetLength(CFStringRef string) {
  const auto* fake = alive<String>(string);
  return fake == nullptr ? 0 : static_cast<CFIndex>(fake->text.size());
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding) {
  return length * 3;
}

const char* CFStringGetCStringPtr(CFStringRef string, CFStringEncoding) {
  const auto* fake = alive<String>(string);
  return fake != nullptr && fake->directPointer ? fake->text.c_str() : nullptr;
}

Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex bufferSize, CFStringEncoding) {
  const auto* fake = alive<String>(string);
  if (fake == nullptr || static_cast<CFIndex>(fake->text.size()) >= bufferSize) return false;
  std::memcpy(buffer, fake->text.c_str(), fake->text.size() + 1);
  return true;
}

CFArrayRef CFArrayCreate(CFAllocatorRef, const void** values, CFIndex count,
                         const CFArrayCallBacks* callBacks) {
  auto array = std::make_unique<Array>();
  array->retainsItems = callBacks == &kCFTypeArrayCallBacks;
  for (CFIndex i = 0; i < count; ++i) {
    array->items.push_back(values[i]);
    if (array->retainsItems) retain(values[i]);
  }
  return static_cast<CFArrayRef>(static_cast<const void*>(track(std::move(array))));
}

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values,
                                   CFIndex count, const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks) {
  auto dictionary = std::make_unique<Dictionary>();
  dictionary->retainsEntries = keyCallBacks == &kCFTypeDictionaryKeyCallBacks &&
                               valueCallBacks == &kCFTypeDictionaryValueCallBacks;
  for (CFIndex i = 0; i < count; ++i) {
    dictionary->entries.emplace_back(keys[i], values[i]);
    if (dictionary->retainsEntries) {
      retain(keys[i]);
      retain(values[i]);
    }
  }
  return static_cast<CFDictionaryRef>(static_cast<const void*>(track(std::move(dictionary))));
}

// Core Audio.

OSStatus AudioObjectGetPropertyDataSize(AudioObjectID object,
                                        const AudioObjectPropertyAddress* address,
                                        UInt32 qualifierSize, const void* qualifier,
                                        UInt32* outDataSize) {
  const PropertyRead read{object, *address, qualifierSize, qualifier, *outDataSize};
  host().reads.push_back(read);
  return host().propertyDataSize ? host().propertyDataSize(read, *outDataSize)
                                 : kAudioHardwareUnknownPropertyError;
}

OSStatus AudioObjectGetPropertyData(AudioObjectID object, const AudioObjectPropertyAddress* address,
                                    UInt32 qualifierSize, const void* qualifier, UInt32* ioDataSize,
                                    void* outData) {
  const PropertyRead read{object, *address, qualifierSize, qualifier, *ioDataSize};
  host().reads.push_back(read);
  return host().propertyData ? host().propertyData(read, *ioDataSize, outData)
                             : kAudioHardwareUnknownPropertyError;
}

OSStatus AudioObjectAddPropertyListenerBlock(AudioObjectID object,
                                             const AudioObjectPropertyAddress* address,
                                             dispatch_queue_t queue,
                                             AudioObjectPropertyListenerBlock listener) {
  host().listeners.push_back({object, *address, queue});
  if (!host().notification.empty()) {
    listener(static_cast<UInt32>(host().notification.size()), host().notification.data());
  }
  return noErr;
}

OSStatus AudioHardwareCreateAggregateDevice(CFDictionaryRef description,
                                            AudioObjectID* outDeviceID) {
  host().aggregateDescriptions.push_back(toJson(description));
  if (host().createAggregateStatus == noErr) *outDeviceID = host().nextAggregateID;
  return host().createAggregateStatus;
}

OSStatus AudioHardwareDestroyAggregateDevice(AudioObjectID deviceID) {
  host().ioCalls.push_back("destroy aggregate " + std::to_string(deviceID));
  return noErr;
}

OSStatus AudioDeviceCreateIOProcID(AudioObjectID device, AudioDeviceIOProc proc, void* clientData,
                                   AudioDeviceIOProcID* outIOProcID) {
  host().ioCalls.push_back("create " + std::to_string(device) +
                           (proc != nullptr ? " with proc" : " without proc") +
                           (clientData != nullptr ? " and client data" : ""));
  *outIOProcID = host().nextIOProcID;
  return noErr;
}

OSStatus AudioDeviceDestroyIOProcID(AudioObjectID device, AudioDeviceIOProcID procID) {
  host().ioCalls.push_back("destroy " + std::to_string(device) +
                           (procID == host().nextIOProcID ? " same proc" : " other proc"));
  return noErr;
}

OSStatus AudioDeviceStart(AudioObjectID device, AudioDeviceIOProcID procID) {
  host().ioCalls.push_back("start " + std::to_string(device) +
                           (procID == host().nextIOProcID ? " same proc" : " other proc"));
  return noErr;
}

OSStatus AudioDeviceStop(AudioObjectID device, AudioDeviceIOProcID procID) {
  host().ioCalls.push_back("stop " + std::to_string(device) +
                           (procID == host().nextIOProcID ? " same proc" : " other proc"));
  return noErr;
}

// Grand Central Dispatch.

dispatch_time_t dispatch_time(dispatch_time_t when, int64_t delta) {
  return when + static_cast<dispatch_time_t>(delta);
}

dispatch_queue_t dispatch_queue_create(const char* label, dispatch_queue_attr_t attr) {
  host().queuesCreated.emplace_back(label);
  host().queuesSerial.push_back(attr == DISPATCH_QUEUE_SERIAL);
  return reinterpret_cast<dispatch_queue_t>(new FakeQueue{label});
}

void dispatch_async(dispatch_queue_t queue, dispatch_block_t block) {
  host().submissions.push_back({labelOf(queue), false, 0});
  block();
}

void dispatch_after(dispatch_time_t when, dispatch_queue_t queue, dispatch_block_t block) {
  host().submissions.push_back({labelOf(queue), true, static_cast<std::int64_t>(when)});
  block();
}

void dispatch_release(dispatch_object_t object) {
  auto* queue = reinterpret_cast<FakeQueue*>(object);
  host().queuesReleased.push_back(queue->label);
  delete queue;
}

void dispatch_main() {
  std::abort();
}
