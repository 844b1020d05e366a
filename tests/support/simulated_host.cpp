#include "support/simulated_host.hpp"

#include <algorithm>
#include <utility>

namespace talvorin::testing {

namespace {

constexpr UInt32 kStringReferenceSize = 8;

OSStatus copyOut(const std::vector<std::uint8_t>& bytes, UInt32& ioDataSize, void* outData) {
  const auto size = static_cast<UInt32>(std::min<std::size_t>(ioDataSize, bytes.size()));
  if (size > 0) std::memcpy(outData, bytes.data(), size);
  ioDataSize = size;
  return noErr;
}

}  // namespace

const char* SimulatedHost::operationName(Operation operation) {
  switch (operation) {
    case Operation::getPropertyDataSize:
      return "AudioObjectGetPropertyDataSize";
    case Operation::getPropertyData:
    case Operation::getPropertyString:
      return "AudioObjectGetPropertyData";
    case Operation::addPropertyListener:
      return "AudioObjectAddPropertyListenerBlock";
    case Operation::createProcessTap:
      return "AudioHardwareCreateProcessTap";
    case Operation::destroyProcessTap:
      return "AudioHardwareDestroyProcessTap";
    case Operation::createAggregateDevice:
      return "AudioHardwareCreateAggregateDevice";
    case Operation::destroyAggregateDevice:
      return "AudioHardwareDestroyAggregateDevice";
    case Operation::createIOProcID:
      return "AudioDeviceCreateIOProcID";
    case Operation::destroyIOProcID:
      return "AudioDeviceDestroyIOProcID";
    case Operation::deviceStart:
      return "AudioDeviceStart";
    case Operation::deviceStop:
      return "AudioDeviceStop";
  }
  return "?";
}

AudioStreamBasicDescription SimulatedHost::defaultAggregateFormat() {
  AudioStreamBasicDescription format{};
  format.mSampleRate = 48000.0;
  format.mFormatID = kAudioFormatLinearPCM;
  format.mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked;
  format.mBytesPerPacket = 8;
  format.mFramesPerPacket = 1;
  format.mBytesPerFrame = 8;
  format.mChannelsPerFrame = 2;
  format.mBitsPerChannel = 32;
  return format;
}

SimulatedHost::SimulatedHost() : aggregateFormat_(defaultAggregateFormat()) {
  objects_[kAudioObjectSystemObject].kind = Kind::system;
  setProperty<AudioObjectID>(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice,
                             kAudioObjectUnknown);
  rewriteProcessList();
}

SimulatedHost::~SimulatedHost() = default;

// ---- The world -------------------------------------------------------------------------

AudioObjectID SimulatedHost::newObject(Kind kind) {
  const AudioObjectID id = nextObjectID_++;
  objects_[id].kind = kind;
  return id;
}

SimulatedHost::Object& SimulatedHost::objectFor(AudioObjectID object) {
  auto found = objects_.find(object);
  if (found != objects_.end()) return found->second;
  nextObjectID_ = std::max(nextObjectID_, object + 1);
  return objects_[object];
}

void SimulatedHost::rewriteProcessList() {
  std::vector<std::uint8_t> bytes(processes_.size() * sizeof(AudioObjectID));
  for (std::size_t i = 0; i < processes_.size(); ++i) {
    std::memcpy(bytes.data() + i * sizeof(AudioObjectID), &processes_[i].first,
                sizeof(AudioObjectID));
  }
  objects_[kAudioObjectSystemObject]
      .properties[{kAudioHardwarePropertyProcessObjectList, kAudioObjectPropertyScopeGlobal}] =
      Property{false, std::move(bytes), {}};
}

AudioObjectID SimulatedHost::addOutputDevice(std::string uid) {
  AudioObjectID id = 0;
  {
    std::lock_guard lock(mutex_);
    id = newObject(Kind::device);
  }
  setStringProperty(id, kAudioDevicePropertyDeviceUID, std::move(uid));
  return id;
}

void SimulatedHost::setDefaultOutputDevice(AudioObjectID device) {
  std::vector<Listener> toNotify;
  {
    std::lock_guard lock(mutex_);
    Property& property = objects_[kAudioObjectSystemObject].properties[{
        kAudioHardwarePropertyDefaultOutputDevice, kAudioObjectPropertyScopeGlobal}];
    std::vector<std::uint8_t> bytes(sizeof(AudioObjectID));
    std::memcpy(bytes.data(), &device, sizeof(device));
    const bool changed = property.isString || property.bytes != bytes;
    property = Property{false, std::move(bytes), {}};
    if (changed) {
      toNotify = listenersFor(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice);
    }
  }
  fire(std::move(toNotify));
}

void SimulatedHost::notifyDefaultOutputListeners() {
  notifyListeners(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice);
}

void SimulatedHost::notifyListeners(AudioObjectID object, AudioObjectPropertySelector selector) {
  std::vector<Listener> toNotify;
  {
    std::lock_guard lock(mutex_);
    toNotify = listenersFor(object, selector);
  }
  fire(std::move(toNotify));
}

std::vector<SimulatedHost::Listener> SimulatedHost::listenersFor(
    AudioObjectID object, AudioObjectPropertySelector selector) const {
  std::vector<Listener> result;
  for (const Listener& listener : listeners_) {
    if (listener.object == object && listener.address.mSelector == selector) {
      result.push_back(listener);
    }
  }
  return result;
}

// Like the real system: each notification is a task on the listener's queue, never a call
// from inside the change.
void SimulatedHost::fire(std::vector<Listener> listeners) {
  for (Listener& listener : listeners) {
    listener.queue->async(
        [block = std::move(listener.block), address = listener.address] { block(1, &address); });
  }
}

AudioObjectID SimulatedHost::addProcess(std::int32_t pid, std::string bundleID, bool runningInput) {
  AudioObjectID id = 0;
  {
    std::lock_guard lock(mutex_);
    id = newObject(Kind::process);
    processes_.emplace_back(id, pid);
    rewriteProcessList();
  }
  setProperty<SInt32>(id, kAudioProcessPropertyPID, pid);
  setStringProperty(id, kAudioProcessPropertyBundleID, std::move(bundleID));
  setProperty<UInt32>(id, kAudioProcessPropertyIsRunningInput, runningInput ? 1U : 0U);
  return id;
}

void SimulatedHost::setRunningInput(AudioObjectID process, bool runningInput) {
  setProperty<UInt32>(process, kAudioProcessPropertyIsRunningInput, runningInput ? 1U : 0U);
}

void SimulatedHost::removeProcess(AudioObjectID process) {
  std::lock_guard lock(mutex_);
  std::erase_if(processes_, [process](const auto& entry) { return entry.first == process; });
  objects_.erase(process);
  rewriteProcessList();
}

void SimulatedHost::setRunningApplication(std::int32_t pid, std::optional<std::string> bundleID) {
  std::lock_guard lock(mutex_);
  runningApplications_[pid] = std::move(bundleID);
}

Snapshot<std::int32_t> SimulatedHost::runningApplicationLookups() const {
  std::lock_guard lock(mutex_);
  return Snapshot<std::int32_t>(runningApplicationLookups_);
}

// ---- Raw properties --------------------------------------------------------------------

void SimulatedHost::setPropertyBytes(AudioObjectID object, AudioObjectPropertySelector selector,
                                     std::vector<std::uint8_t> bytes,
                                     AudioObjectPropertyScope scope) {
  std::lock_guard lock(mutex_);
  objectFor(object).properties[{selector, scope}] = Property{false, std::move(bytes), {}};
}

void SimulatedHost::setStringProperty(AudioObjectID object, AudioObjectPropertySelector selector,
                                      std::string value, AudioObjectPropertyScope scope) {
  std::lock_guard lock(mutex_);
  objectFor(object).properties[{selector, scope}] = Property{true, {}, std::move(value)};
}

void SimulatedHost::removeProperty(AudioObjectID object, AudioObjectPropertySelector selector,
                                   AudioObjectPropertyScope scope) {
  std::lock_guard lock(mutex_);
  auto found = objects_.find(object);
  if (found != objects_.end()) found->second.properties.erase({selector, scope});
}

void SimulatedHost::setPropertyStatus(AudioObjectID object, AudioObjectPropertySelector selector,
                                      OSStatus status) {
  std::lock_guard lock(mutex_);
  auto& statuses = objectFor(object).statuses;
  if (status == noErr) {
    statuses.erase(selector);
  } else {
    statuses[selector] = status;
  }
}

std::optional<std::vector<std::uint8_t>> SimulatedHost::propertyBytes(
    AudioObjectID object, AudioObjectPropertySelector selector,
    AudioObjectPropertyScope scope) const {
  std::lock_guard lock(mutex_);
  auto found = objects_.find(object);
  if (found == objects_.end()) return std::nullopt;
  auto property = found->second.properties.find({selector, scope});
  if (property == found->second.properties.end() || property->second.isString) return std::nullopt;
  return property->second.bytes;
}

std::optional<std::string> SimulatedHost::stringProperty(AudioObjectID object,
                                                         AudioObjectPropertySelector selector,
                                                         AudioObjectPropertyScope scope) const {
  std::lock_guard lock(mutex_);
  auto found = objects_.find(object);
  if (found == objects_.end()) return std::nullopt;
  auto property = found->second.properties.find({selector, scope});
  if (property == found->second.properties.end() || !property->second.isString) {
    return std::nullopt;
  }
  return property->second.text;
}

bool SimulatedHost::hasObject(AudioObjectID object) const {
  std::lock_guard lock(mutex_);
  return objects_.contains(object);
}

// ---- Chosen failures -------------------------------------------------------------------

void SimulatedHost::setStatus(Operation operation, OSStatus status) {
  std::lock_guard lock(mutex_);
  statuses_[static_cast<std::size_t>(operation)] = status;
}

OSStatus SimulatedHost::operationStatus(Operation operation) const {
  return statuses_[static_cast<std::size_t>(operation)];
}

void SimulatedHost::returnNullIOProcID(bool enabled) {
  std::lock_guard lock(mutex_);
  nullIOProcID_ = enabled;
}

// ---- Taps and aggregate devices --------------------------------------------------------

void SimulatedHost::setTapUID(std::optional<std::string> uid) {
  std::lock_guard lock(mutex_);
  tapUID_ = std::move(uid);
}

void SimulatedHost::setTapUIDStatus(OSStatus status) {
  std::lock_guard lock(mutex_);
  tapUIDStatus_ = status;
}

void SimulatedHost::setAggregateFormat(const AudioStreamBasicDescription& format) {
  std::lock_guard lock(mutex_);
  aggregateFormat_ = format;
}

void SimulatedHost::setAggregateNominalRate(double rate) {
  std::lock_guard lock(mutex_);
  aggregateNominalRate_ = rate;
}

void SimulatedHost::setAggregateFormatStatus(OSStatus status) {
  std::lock_guard lock(mutex_);
  aggregateFormatStatus_ = status;
}

void SimulatedHost::setAggregateNominalRateStatus(OSStatus status) {
  std::lock_guard lock(mutex_);
  aggregateNominalRateStatus_ = status;
}

Snapshot<TapDescription> SimulatedHost::createdTaps() const {
  std::lock_guard lock(mutex_);
  return Snapshot<TapDescription>(createdTaps_);
}

Snapshot<AggregateDeviceDescription> SimulatedHost::createdAggregateDevices() const {
  std::lock_guard lock(mutex_);
  return Snapshot<AggregateDeviceDescription>(createdAggregateDevices_);
}

Snapshot<AudioObjectID> SimulatedHost::liveTaps() const {
  std::lock_guard lock(mutex_);
  Snapshot<AudioObjectID> result;
  for (const auto& [id, object] : objects_) {
    if (object.kind == Kind::tap) result.push_back(id);
  }
  return result;
}

Snapshot<AudioObjectID> SimulatedHost::liveAggregateDevices() const {
  std::lock_guard lock(mutex_);
  Snapshot<AudioObjectID> result;
  for (const auto& [id, object] : objects_) {
    if (object.kind == Kind::aggregateDevice) result.push_back(id);
  }
  return result;
}

Snapshot<SimulatedHost::IOProcRecord> SimulatedHost::ioProcs() const {
  std::lock_guard lock(mutex_);
  Snapshot<IOProcRecord> result;
  for (const auto& proc : ioProcs_) {
    result.push_back({proc->device, proc->id, proc->clientData, proc->running});
  }
  return result;
}

std::size_t SimulatedHost::listenerCount() const {
  std::lock_guard lock(mutex_);
  return listeners_.size();
}

std::size_t SimulatedHost::listenerCount(AudioObjectID object,
                                         AudioObjectPropertySelector selector) const {
  std::lock_guard lock(mutex_);
  return listenersFor(object, selector).size();
}

// ---- The IO thread ---------------------------------------------------------------------

OSStatus SimulatedHost::deliverCycle(const AudioBufferList& input) {
  std::unique_lock lock(mutex_);
  std::shared_ptr<IOProc> chosen;
  for (const auto& proc : ioProcs_) {
    if (!proc->running) continue;
    if (chosen) return kAudioHardwareIllegalOperationError;
    chosen = proc;
  }
  if (!chosen) return kAudioHardwareNotRunningError;
  return runCycle(std::move(lock), chosen, input);
}

OSStatus SimulatedHost::deliverCycle(AudioObjectID device, const AudioBufferList& input) {
  std::unique_lock lock(mutex_);
  for (const auto& proc : ioProcs_) {
    if (proc->device == device && proc->running) return runCycle(std::move(lock), proc, input);
  }
  return kAudioHardwareNotRunningError;
}

OSStatus SimulatedHost::runCycle(std::unique_lock<std::mutex> lock,
                                 const std::shared_ptr<IOProc>& proc,
                                 const AudioBufferList& input) {
  // Registered as in flight before the lock is released, so a stop that takes the lock next
  // waits for this call.
  const auto self = std::this_thread::get_id();
  proc->inFlight.push_back(self);
  AudioTimeStamp now{};
  now.mSampleTime = sampleTime_;
  sampleTime_ += 1.0;
  const AudioTimeStamp inputTime = now;
  const AudioTimeStamp outputTime = now;
  AudioBufferList output{};
  const AudioDeviceIOProc function = proc->proc;
  void* const clientData = proc->clientData;
  const AudioObjectID device = proc->device;
  lock.unlock();

  const OSStatus result =
      function(device, &now, &input, &inputTime, &output, &outputTime, clientData);

  lock.lock();
  proc->inFlight.erase(std::find(proc->inFlight.begin(), proc->inFlight.end(), self));
  lock.unlock();
  ioProcIdle_.notify_all();
  return result;
}

void SimulatedHost::waitForOtherCalls(std::unique_lock<std::mutex>& lock, const IOProc& proc) {
  const auto self = std::this_thread::get_id();
  ioProcIdle_.wait(lock, [&] {
    return std::all_of(proc.inFlight.begin(), proc.inFlight.end(),
                       [&](std::thread::id id) { return id == self; });
  });
}

// ---- The call log ----------------------------------------------------------------------

OSStatus SimulatedHost::log(Operation operation, AudioObjectID object,
                            AudioObjectPropertySelector selector, OSStatus status) {
  calls_.push_back(Call{operationName(operation), object, selector, status});
  return status;
}

Snapshot<SimulatedHost::Call> SimulatedHost::calls() const {
  std::lock_guard lock(mutex_);
  return Snapshot<Call>(calls_);
}

Snapshot<std::string> SimulatedHost::operations() const {
  std::lock_guard lock(mutex_);
  Snapshot<std::string> result;
  result.reserve(calls_.size());
  for (const Call& call : calls_) result.push_back(call.operation);
  return result;
}

void SimulatedHost::clearCalls() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}

