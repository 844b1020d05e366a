#include "platform/pulse/device_monitor_capture.hpp"

#include "platform/pulse/status_codes.hpp"

namespace talvorin::pulse {
namespace {

constexpr pa_usec_t kFragmentUsec = 10'000;

std::size_t framesPerCycle(const pa_sample_spec& format) {
  return format.rate >= 100 ? format.rate / 100 : 1;  // 10 ms
}

}  // namespace

DeviceMonitorCapture::DeviceMonitorCapture(PulseLoop& loop, SinkInfo sink, IOTarget target)
    : loop_(loop),
      sink_(std::move(sink)),
      assembler_(sink_.sampleSpec.channels, framesPerCycle(sink_.sampleSpec)),
      delivery_(target, sink_.sampleSpec.channels) {}

DeviceMonitorCapture::~DeviceMonitorCapture() {
  release();
}

OSStatus DeviceMonitorCapture::start() {
  if (stream_ != nullptr) return noErr;
  pa_sample_spec format{PA_SAMPLE_FLOAT32LE, sink_.sampleSpec.rate, sink_.sampleSpec.channels};
  pa_channel_map map = sink_.channelMap;
  if (!pa_channel_map_valid(&map) || map.channels != format.channels) {
    pa_channel_map_init_auto(&map, format.channels, PA_CHANNEL_MAP_DEFAULT);
  }
  stream_ = pa_stream_new(loop_.context(), "Talvorin System Audio", &format, &map);
  if (stream_ == nullptr) return kStreamFailed;
  pa_stream_set_read_callback(stream_, &DeviceMonitorCapture::onRead, this);
  pa_stream_set_state_callback(stream_, &DeviceMonitorCapture::onState, this);

  pa_buffer_attr attributes{};
  attributes.maxlength = static_cast<std::uint32_t>(-1);
  attributes.tlength = static_cast<std::uint32_t>(-1);
  attributes.prebuf = static_cast<std::uint32_t>(-1);
  attributes.minreq = static_cast<std::uint32_t>(-1);
  attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kFragmentUsec, &format));
  // DONT_MOVE: when the sink goes away the server would otherwise move the stream to the
  // default source, a microphone.
  const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
  if (pa_stream_connect_record(stream_, sink_.monitorSource.c_str(), &attributes, flags) < 0) {
    release();
    return kStreamFailed;
  }
  const OSStatus status = loop_.waitUntil([this] {
    const pa_stream_state_t state = pa_stream_get_state(stream_);
    return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
  });
  if (status != noErr) {
    release();
    return status;
  }
  if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
    release();
    return kStreamFailed;
  }
  return noErr;
}

void DeviceMonitorCapture::stop() {
  release();
}

void DeviceMonitorCapture::release() {
  if (stream_ == nullptr) return;
  pa_stream_set_read_callback(stream_, nullptr, nullptr);
  pa_stream_set_state_callback(stream_, nullptr, nullptr);
  if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
  stream_ = nullptr;
}

void DeviceMonitorCapture::onRead(pa_stream* stream, std::size_t, void* userdata) {
  auto* self = static_cast<DeviceMonitorCapture*>(userdata);
  const std::size_t frameBytes = sizeof(float) * self->assembler_.channels();
  while (pa_stream_readable_size(stream) > 0) {
    const void* data = nullptr;
    std::size_t bytes = 0;
    if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) return;
    // A hole (null data) becomes silence of its length, so the cycles keep time.
    self->assembler_.push(static_cast<const float*>(data), bytes / frameBytes, self->delivery_);
    pa_stream_drop(stream);
  }
}

void DeviceMonitorCapture::onState(pa_stream*, void* userdata) {
  static_cast<DeviceMonitorCapture*>(userdata)->loop_.signal();
}

}  // namespace talvorin::pulse
