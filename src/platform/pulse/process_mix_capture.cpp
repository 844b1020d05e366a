#include "platform/pulse/process_mix_capture.hpp"

#include <pulse/rtclock.h>

#include "platform/pulse/status_codes.hpp"

namespace talvorin::pulse {
namespace {

constexpr pa_usec_t kCycleUsec = 10'000;
// A stream contributes once it holds four cycles (the server hands a monitor's audio over in
// bursts of 10-25 ms), and never holds more than 20.
constexpr std::size_t kPrimeFrames = 4 * ProcessMixCapture::kFramesPerCycle;
constexpr std::size_t kMaxFrames = 20 * ProcessMixCapture::kFramesPerCycle;
// After a stall of the mainloop thread, no more than this many cycles are caught up.
constexpr std::uint64_t kMaxCatchUpCycles = 5;

}  // namespace

// A lookup in flight holds the capture weakly: it may be stopped and gone before the answer.
struct ProcessMixCapture::PendingLookup {
  std::weak_ptr<ProcessMixCapture> owner;
  SinkInputInfo input;
};

ProcessMixCapture::ProcessMixCapture(PulseLoop& loop, std::set<std::int32_t> processIDs,
                                     IOTarget target)
    : loop_(loop),
      processIDs_(std::move(processIDs)),
      mixer_(kFramesPerCycle, kPrimeFrames, kMaxFrames),
      delivery_(target, 1),
      cycle_(kFramesPerCycle) {}

ProcessMixCapture::~ProcessMixCapture() {
  stop();
}

OSStatus ProcessMixCapture::start() {
  if (running_) return noErr;
  std::vector<SinkInputInfo> inputs;
  if (const OSStatus status = querySinkInputs(loop_, inputs); status != noErr) return status;
  running_ = true;
  for (const SinkInputInfo& input : inputs) consider(input);
  startedAt_ = pa_rtclock_now();
  cyclesDelivered_ = 0;
  timer_ = pa_context_rttime_new(loop_.context(), startedAt_ + kCycleUsec,
                                 &ProcessMixCapture::onTimer, this);
  if (timer_ == nullptr) {
    stop();
    return kStreamFailed;
  }
  return noErr;
}

void ProcessMixCapture::stop() {
  running_ = false;
  if (timer_ != nullptr) {
    loop_.api()->time_free(timer_);
    timer_ = nullptr;
  }
  while (!monitors_.empty()) close(monitors_.begin()->first);
  pending_.clear();
}

void ProcessMixCapture::onSinkInputEvent(pa_subscription_event_type_t operation,
                                         std::uint32_t index) {
  if (!running_) return;
  if (operation == PA_SUBSCRIPTION_EVENT_REMOVE) {
    close(index);
    return;
  }
  if (monitors_.contains(index) || pending_.contains(index)) return;
  // Mainloop thread: no waiting here, the answer comes back as a callback.
  auto* lookup = new PendingLookup{weak_from_this(), SinkInputInfo{}};
  lookup->input.index = index;
  pa_operation* request = pa_context_get_sink_input_info(
      loop_.context(), index, &ProcessMixCapture::onSinkInputInfo, lookup);
  if (request == nullptr) {
    delete lookup;
    return;
  }
  pending_.insert(index);
  pa_operation_unref(request);
}

void ProcessMixCapture::consider(const SinkInputInfo& input) {
  if (!processIDs_.contains(input.processID) || monitors_.contains(input.index)) return;
  auto* lookup = new PendingLookup{weak_from_this(), input};
  pa_operation* request = pa_context_get_sink_info_by_index(loop_.context(), input.sink,
                                                            &ProcessMixCapture::onSinkInfo, lookup);
  if (request == nullptr) {
    delete lookup;
    return;
  }
  pending_.insert(input.index);
  pa_operation_unref(request);
}

void ProcessMixCapture::onSinkInputInfo(pa_context*, const pa_sink_input_info* info, int eol,
                                        void* data) {
  auto* lookup = static_cast<PendingLookup*>(data);
  if (eol == 0 && info != nullptr) {
    lookup->input = sinkInputInfoOf(*info);
    return;  // the end of the list follows
  }
  if (auto owner = lookup->owner.lock(); owner && owner->running_) {
    owner->pending_.erase(lookup->input.index);
    if (lookup->input.sink != PA_INVALID_INDEX) owner->consider(lookup->input);
  }
  delete lookup;
}

void ProcessMixCapture::onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* data) {
  auto* lookup = static_cast<PendingLookup*>(data);
  if (eol == 0 && info != nullptr) {
    if (auto owner = lookup->owner.lock(); owner && owner->running_) {
      owner->pending_.erase(lookup->input.index);
      if (info->monitor_source_name != nullptr) {
        owner->open(lookup->input, info->monitor_source_name);
      }
    }
    return;
  }
  if (auto owner = lookup->owner.lock()) owner->pending_.erase(lookup->input.index);
  delete lookup;
}