// ---- AudioHardware ---------------------------------------------------------------------

const SimulatedHost::Property* SimulatedHost::findForRead(AudioObjectID object,
                                                          const AudioObjectPropertyAddress& address,
                                                          OSStatus& status) const {
  auto found = objects_.find(object);
  if (found == objects_.end()) {
    status = kAudioHardwareBadObjectError;
    return nullptr;
  }
  if (auto failing = found->second.statuses.find(address.mSelector);
      failing != found->second.statuses.end()) {
    status = failing->second;
    return nullptr;
  }
  auto property = found->second.properties.find({address.mSelector, address.mScope});
  if (property == found->second.properties.end()) {
    status = kAudioHardwareUnknownPropertyError;
    return nullptr;
  }
  status = noErr;
  return &property->second;
}

namespace {

bool isPIDTranslation(AudioObjectID object, const AudioObjectPropertyAddress& address) {
  return object == kAudioObjectSystemObject &&
         address.mSelector == kAudioHardwarePropertyTranslatePIDToProcessObject &&
         address.mScope == kAudioObjectPropertyScopeGlobal;
}

}  // namespace

OSStatus SimulatedHost::getPropertyDataSize(AudioObjectID object,
                                            const AudioObjectPropertyAddress& address,
                                            UInt32 /*qualifierSize*/, const void* /*qualifier*/,
                                            UInt32& outDataSize) {
  std::lock_guard lock(mutex_);
  constexpr auto operation = Operation::getPropertyDataSize;
  if (const OSStatus status = operationStatus(operation); status != noErr) {
    return log(operation, object, address.mSelector, status);
  }
  if (isPIDTranslation(object, address) && objects_.contains(object) &&
      !objects_.at(object).statuses.contains(address.mSelector)) {
    outDataSize = sizeof(AudioObjectID);
    return log(operation, object, address.mSelector, noErr);
  }
  OSStatus status = noErr;
  const Property* property = findForRead(object, address, status);
  if (property != nullptr) {
    outDataSize =
        property->isString ? kStringReferenceSize : static_cast<UInt32>(property->bytes.size());
  }
  return log(operation, object, address.mSelector, status);
}

