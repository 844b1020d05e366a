// A device tap at work: one record stream on the sink's monitor source, its chunks gathered
// into IO cycles of about 10 ms of the sink's own format.
#pragma once

#include <optional>

#include <pulse/stream.h>

#include "platform/pulse/capture_engine.hpp"
#include "platform/pulse/cycle_assembler.hpp"
#include "platform/pulse/server_queries.hpp"

namespace talvorin::pulse {

class DeviceMonitorCapture final : public CaptureEngine {
 public:
  DeviceMonitorCapture(PulseLoop& loop, SinkInfo sink, IOTarget target);
  ~DeviceMonitorCapture() override;

  OSStatus start() override;
  void stop() override;

 private:
  static void onRead(pa_stream* stream, std::size_t bytes, void* userdata);
  static void onState(pa_stream* stream, void* userdata);
  void release();

  PulseLoop& loop_;
  SinkInfo sink_;
  CycleAssembler assembler_;
  CycleDelivery delivery_;
  pa_stream* stream_ = nullptr;
};

}  // namespace talvorin::pulse