void ProcessMixCapture::open(const SinkInputInfo& input, const std::string& monitorSource) {
  if (monitors_.contains(input.index)) return;
  const std::uint8_t channels =
      input.sampleSpec.channels > 0 && input.sampleSpec.channels <= PA_CHANNELS_MAX
          ? input.sampleSpec.channels
          : 2;
  const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, kSampleRate, channels};
  pa_channel_map map = input.channelMap;
  if (!pa_channel_map_valid(&map) || map.channels != channels) {
    pa_channel_map_init_auto(&map, channels, PA_CHANNEL_MAP_DEFAULT);
  }
  // The stream's own layout, so the server does not remix: the downmix is done here, the same
  // on every server.
  pa_stream* stream = pa_stream_new(loop_.context(), "Talvorin process audio", &format, &map);
  if (stream == nullptr) return;
  auto monitor = std::make_unique<Monitor>(Monitor{this, input.index, channels, stream, false});
  pa_stream_set_read_callback(stream, &ProcessMixCapture::onRead, monitor.get());
  pa_stream_set_state_callback(stream, &ProcessMixCapture::onStreamState, monitor.get());
  pa_stream_set_moved_callback(stream, &ProcessMixCapture::onMoved, monitor.get());
  pa_stream_set_monitor_stream(stream, input.index);

  pa_buffer_attr attributes{};
  attributes.maxlength = static_cast<std::uint32_t>(-1);
  attributes.tlength = static_cast<std::uint32_t>(-1);
  attributes.prebuf = static_cast<std::uint32_t>(-1);
  attributes.minreq = static_cast<std::uint32_t>(-1);
  attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kCycleUsec, &format));
  const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
  if (pa_stream_connect_record(stream, monitorSource.c_str(), &attributes, flags) < 0) {
    pa_stream_set_read_callback(stream, nullptr, nullptr);
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_moved_callback(stream, nullptr, nullptr);
    pa_stream_unref(stream);
    return;
  }
  mixer_.addSource(input.index);
  monitors_.emplace(input.index, std::move(monitor));
}

void ProcessMixCapture::close(std::uint32_t sinkInput) {
  const auto found = monitors_.find(sinkInput);
  if (found == monitors_.end()) return;
  pa_stream* stream = found->second->stream;
  pa_stream_set_read_callback(stream, nullptr, nullptr);
  pa_stream_set_state_callback(stream, nullptr, nullptr);
  pa_stream_set_moved_callback(stream, nullptr, nullptr);
  if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) pa_stream_disconnect(stream);
  pa_stream_unref(stream);
  mixer_.removeSource(sinkInput);
  monitors_.erase(found);
}

// Streams are never released inside their own callbacks; the next tick closes them.
void ProcessMixCapture::closeEnded() {
  std::vector<std::uint32_t> ended;
  for (const auto& [index, monitor] : monitors_) {
    if (monitor->ended) ended.push_back(index);
  }
  for (const std::uint32_t index : ended) {
    close(index);
    // A sink input that moved to another sink is still playing: look it up again. One that
    // ended is gone, and the lookup finds nothing.
    onSinkInputEvent(PA_SUBSCRIPTION_EVENT_CHANGE, index);
  }
}

void ProcessMixCapture::tick() {
  closeEnded();
  const pa_usec_t now = pa_rtclock_now();
  const std::uint64_t due = (now - startedAt_) / kCycleUsec;
  if (due > cyclesDelivered_ + kMaxCatchUpCycles) cyclesDelivered_ = due - kMaxCatchUpCycles;
  while (running_ && cyclesDelivered_ < due) {
    mixer_.mixCycle(cycle_.data());
    delivery_(cycle_.data(), kFramesPerCycle);
    ++cyclesDelivered_;
  }
  if (running_ && timer_ != nullptr) {
    pa_context_rttime_restart(loop_.context(), timer_,
                              startedAt_ + (cyclesDelivered_ + 1) * kCycleUsec);
  }
}

void ProcessMixCapture::onRead(pa_stream* stream, std::size_t, void* userdata) {
  auto* monitor = static_cast<Monitor*>(userdata);
  const std::size_t frameBytes = sizeof(float) * monitor->channels;
  while (pa_stream_readable_size(stream) > 0) {
    const void* data = nullptr;
    std::size_t bytes = 0;
    if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) return;
    // An ended stream may already record something else (the whole sink, after a move).
    if (!monitor->ended)
      monitor->owner->mixer_.push(monitor->sinkInput, static_cast<const float*>(data),
                                  bytes / frameBytes, monitor->channels);
    pa_stream_drop(stream);
  }
}

void ProcessMixCapture::onStreamState(pa_stream* stream, void* userdata) {
  // The sink input ended: PulseAudio fails the stream ("Entity killed").
  if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
    static_cast<Monitor*>(userdata)->ended = true;
}

void ProcessMixCapture::onMoved(pa_stream*, void* userdata) {
  // PipeWire moves a stream whose sink input ended; it would then record the whole sink.
  static_cast<Monitor*>(userdata)->ended = true;
}

void ProcessMixCapture::onTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*,
                                void* userdata) {
  static_cast<ProcessMixCapture*>(userdata)->tick();
}

}  // namespace talvorin::pulse