OSStatus SimulatedHost::getPropertyData(AudioObjectID object,
                                        const AudioObjectPropertyAddress& address,
                                        UInt32 qualifierSize, const void* qualifier,
                                        UInt32& ioDataSize, void* outData) {
  std::lock_guard lock(mutex_);
  constexpr auto operation = Operation::getPropertyData;
  if (const OSStatus status = operationStatus(operation); status != noErr) {
    return log(operation, object, address.mSelector, status);
  }
  if (outData == nullptr) return log(operation, object, address.mSelector, kAudio_ParamError);

  if (isPIDTranslation(object, address) && objects_.contains(object) &&
      !objects_.at(object).statuses.contains(address.mSelector)) {
    if (qualifier == nullptr || qualifierSize != sizeof(std::int32_t)) {
      return log(operation, object, address.mSelector, kAudioHardwareBadPropertySizeError);
    }
    std::int32_t pid = 0;
    std::memcpy(&pid, qualifier, sizeof(pid));
    AudioObjectID process = kAudioObjectUnknown;
    for (const auto& [id, processPID] : processes_) {
      if (processPID == pid) {
        process = id;
        break;
      }
    }
    std::vector<std::uint8_t> bytes(sizeof(process));
    std::memcpy(bytes.data(), &process, sizeof(process));
    return log(operation, object, address.mSelector, copyOut(bytes, ioDataSize, outData));
  }

  OSStatus status = noErr;
  const Property* property = findForRead(object, address, status);
  if (property == nullptr) return log(operation, object, address.mSelector, status);
  if (property->isString) {
    return log(operation, object, address.mSelector, kAudioHardwareUnsupportedOperationError);
  }
  return log(operation, object, address.mSelector, copyOut(property->bytes, ioDataSize, outData));
}

