// A process tap at work: one record stream per playback stream (sink input) of the target
// processes, each limited to its sink input with pa_stream_set_monitor_stream, downmixed and
// mixed in the client, and delivered as mono IO cycles on a 10 ms timer, so that silence keeps
// flowing while the targets play nothing. Sink inputs that appear later are picked up from
// the server's SINK_INPUT events.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <vector>

#include <pulse/stream.h>

#include "platform/pulse/capture_engine.hpp"
#include "platform/pulse/mono_mixer.hpp"
#include "platform/pulse/server_queries.hpp"

namespace talvorin::pulse {

class ProcessMixCapture final : public CaptureEngine,
                                public std::enable_shared_from_this<ProcessMixCapture> {
 public:
  static constexpr std::uint32_t kSampleRate = 48'000;
  static constexpr std::size_t kFramesPerCycle = kSampleRate / 100;

  ProcessMixCapture(PulseLoop& loop, std::set<std::int32_t> processIDs, IOTarget target);
  ~ProcessMixCapture() override;

  OSStatus start() override;
  void stop() override;
  void onSinkInputEvent(pa_subscription_event_type_t operation, std::uint32_t index) override;

 private:
  struct Monitor {
    ProcessMixCapture* owner = nullptr;
    std::uint32_t sinkInput = PA_INVALID_INDEX;
    std::size_t channels = 0;
    pa_stream* stream = nullptr;
    bool ended = false;
  };
  struct PendingLookup;

  void consider(const SinkInputInfo& input);
  void open(const SinkInputInfo& input, const std::string& monitorSource);
  void close(std::uint32_t sinkInput);
  void closeEnded();
  void tick();

  static void onSinkInputInfo(pa_context*, const pa_sink_input_info* info, int eol, void* data);
  static void onSinkInfo(pa_context*, const pa_sink_info* info, int eol, void* data);
  static void onRead(pa_stream* stream, std::size_t bytes, void* userdata);
  static void onStreamState(pa_stream* stream, void* userdata);
  static void onMoved(pa_stream* stream, void* userdata);
  static void onTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata);

  PulseLoop& loop_;
  std::set<std::int32_t> processIDs_;
  MonoMixer mixer_;
  CycleDelivery delivery_;
  std::vector<float> cycle_;
  std::map<std::uint32_t, std::unique_ptr<Monitor>> monitors_;
  // Sink inputs whose lookup is under way, so that a burst of events opens one stream.
  std::set<std::uint32_t> pending_;
  pa_time_event* timer_ = nullptr;
  pa_usec_t startedAt_ = 0;
  std::uint64_t cyclesDelivered_ = 0;
  bool running_ = false;
};

}  // namespace talvorin::pulse
