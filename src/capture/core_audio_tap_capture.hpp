// The live capture: one object per process, holding the process tap, the private aggregate
// device that reads it and the IO procedure on that device, the queues its work runs on, the
// conversion state of every IO cycle, and what it needs to follow the default output device.
//
// Threads meet here. The fields are not locked, with one exception:
// - the main thread constructs the object, runs the first createCapture and registers the
//   default-output listener;
// - afterwards createCapture and teardownCapture run only on deviceChangeQueue, one rebind
//   at a time;
// - the backend's IO thread runs coreAudioTapIOProc and handleInput, which read
//   streamDescription (written only while no IO procedure of this capture is installed) and
//   alone touch the resampler and the counters;
// - startQueue runs the start work. It races with a rebind that tears the capture down, so
//   the Core Audio handles (tapID, aggregateDeviceID, ioProcID, started) are read and written
//   under buildMutex_ wherever those two queues meet. The IO thread never takes that lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include <unistd.h>

#include "pipeline/binary_frame_writer.hpp"
#include "pipeline/streaming_resampler.hpp"
#include "platform/audio_hardware.hpp"
#include "platform/dispatch.hpp"

namespace talvorin {

// The product's reverse-DNS prefix: it begins the queue labels and the aggregate UID.
inline constexpr std::string_view kProductPrefix = "com.talvorin";

inline constexpr std::string_view kTapName = "Talvorin System Audio";
inline constexpr std::string_view kAggregateDeviceName = "Talvorin System Audio Capture";

// Seconds between the last default-output notification and the rebind it leads to.
inline constexpr double kRebindDelay = 0.4;

// A "chunk" statistics event is written for the first frame and every this many frames.
inline constexpr std::int64_t kStatisticsInterval = 50;

// Where a capture writes: standard output and standard error, or what a test points them at.
struct CaptureStreams {
  int frames = STDOUT_FILENO;  // binary frames
  int events = STDERR_FILENO;  // event lines
};

class CoreAudioTapCapture : public std::enable_shared_from_this<CoreAudioTapCapture> {
 public:
  using Streams = CaptureStreams;

  // Makes no hardware call and cannot fail. `onOutputClosed` runs once if the frame stream
  // can no longer be written (the reader went away).
  CoreAudioTapCapture(AudioHardware& hardware, Dispatch& dispatch, Streams streams = {},
                      std::function<void()> onOutputClosed = {});

  CoreAudioTapCapture(const CoreAudioTapCapture&) = delete;
  CoreAudioTapCapture& operator=(const CoreAudioTapCapture&) = delete;

  // Builds the tap, the aggregate device and the IO procedure, and queues the device start
  // on startQueue. Throws HelperError after undoing what this call built. The object must be
  // owned by a shared_ptr: the queued work refers to it weakly.
  void createCapture();

  // Stops and destroys whatever Core Audio objects the capture holds, in order: device
  // stop, IO procedure, aggregate device, tap. Statuses are ignored; every handle is reset.
  void teardownCapture();

  // Follows the default output device: notifications on deviceChangeQueue, each pushing the
  // rebind 0.4 s further out.
  void registerDefaultOutputListener();
  void scheduleRebindToDefaultOutput();
  void rebindToDefaultOutput();

  // One IO cycle, on the backend's IO thread: decode, resample to 16 kHz, encode, count, and
  // hand the frame to outputQueue.
  void handleInput(const AudioBufferList* bufferList);

  // Writes the "format" event and remembers that a format was reported.
  void emitFormatState(const AudioStreamBasicDescription& format);

  // The IO procedure registered on the aggregate device; its client data is a non-owning
  // pointer to the capture, which lives as long as the process.
  static OSStatus coreAudioTapIOProc(AudioObjectID device, const AudioTimeStamp* now,
                                     const AudioBufferList* inputData,
                                     const AudioTimeStamp* inputTime, AudioBufferList* outputData,
                                     const AudioTimeStamp* outputTime, void* clientData);

  // Read-only views for the driver and for tests.
  AudioObjectID tapID() const;
  AudioObjectID aggregateDeviceID() const;
  AudioDeviceIOProcID ioProcID() const;
  bool started() const;
  const AudioStreamBasicDescription& streamDescription() const { return streamDescription_; }
  bool loggedFormat() const { return loggedFormat_; }
  std::int64_t chunkCount() const { return chunkCount_; }
  std::int64_t byteCount() const { return byteCount_; }
  bool stopped() const { return stopped_; }
  const std::optional<std::string>& boundOutputDeviceUID() const { return boundOutputDeviceUID_; }
  bool usesDeviceTap() const { return usesDeviceTap_; }
  const StreamingResampler& resampler() const { return resampler_; }
  bool hasDeviceListener() const { return deviceListenerBlock_.has_value(); }
  const std::shared_ptr<DispatchQueue>& outputQueue() const { return outputQueue_; }
  const std::shared_ptr<DispatchQueue>& startQueue() const { return startQueue_; }
  const std::shared_ptr<DispatchQueue>& deviceChangeQueue() const { return deviceChangeQueue_; }

 private:
  void runStartWork(AudioDeviceIOProcID procID, std::uint64_t build);

  AudioHardware& hardware_;
  Streams streams_;

  std::shared_ptr<BinaryFrameWriter> writer_;
  std::shared_ptr<DispatchQueue> outputQueue_;
  std::shared_ptr<DispatchQueue> startQueue_;
  StreamingResampler resampler_;

  mutable std::mutex buildMutex_;
  AudioObjectID tapID_ = kAudioObjectUnknown;
  AudioObjectID aggregateDeviceID_ = kAudioObjectUnknown;
  AudioDeviceIOProcID ioProcID_ = nullptr;
  bool started_ = false;
  // Counts teardowns, so that a start queued for a build that has since been torn down
  // (a rebind overtook it) knows to do nothing.
  std::uint64_t buildGeneration_ = 0;

  AudioStreamBasicDescription streamDescription_;
  bool loggedFormat_ = false;
  std::int64_t chunkCount_ = 0;
  std::int64_t byteCount_ = 0;
  bool stopped_ = false;
  std::optional<std::string> boundOutputDeviceUID_;
  bool usesDeviceTap_ = false;

  std::shared_ptr<DispatchQueue> deviceChangeQueue_;
  std::optional<PropertyListener> deviceListenerBlock_;
  std::shared_ptr<DispatchWorkItem> rebindWorkItem_;
};

}  // namespace talvorin