OSStatus SimulatedHost::getPropertyString(AudioObjectID object,
                                          const AudioObjectPropertyAddress& address,
                                          std::string& outValue) {
  std::lock_guard lock(mutex_);
  constexpr auto operation = Operation::getPropertyString;
  if (const OSStatus status = operationStatus(operation); status != noErr) {
    return log(operation, object, address.mSelector, status);
  }
  OSStatus status = noErr;
  const Property* property = findForRead(object, address, status);
  if (property == nullptr) return log(operation, object, address.mSelector, status);
  if (!property->isString) {
    return log(operation, object, address.mSelector, kAudioHardwareUnsupportedOperationError);
  }
  outValue = property->text;
  return log(operation, object, address.mSelector, noErr);
}

OSStatus SimulatedHost::addPropertyListener(AudioObjectID object,
                                            const AudioObjectPropertyAddress& address,
                                            std::shared_ptr<DispatchQueue> queue,
                                            PropertyListener listener) {
  std::lock_guard lock(mutex_);
  constexpr auto operation = Operation::addPropertyListener;
  if (const OSStatus status = operationStatus(operation); status != noErr) {
    return log(operation, object, address.mSelector, status);
  }
  if (!queue || !listener) return log(operation, object, address.mSelector, kAudio_ParamError);
  if (!objects_.contains(object)) {
    return log(operation, object, address.mSelector, kAudioHardwareBadObjectError);
  }
  listeners_.push_back(Listener{object, address, std::move(queue), std::move(listener)});
  return log(operation, object, address.mSelector, noErr);
}

