// IO cycles delivered without pause from one thread while the device-change queue rebuilds
// the capture again and again: the frame stream and the event lines must come out whole.
#include <atomic>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "capture/core_audio_tap_capture.hpp"
#include "mono_cycle.hpp"
#include "platform/threads/thread_dispatch.hpp"
#include "support/captured_output.hpp"
#include "support/simulated_host.hpp"

namespace talvorin::testing {
namespace {

// Runs a task on the queue and waits until it has run.
void runOn(DispatchQueue& queue, const std::function<void()>& task) {
  std::promise<void> done;
  queue.async([&] {
    task();
    done.set_value();
  });
  done.get_future().wait();
}

TEST(CaptureStress, RebuildsWhileCyclesFlowKeepBothStreamsWellFormed) {
  SimulatedHost host;
  const AudioObjectID speakers = host.addOutputDevice("speakers-uid");
  const AudioObjectID headphones = host.addOutputDevice("headphones-uid");
  host.setDefaultOutputDevice(speakers);
  host.setAggregateFormat(monoFloatFormat(48000.0));

  auto dispatch = makeThreadDispatch();
  CapturedOutput frames;
  CapturedOutput events;
  auto capture = std::make_shared<CoreAudioTapCapture>(
      host, *dispatch, CoreAudioTapCapture::Streams{frames.fd(), events.fd()});
  capture->createCapture();
  capture->registerDefaultOutputListener();

  std::atomic<bool> stop{false};
  std::atomic<int> delivered{0};
  std::thread io([&] {
    std::vector<float> samples(480);
    for (std::size_t i = 0; i < samples.size(); ++i)
      samples[i] = static_cast<float>(i % 97) / 97.0f;
    MonoCycle cycle(samples);
    while (!stop.load()) {
      if (host.deliverCycle(cycle.list()) == noErr) delivered.fetch_add(1);
    }
  });

  constexpr int kRebuilds = 40;
  for (int round = 0; round < kRebuilds; ++round) {
    host.setDefaultOutputDevice(round % 2 == 0 ? headphones : speakers);
    runOn(*capture->deviceChangeQueue(), [&] { capture->rebindToDefaultOutput(); });
    // Every other round the next rebind races the start of this build; otherwise the new
    // build starts and takes a few cycles first.
    if (round % 2 == 1) continue;
    runOn(*capture->startQueue(), [] {});
    ASSERT_TRUE(capture->started());
    const int before = delivered.load();
    while (delivered.load() < before + 5) std::this_thread::yield();
  }
  stop = true;
  io.join();
  runOn(*capture->startQueue(), [] {});
  runOn(*capture->outputQueue(), [] {});

  const ParsedFrames parsed = parseFrames(frames.contents());
  EXPECT_TRUE(parsed.wellFormed);
  EXPECT_GT(parsed.frames.size(), 0u);
  EXPECT_EQ(parsed.payloadBytes, static_cast<std::size_t>(capture->byteCount()));

  const auto lines = events.lines();
  std::size_t changes = 0;
  for (const auto& line : lines) {
    const auto event = nlohmann::json::parse(line, nullptr, false);
    ASSERT_TRUE(event.is_object()) << line;
    changes += event["type"] == "output.device.changed";
    EXPECT_NE(event["type"], "error") << line;
  }
  EXPECT_EQ(changes, static_cast<std::size_t>(kRebuilds));
  EXPECT_EQ(host.liveAggregateDevices().size(), 1u);
}

}  // namespace
}  // namespace talvorin::testing
