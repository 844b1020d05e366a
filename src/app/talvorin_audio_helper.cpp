#include "app/talvorin_audio_helper.hpp"

#include <unistd.h>

#include <exception>

#include "output/events.hpp"
#include "output/helper_error.hpp"

namespace talvorin {
namespace {

constexpr std::string_view kWatchSwitch = "--watch-input-processes";
constexpr int kOutputSampleRate = 16000;
constexpr int kOutputChannels = 1;

}  // namespace

bool TalvorinAudioHelper::isWatchMode(const std::vector<std::string>& arguments) {
  for (const auto& argument : arguments) {
    if (argument == kWatchSwitch) return true;
  }
  return false;
}

std::optional<int> TalvorinAudioHelper::startCapture(AudioHardware& hardware, Dispatch& dispatch,
                                                     std::string_view engineName,
                                                     CoreAudioTapCapture::Streams streams,
                                                     std::function<void()> onOutputClosed) {
  emitEvent(Event{{"type", "starting"}, {"engine", engineName}, {"pid", ::getpid()}},
            streams.events);

  activeCapture =
      std::make_shared<CoreAudioTapCapture>(hardware, dispatch, streams, std::move(onOutputClosed));
  try {
    activeCapture->createCapture();
  } catch (const HelperError& error) {
    emitError("capture_start_failed", error.description(), streams.events);
    return kExitCaptureStartFailed;
  } catch (const std::exception& error) {
    emitError("capture_start_failed", error.what(), streams.events);
    return kExitCaptureStartFailed;
  }

  // A capture of chosen processes does not depend on the default output device.
  if (activeCapture->usesDeviceTap()) activeCapture->registerDefaultOutputListener();

  emitEvent(Event{{"type", "ready"},
                  {"engine", engineName},
                  {"sampleRate", kOutputSampleRate},
                  {"channels", kOutputChannels}},
            streams.events);
  return std::nullopt;
}

}  // namespace talvorin