OSStatus SimulatedHost::createProcessTap(const TapDescription& description,
                                         AudioObjectID& outTapID) {
  std::lock_guard lock(mutex_);
  constexpr auto operation = Operation::createProcessTap;
  if (const OSStatus status = operationStatus(operation); status != noErr) {
    return log(operation, kAudioObjectUnknown, 0, status);
  }
  const AudioObjectID id = newObject(Kind::tap);
  Object& tap = objects_[id];
  const std::string uid = tapUID_.value_or("SIMULATED-TAP-" + std::to_string(id));
  tap.properties[{kAudioTapPropertyUID, kAudioObjectPropertyScopeGlobal}] = Property{true, {}, uid};
  if (tapUIDStatus_ != noErr) tap.statuses[kAudioTapPropertyUID] = tapUIDStatus_;
  createdTaps_.push_back(description);
  outTapID = id;
  return log(operation, id, 0, noErr);
}

OSStatus SimulatedHost::destroyProcessTap(AudioObjectID tapID) {
  std::lock_guard lock(mutex_);
  constexpr auto operation = Operation::destroyProcessTap;
  if (const OSStatus status = operationStatus(operation); status != noErr) {
    return log(operation, tapID, 0, status);
  }
  auto found = objects_.find(tapID);
  if (found == objects_.end() || found->second.kind != Kind::tap) {
    return log(operation, tapID, 0, kAudioHardwareBadObjectError);
  }
  objects_.erase(found);
  return log(operation, tapID, 0, noErr);
}

