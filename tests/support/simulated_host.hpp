// An in-process stand-in for the audio hardware, for tests.
//
// The test builds the world (output devices, the default output, process objects, running
// applications), chooses what any call returns, and reads back what the code under test did:
// the calls in order, the taps and aggregate devices it created (with their descriptions),
// the listeners it registered. deliverCycle() plays the IO thread.
//
// Conventions, chosen to make faults visible:
// - Object IDs are small increasing integers from 2 (1 is the system object), never reused.
// - A fresh host has the system object with 'dOut' = 0 (no default output) and an empty
//   'prs#' list; devices, processes and the default output are added explicitly.
// - A property is keyed by object, selector and scope (the element is not examined); a read
//   of a missing property returns kAudioHardwareUnknownPropertyError, of a missing object
//   kAudioHardwareBadObjectError. setPropertyStatus() makes every read of a property fail.
// - String-valued properties ('uid ', 'tuid', 'pbid') are read with getPropertyString only;
//   getPropertyData on them returns kAudioHardwareUnsupportedOperationError. Their data size
//   is 8, one string reference, as on the real system.
// - setStatus(operation, status) makes every later call of that kind return the status. A
//   failing create creates nothing; a failing destroy or stop returns its status and leaves
//   the object as it was (still registered, still running), so a test sees every retry.
//   Destroying an aggregate device also ends the IO procedures registered on it.
// - runningApplicationBundleID is not a Core Audio call and is not in calls(); the process IDs
//   it was asked about are in runningApplicationLookups().
// - Everything is guarded by one internal mutex; IO procedures and listeners are called
//   outside it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "platform/audio_hardware.hpp"
#include "platform/core_audio_types.hpp"
#include "platform/dispatch.hpp"

namespace talvorin::testing {

// What an inspector returns: a copy taken under the host's lock. Elements are handed out by
// value, so `const TapDescription& tap = host.createdTaps()[0];` holds its own copy instead
// of a reference into a destroyed temporary; indexing is bounds-checked.
template <typename T>
class Snapshot : public std::vector<T> {
 public:
  Snapshot() = default;
  explicit Snapshot(std::vector<T> values) : std::vector<T>(std::move(values)) {}

  T operator[](std::size_t index) const { return std::vector<T>::at(index); }
  T at(std::size_t index) const { return std::vector<T>::at(index); }
  T front() const { return std::vector<T>::at(0); }
  T back() const { return std::vector<T>::at(this->size() - 1); }
};

class SimulatedHost : public AudioHardware {
 public:
  enum class Operation {
    getPropertyDataSize,
    getPropertyData,
    getPropertyString,
    addPropertyListener,
    createProcessTap,
    destroyProcessTap,
    createAggregateDevice,
    destroyAggregateDevice,
    createIOProcID,
    destroyIOProcID,
    deviceStart,
    deviceStop,
  };

  // The Core Audio name of an operation ("AudioObjectGetPropertyData", ...).
  static const char* operationName(Operation operation);

  // One call as the code under test made it. `object` is the object the call addressed (for
  // a create: the new object, 0 when it failed); `selector` is 0 outside property calls.
  struct Call {
    std::string operation;
    AudioObjectID object = 0;
    AudioObjectPropertySelector selector = 0;
    OSStatus status = 0;
    bool operator==(const Call&) const = default;
  };

  struct IOProcRecord {
    AudioObjectID device = 0;
    AudioDeviceIOProcID id = nullptr;
    void* clientData = nullptr;
    bool running = false;
  };

  SimulatedHost();
  ~SimulatedHost() override;
  SimulatedHost(const SimulatedHost&) = delete;
  SimulatedHost& operator=(const SimulatedHost&) = delete;

  // ---- The world -------------------------------------------------------------------------

  // An output device with its 'uid ' string.
  AudioObjectID addOutputDevice(std::string uid);

  // Sets 'dOut' of the system object (0: no default output). When the value changes, every
  // listener on 'dOut' is notified on its queue.
  void setDefaultOutputDevice(AudioObjectID device);

  // Notifies the 'dOut' listeners although nothing changed, as the real system sometimes does.
  void notifyDefaultOutputListeners();

  // Notifies every listener registered on this object and selector, on its queue.
  void notifyListeners(AudioObjectID object, AudioObjectPropertySelector selector);

  // A process object answering 'ppid', 'pbid' and 'piri', listed in the system object's
  // 'prs#' and found by 'id2p' through its process ID.
  AudioObjectID addProcess(std::int32_t pid, std::string bundleID = "", bool runningInput = false);
  void setRunningInput(AudioObjectID process, bool runningInput);
  // Removes the object, its 'prs#' entry and its 'id2p' translation.
  void removeProcess(AudioObjectID process);

  // What runningApplicationBundleID(pid) answers: nothing for a pid never set here; an
  // application without an identifier is std::nullopt too.
  void setRunningApplication(std::int32_t pid, std::optional<std::string> bundleID);
  Snapshot<std::int32_t> runningApplicationLookups() const;

