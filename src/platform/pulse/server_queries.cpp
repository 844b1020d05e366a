#include "platform/pulse/server_queries.hpp"

#include <charconv>
#include <cstring>

#include <pulse/proplist.h>

namespace talvorin::pulse {
namespace {

// Every list callback gets the same shape: an item, or eol. Items are appended by `convert`.
template <typename Item, typename Info, typename Convert>
struct ListRequest {
  std::vector<Item>* items;
  Convert convert;

  static void callback(pa_context*, const Info* info, int eol, void* userdata) {
    auto* request = static_cast<ListRequest*>(userdata);
    if (eol == 0 && info != nullptr) request->items->push_back(request->convert(*info));
  }
};

std::string textOf(const char* text) {
  return text == nullptr ? std::string() : std::string(text);
}

}  // namespace

std::int32_t processIDOf(const pa_proplist* properties) {
  if (properties == nullptr) return 0;
  const char* text = pa_proplist_gets(properties, PA_PROP_APPLICATION_PROCESS_ID);
  if (text == nullptr) return 0;
  std::int32_t value = 0;
  const char* end = text + std::strlen(text);
  const auto [last, error] = std::from_chars(text, end, value);
  if (error != std::errc() || last != end || value < 1) return 0;
  return value;
}

SinkInputInfo sinkInputInfoOf(const pa_sink_input_info& info) {
  return SinkInputInfo{info.index, info.sink, processIDOf(info.proplist), info.sample_spec,
                       info.channel_map};
}

OSStatus queryDefaultSinkName(PulseLoop& loop, std::optional<std::string>& outName) {
  outName.reset();
  auto callback = [](pa_context*, const pa_server_info* info, void* userdata) {
    if (info != nullptr && info->default_sink_name != nullptr) {
      *static_cast<std::optional<std::string>*>(userdata) = std::string(info->default_sink_name);
    }
  };
  return loop.complete(pa_context_get_server_info(loop.context(), callback, &outName));
}

OSStatus querySink(PulseLoop& loop, const std::string& name, std::optional<SinkInfo>& outSink) {
  outSink.reset();
  auto callback = [](pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    if (eol != 0 || info == nullptr) return;
    *static_cast<std::optional<SinkInfo>*>(userdata) =
        SinkInfo{info->index, textOf(info->name), textOf(info->monitor_source_name),
                 info->sample_spec, info->channel_map};
  };
  return loop.complete(
      pa_context_get_sink_info_by_name(loop.context(), name.c_str(), callback, &outSink));
}

OSStatus queryClients(PulseLoop& loop, std::vector<ClientInfo>& outClients) {
  outClients.clear();
  auto convert = [](const pa_client_info& info) {
    return ClientInfo{info.index, processIDOf(info.proplist),
                      textOf(pa_proplist_gets(info.proplist, PA_PROP_APPLICATION_ID))};
  };
  using Request = ListRequest<ClientInfo, pa_client_info, decltype(convert)>;
  Request request{&outClients, convert};
  return loop.complete(
      pa_context_get_client_info_list(loop.context(), &Request::callback, &request));
}

OSStatus querySourceOutputs(PulseLoop& loop, std::vector<SourceOutputInfo>& outOutputs) {
  outOutputs.clear();
  auto convert = [](const pa_source_output_info& info) {
    return SourceOutputInfo{info.index, info.source, info.client, processIDOf(info.proplist),
                            info.corked != 0};
  };
  using Request = ListRequest<SourceOutputInfo, pa_source_output_info, decltype(convert)>;
  Request request{&outOutputs, convert};
  return loop.complete(
      pa_context_get_source_output_info_list(loop.context(), &Request::callback, &request));
}

OSStatus queryMonitorSources(PulseLoop& loop, std::set<std::uint32_t>& outSources) {
  outSources.clear();
  std::vector<std::uint32_t> monitors;
  auto convert = [](const pa_source_info& info) {
    return info.monitor_of_sink != PA_INVALID_INDEX ? info.index : PA_INVALID_INDEX;
  };
  using Request = ListRequest<std::uint32_t, pa_source_info, decltype(convert)>;
  Request request{&monitors, convert};
  const OSStatus status =
      loop.complete(pa_context_get_source_info_list(loop.context(), &Request::callback, &request));
  for (const std::uint32_t index : monitors) {
    if (index != PA_INVALID_INDEX) outSources.insert(index);
  }
  return status;
}

OSStatus querySinkInputs(PulseLoop& loop, std::vector<SinkInputInfo>& outInputs) {
  outInputs.clear();
  auto convert = [](const pa_sink_input_info& info) { return sinkInputInfoOf(info); };
  using Request = ListRequest<SinkInputInfo, pa_sink_input_info, decltype(convert)>;
  Request request{&outInputs, convert};
  return loop.complete(
      pa_context_get_sink_input_info_list(loop.context(), &Request::callback, &request));
}

}  // namespace talvorin::pulse