OSStatus SimulatedHost::createAggregateDevice(const AggregateDeviceDescription& description,
                                              AudioObjectID& outDeviceID) {
  std::lock_guard lock(mutex_);
  constexpr auto operation = Operation::createAggregateDevice;
  if (const OSStatus status = operationStatus(operation); status != noErr) {
    return log(operation, kAudioObjectUnknown, 0, status);
  }
  const AudioObjectID id = newObject(Kind::aggregateDevice);
  Object& device = objects_[id];
  std::vector<std::uint8_t> format(sizeof(AudioStreamBasicDescription));
  std::memcpy(format.data(), &aggregateFormat_, sizeof(AudioStreamBasicDescription));
  device.properties[{kAudioDevicePropertyStreamFormat, kAudioObjectPropertyScopeInput}] =
      Property{false, std::move(format), {}};
  std::vector<std::uint8_t> rate(sizeof(Float64));
  std::memcpy(rate.data(), &aggregateNominalRate_, sizeof(Float64));
  device.properties[{kAudioDevicePropertyNominalSampleRate, kAudioObjectPropertyScopeGlobal}] =
      Property{false, std::move(rate), {}};
  device.properties[{kAudioDevicePropertyDeviceUID, kAudioObjectPropertyScopeGlobal}] =
      Property{true, {}, description.uid};
  if (aggregateFormatStatus_ != noErr) {
    device.statuses[kAudioDevicePropertyStreamFormat] = aggregateFormatStatus_;
  }
  if (aggregateNominalRateStatus_ != noErr) {
    device.statuses[kAudioDevicePropertyNominalSampleRate] = aggregateNominalRateStatus_;
  }
  createdAggregateDevices_.push_back(description);
  outDeviceID = id;
  return log(operation, id, 0, noErr);
}

OSStatus SimulatedHost::destroyAggregateDevice(AudioObjectID deviceID) {
  std::unique_lock lock(mutex_);
  constexpr auto operation = Operation::destroyAggregateDevice;
  if (const OSStatus status = operationStatus(operation); status != noErr) {
    return log(operation, deviceID, 0, status);
  }
  auto found = objects_.find(deviceID);
  if (found == objects_.end() || found->second.kind != Kind::aggregateDevice) {
    return log(operation, deviceID, 0, kAudioHardwareBadDeviceError);
  }
  objects_.erase(found);
  // The device's IO procedures go with it, once no other thread is inside them.
  for (const auto& proc : ioProcs_) {
    if (proc->device == deviceID) proc->running = false;
  }
  const std::vector<std::shared_ptr<IOProc>> procs = ioProcs_;
  for (const auto& proc : procs) {
    if (proc->device == deviceID) waitForOtherCalls(lock, *proc);
  }
  std::erase_if(ioProcs_, [deviceID](const auto& proc) { return proc->device == deviceID; });
  return log(operation, deviceID, 0, noErr);
}

