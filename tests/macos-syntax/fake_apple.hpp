// A stand-in for the Apple calls the macOS backend makes, linked into a test on Linux.
//
// Core Foundation objects are counted: every string, array and dictionary the backend creates
// is tracked until its last release, and a release of something not alive is recorded. Core
// Audio and GCD calls are recorded and answered as the test sets. Blocks handed to a call run
// at once, inside it: there is no block runtime here to keep one for later.
#pragma once

#include <CoreAudio/AudioHardware.h>
#include <CoreFoundation/CoreFoundation.h>
#include <dispatch/dispatch.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace talvorin::testing::fake_apple {

struct PropertyRead {
  AudioObjectID object = 0;
  AudioObjectPropertyAddress address{};
  UInt32 qualifierSize = 0;
  const void* qualifier = nullptr;
  UInt32 dataSize = 0;  // the size the caller offered
};

struct ListenerRegistration {
  AudioObjectID object = 0;
  AudioObjectPropertyAddress address{};
  dispatch_queue_t queue = nullptr;
};

struct Submission {
  std::string queueLabel;
  bool delayed = false;
  std::int64_t delayNanoseconds = 0;
};

struct Host {
  // Answers AudioObjectGetPropertyData and AudioObjectGetPropertyDataSize.
  std::function<OSStatus(const PropertyRead&, UInt32& ioDataSize, void* outData)> propertyData;
  std::function<OSStatus(const PropertyRead&, UInt32& outDataSize)> propertyDataSize;
  std::vector<PropertyRead> reads;

  OSStatus createAggregateStatus = 0;
  AudioObjectID nextAggregateID = 0;
  std::vector<nlohmann::json> aggregateDescriptions;

  // What a registered listener block is called with, right away.
  std::vector<AudioObjectPropertyAddress> notification;
  std::vector<ListenerRegistration> listeners;

  AudioDeviceIOProcID nextIOProcID = nullptr;
  std::vector<std::string> ioCalls;  // "create 7", "start 7", ...

  std::vector<std::string> queuesCreated;
  std::vector<bool> queuesSerial;
  std::vector<std::string> queuesReleased;
  std::vector<Submission> submissions;
};

// The one host, reset before each test. Fails the test (through GoogleTest) if objects of the
// previous test are still alive.
Host& host();
void reset();

// Core Foundation objects alive now, and releases of objects that were not alive.
int liveObjects();
int badReleases();

// A string as Core Audio hands it over: owned by the receiver. Without a direct pointer,
// CFStringGetCStringPtr answers null and the text must be copied out.
CFStringRef makeString(const std::string& text, bool directPointer = true);

// The label a fake dispatch queue was created with.
std::string labelOf(dispatch_queue_t queue);

// A Core Foundation value as JSON: strings, Booleans, arrays and dictionaries with string keys;
// anything else (a released object, say) as the string "<invalid>".
nlohmann::json toJson(CFTypeRef value);

}  // namespace talvorin::testing::fake_apple
