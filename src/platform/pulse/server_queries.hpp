// Synchronous reads of the server's state, each one request answered through PulseLoop.
// Lock held, never on the mainloop thread. Each returns noErr or the loop's failure status.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <pulse/channelmap.h>
#include <pulse/introspect.h>
#include <pulse/sample.h>

#include "platform/pulse/pulse_loop.hpp"

namespace talvorin::pulse {

struct SinkInfo {
  std::uint32_t index = PA_INVALID_INDEX;
  std::string name;
  std::string monitorSource;
  pa_sample_spec sampleSpec{};
  pa_channel_map channelMap{};
};

struct ClientInfo {
  std::uint32_t index = PA_INVALID_INDEX;
  std::int32_t processID = 0;  // 0 when the client did not say
  std::string applicationID;   // empty when the client did not set one
};

struct SourceOutputInfo {
  std::uint32_t index = PA_INVALID_INDEX;
  std::uint32_t source = PA_INVALID_INDEX;
  std::uint32_t client = PA_INVALID_INDEX;
  std::int32_t processID = 0;
  bool corked = false;
};

struct SinkInputInfo {
  std::uint32_t index = PA_INVALID_INDEX;
  std::uint32_t sink = PA_INVALID_INDEX;
  std::int32_t processID = 0;
  pa_sample_spec sampleSpec{};
  pa_channel_map channelMap{};
};

// `application.process.id` of a property list; 0 when absent or not a positive number.
std::int32_t processIDOf(const pa_proplist* properties);
SinkInputInfo sinkInputInfoOf(const pa_sink_input_info& info);

// Nothing when the server has no default sink.
OSStatus queryDefaultSinkName(PulseLoop& loop, std::optional<std::string>& outName);
// Nothing when there is no such sink.
OSStatus querySink(PulseLoop& loop, const std::string& name, std::optional<SinkInfo>& outSink);
OSStatus queryClients(PulseLoop& loop, std::vector<ClientInfo>& outClients);
OSStatus querySourceOutputs(PulseLoop& loop, std::vector<SourceOutputInfo>& outOutputs);
// Indices of the sources that are some sink's monitor.
OSStatus queryMonitorSources(PulseLoop& loop, std::set<std::uint32_t>& outSources);
OSStatus querySinkInputs(PulseLoop& loop, std::vector<SinkInputInfo>& outInputs);

}  // namespace talvorin::pulse