std::shared_ptr<SimulatedHost::IOProc> SimulatedHost::findIOProc(AudioObjectID device,
                                                                 AudioDeviceIOProcID id) const {
  for (const auto& proc : ioProcs_) {
    if (proc->device == device && proc->id == id) return proc;
  }
  return nullptr;
}

OSStatus SimulatedHost::createIOProcID(AudioObjectID deviceID, AudioDeviceIOProc proc,
                                       void* clientData, AudioDeviceIOProcID& outProcID) {
  std::lock_guard lock(mutex_);
  constexpr auto operation = Operation::createIOProcID;
  if (const OSStatus status = operationStatus(operation); status != noErr) {
    return log(operation, deviceID, 0, status);
  }
  if (proc == nullptr) return log(operation, deviceID, 0, kAudio_ParamError);
  auto found = objects_.find(deviceID);
  if (found == objects_.end() ||
      (found->second.kind != Kind::device && found->second.kind != Kind::aggregateDevice)) {
    return log(operation, deviceID, 0, kAudioHardwareBadDeviceError);
  }
  if (nullIOProcID_) {
    outProcID = nullptr;
    return log(operation, deviceID, 0, noErr);
  }
  auto record = std::make_shared<IOProc>();
  record->device = deviceID;
  record->proc = proc;
  record->clientData = clientData;
  // An opaque, distinct, non-null token; nothing ever calls through it.
  record->id = reinterpret_cast<AudioDeviceIOProcID>(0x10000 + 0x10 * nextIOProcToken_++);
  ioProcs_.push_back(record);
  outProcID = record->id;
  return log(operation, deviceID, 0, noErr);
}

// What every call on a registered IO procedure starts with: the chosen status, then the
// lookup. Returns the procedure, or null with the logged failing status in `failure`.
std::shared_ptr<SimulatedHost::IOProc> SimulatedHost::ioProcForCall(Operation operation,
                                                                    AudioObjectID deviceID,
                                                                    AudioDeviceIOProcID procID,
                                                                    OSStatus& failure) {
  if (const OSStatus status = operationStatus(operation); status != noErr) {
    failure = log(operation, deviceID, 0, status);
    return nullptr;
  }
  auto proc = findIOProc(deviceID, procID);
  if (!proc) {
    failure = log(operation, deviceID, 0,
                  objects_.contains(deviceID) ? kAudioHardwareIllegalOperationError
                                              : kAudioHardwareBadDeviceError);
  }
  return proc;
}

OSStatus SimulatedHost::destroyIOProcID(AudioObjectID deviceID, AudioDeviceIOProcID procID) {
  std::unique_lock lock(mutex_);
  constexpr auto operation = Operation::destroyIOProcID;
  OSStatus failure = noErr;
  const auto proc = ioProcForCall(operation, deviceID, procID, failure);
  if (!proc) return failure;
  proc->running = false;
  waitForOtherCalls(lock, *proc);
  std::erase(ioProcs_, proc);
  return log(operation, deviceID, 0, noErr);
}

OSStatus SimulatedHost::deviceStart(AudioObjectID deviceID, AudioDeviceIOProcID procID) {
  std::lock_guard lock(mutex_);
  constexpr auto operation = Operation::deviceStart;
  OSStatus failure = noErr;
  const auto proc = ioProcForCall(operation, deviceID, procID, failure);
  if (!proc) return failure;
  proc->running = true;
  return log(operation, deviceID, 0, noErr);
}

OSStatus SimulatedHost::deviceStop(AudioObjectID deviceID, AudioDeviceIOProcID procID) {
  std::unique_lock lock(mutex_);
  constexpr auto operation = Operation::deviceStop;
  OSStatus failure = noErr;
  const auto proc = ioProcForCall(operation, deviceID, procID, failure);
  if (!proc) return failure;
  proc->running = false;
  waitForOtherCalls(lock, *proc);
  return log(operation, deviceID, 0, noErr);
}

std::optional<std::string> SimulatedHost::runningApplicationBundleID(std::int32_t pid) {
  std::lock_guard lock(mutex_);
  runningApplicationLookups_.push_back(pid);
  auto found = runningApplications_.find(pid);
  if (found == runningApplications_.end()) return std::nullopt;
  return found->second;
}

}  // namespace talvorin::testing