  // ---- Raw properties --------------------------------------------------------------------
  // Setting a property of an object that does not exist creates the object.

  void setPropertyBytes(AudioObjectID object, AudioObjectPropertySelector selector,
                        std::vector<std::uint8_t> bytes,
                        AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal);

  template <typename T>
  void setProperty(AudioObjectID object, AudioObjectPropertySelector selector, const T& value,
                   AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal) {
    static_assert(std::is_trivially_copyable_v<T> && !std::is_pointer_v<T> && !std::is_array_v<T>,
                  "use setStringProperty for text; values are stored as their bytes");
    std::vector<std::uint8_t> bytes(sizeof(T));
    std::memcpy(bytes.data(), &value, sizeof(T));
    setPropertyBytes(object, selector, std::move(bytes), scope);
  }

  void setStringProperty(AudioObjectID object, AudioObjectPropertySelector selector,
                         std::string value,
                         AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal);

  void removeProperty(AudioObjectID object, AudioObjectPropertySelector selector,
                      AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal);

  // Every read (data, size, string) of this selector on this object, in any scope, returns
  // `status` and writes nothing; 0 restores normal reads.
  void setPropertyStatus(AudioObjectID object, AudioObjectPropertySelector selector,
                         OSStatus status);

  // The stored value, for assertions; nothing when absent or of another size or kind.
  template <typename T>
  std::optional<T> property(
      AudioObjectID object, AudioObjectPropertySelector selector,
      AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal) const {
    static_assert(std::is_trivially_copyable_v<T>);
    const auto bytes = propertyBytes(object, selector, scope);
    if (!bytes || bytes->size() != sizeof(T)) return std::nullopt;
    T value;
    std::memcpy(&value, bytes->data(), sizeof(T));
    return value;
  }
  std::optional<std::vector<std::uint8_t>> propertyBytes(
      AudioObjectID object, AudioObjectPropertySelector selector,
      AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal) const;
  std::optional<std::string> stringProperty(
      AudioObjectID object, AudioObjectPropertySelector selector,
      AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal) const;

  bool hasObject(AudioObjectID object) const;

  // ---- Chosen failures -------------------------------------------------------------------

  // Every later call of this kind returns `status` (0 restores success).
  void setStatus(Operation operation, OSStatus status);

  // createIOProcID succeeds but hands back a null ID (and registers nothing).
  void returnNullIOProcID(bool enabled);

  // ---- Taps and aggregate devices --------------------------------------------------------

  // The 'tuid' of taps created from now on: nullopt (the default) gives each a fresh
  // automatic UID, "" an empty one.
  void setTapUID(std::optional<std::string> uid);
  // Reads of 'tuid' of taps created from now on return this status (0: they succeed).
  void setTapUIDStatus(OSStatus status);

  // Input-scope 'sfmt' and global 'nsrt' of aggregate devices created from now on. Default:
  // 48000 Hz, linear PCM float32, packed, interleaved stereo, 8 bytes per frame.
  void setAggregateFormat(const AudioStreamBasicDescription& format);
  void setAggregateNominalRate(double rate);
  // Reads of 'sfmt' / 'nsrt' of aggregate devices created from now on return this status.
  void setAggregateFormatStatus(OSStatus status);
  void setAggregateNominalRateStatus(OSStatus status);

  static AudioStreamBasicDescription defaultAggregateFormat();

  // Descriptions of every successful create, in order, including objects since destroyed.
  Snapshot<TapDescription> createdTaps() const;
  Snapshot<AggregateDeviceDescription> createdAggregateDevices() const;
  // IDs of the taps and aggregate devices that exist now, in creation order.
  Snapshot<AudioObjectID> liveTaps() const;
  Snapshot<AudioObjectID> liveAggregateDevices() const;

  // Registered IO procedures, in creation order.
  Snapshot<IOProcRecord> ioProcs() const;

  // ---- Listeners -------------------------------------------------------------------------

  std::size_t listenerCount() const;
  std::size_t listenerCount(AudioObjectID object, AudioObjectPropertySelector selector) const;

  // ---- The IO thread ---------------------------------------------------------------------

  // Calls the one running IO procedure with `input`, outside the host's lock, and returns
  // what it returned. kAudioHardwareNotRunningError (and no call) when none runs;
  // kAudioHardwareIllegalOperationError (and no call) when several run: name the device.
  OSStatus deliverCycle(const AudioBufferList& input);
  // The same for the running IO procedure of this device.
  OSStatus deliverCycle(AudioObjectID device, const AudioBufferList& input);

  // ---- The call log ----------------------------------------------------------------------

  Snapshot<Call> calls() const;
  Snapshot<std::string> operations() const;
  void clearCalls();

  // ---- AudioHardware ---------------------------------------------------------------------

  OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                               UInt32 qualifierSize, const void* qualifier,
                               UInt32& outDataSize) override;
  OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                           UInt32 qualifierSize, const void* qualifier, UInt32& ioDataSize,
                           void* outData) override;
  OSStatus getPropertyString(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             std::string& outValue) override;
  OSStatus addPropertyListener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                               std::shared_ptr<DispatchQueue> queue,
                               PropertyListener listener) override;
  OSStatus createProcessTap(const TapDescription& description, AudioObjectID& outTapID) override;
  OSStatus destroyProcessTap(AudioObjectID tapID) override;
  OSStatus createAggregateDevice(const AggregateDeviceDescription& description,
                                 AudioObjectID& outDeviceID) override;
  OSStatus destroyAggregateDevice(AudioObjectID deviceID) override;
  OSStatus createIOProcID(AudioObjectID deviceID, AudioDeviceIOProc proc, void* clientData,
                          AudioDeviceIOProcID& outProcID) override;
  OSStatus destroyIOProcID(AudioObjectID deviceID, AudioDeviceIOProcID procID) override;
  OSStatus deviceStart(AudioObjectID deviceID, AudioDeviceIOProcID procID) override;
  OSStatus deviceStop(AudioObjectID deviceID, AudioDeviceIOProcID procID) override;
  std::optional<std::string> runningApplicationBundleID(std::int32_t pid) override;

 private:
  enum class Kind { system, device, process, tap, aggregateDevice, plain };

  struct Property {
    bool isString = false;
    std::vector<std::uint8_t> bytes;
    std::string text;
  };

  struct Object {
    Kind kind = Kind::plain;
    std::map<std::pair<AudioObjectPropertySelector, AudioObjectPropertyScope>, Property> properties;
    std::map<AudioObjectPropertySelector, OSStatus> statuses;
  };

  struct Listener {
    AudioObjectID object = 0;
    AudioObjectPropertyAddress address{};
    std::shared_ptr<DispatchQueue> queue;
    PropertyListener block;
  };

  struct IOProc {
    AudioObjectID device = 0;
    AudioDeviceIOProc proc = nullptr;
    void* clientData = nullptr;
    AudioDeviceIOProcID id = nullptr;
    bool running = false;
    bool registered = true;
    std::vector<std::thread::id> inFlight;  // threads inside the procedure now
  };

  static constexpr std::size_t kOperationCount = 12;

  AudioObjectID newObject(Kind kind);
  Object& objectFor(AudioObjectID object);  // creates a plain object when missing
  void rewriteProcessList();
  OSStatus log(Operation operation, AudioObjectID object, AudioObjectPropertySelector selector,
               OSStatus status);
  OSStatus operationStatus(Operation operation) const;
  // Finds the property for a read; sets `status` when the read must fail.
  const Property* findForRead(AudioObjectID object, const AudioObjectPropertyAddress& address,
                              OSStatus& status) const;
  std::shared_ptr<IOProc> findIOProc(AudioObjectID device, AudioDeviceIOProcID id) const;
  std::shared_ptr<IOProc> ioProcForCall(Operation operation, AudioObjectID deviceID,
                                        AudioDeviceIOProcID procID, OSStatus& failure);
  // Waits, with `lock` held on entry and exit, until no other thread is inside `proc`.
  void waitForOtherCalls(std::unique_lock<std::mutex>& lock, const IOProc& proc);
  OSStatus runCycle(std::unique_lock<std::mutex> lock, const std::shared_ptr<IOProc>& proc,
                    const AudioBufferList& input);
  void fire(std::vector<Listener> listeners);
  std::vector<Listener> listenersFor(AudioObjectID object,
                                     AudioObjectPropertySelector selector) const;

  mutable std::mutex mutex_;
  std::condition_variable ioProcIdle_;
  AudioObjectID nextObjectID_ = 2;
  std::map<AudioObjectID, Object> objects_;
  std::vector<std::pair<AudioObjectID, std::int32_t>> processes_;  // object, pid; in order
  std::map<std::int32_t, std::optional<std::string>> runningApplications_;
  std::vector<std::int32_t> runningApplicationLookups_;
  std::vector<Listener> listeners_;
  std::vector<std::shared_ptr<IOProc>> ioProcs_;
  std::uintptr_t nextIOProcToken_ = 1;
  OSStatus statuses_[kOperationCount] = {};
  bool nullIOProcID_ = false;
  std::optional<std::string> tapUID_;
  OSStatus tapUIDStatus_ = noErr;
  AudioStreamBasicDescription aggregateFormat_;
  double aggregateNominalRate_ = 48000.0;
  OSStatus aggregateFormatStatus_ = noErr;
  OSStatus aggregateNominalRateStatus_ = noErr;
  std::vector<TapDescription> createdTaps_;
  std::vector<AggregateDeviceDescription> createdAggregateDevices_;
  std::vector<Call> calls_;
  double sampleTime_ = 0.0;
};

}  // namespace talvorin::testing
