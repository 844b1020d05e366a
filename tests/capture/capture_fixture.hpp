// A capture object on the simulated host and the virtual clock, with both of its output
// streams captured.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "capture/core_audio_tap_capture.hpp"
#include "discovery/target_processes.hpp"
#include "support/captured_output.hpp"
#include "support/simulated_host.hpp"
#include "support/virtual_dispatch.hpp"

namespace talvorin::testing {

class CaptureTest : public ::testing::Test {
 protected:
  CaptureTest() {
    ::unsetenv(kIncludePIDVariable);
    speakers = host.addOutputDevice("speakers-uid");
    headphones = host.addOutputDevice("headphones-uid");
    host.setDefaultOutputDevice(speakers);
    host.clearCalls();
  }
  ~CaptureTest() override { ::unsetenv(kIncludePIDVariable); }

  // The "type" of every event line written so far, in order.
  std::vector<std::string> eventTypes() const {
    std::vector<std::string> types;
    for (const auto& event : events.events()) types.push_back(event.value("type", ""));
    return types;
  }

  SimulatedHost host;
  VirtualDispatch dispatch;
  CapturedOutput frames;
  CapturedOutput events;
  std::shared_ptr<CoreAudioTapCapture> capture = std::make_shared<CoreAudioTapCapture>(
      host, dispatch, CoreAudioTapCapture::Streams{frames.fd(), events.fd()});
  AudioObjectID speakers = 0;
  AudioObjectID headphones = 0;
};

}  // namespace talvorin::testing
