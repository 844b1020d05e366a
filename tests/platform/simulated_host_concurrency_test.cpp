#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "support/simulated_host.hpp"

namespace talvorin::testing {
namespace {

using namespace std::chrono_literals;

constexpr auto kHangGuard = 20s;

// An IO procedure that, on its first call, announces it is inside and then waits until
// released; it records whether it was still inside when the teardown call returned.
struct BlockingProc {
  std::mutex mutex;
  std::condition_variable changed;
  bool inside = false;
  bool released = false;
  std::atomic<bool> finished{false};

  static OSStatus proc(AudioObjectID, const AudioTimeStamp*, const AudioBufferList*,
                       const AudioTimeStamp*, AudioBufferList*, const AudioTimeStamp*,
                       void* clientData) {
    auto* self = static_cast<BlockingProc*>(clientData);
    std::unique_lock lock(self->mutex);
    self->inside = true;
    self->changed.notify_all();
    self->changed.wait(lock, [&] { return self->released; });
    self->finished = true;
    return noErr;
  }

  void waitInside() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return inside; });
  }
  void release() {
    {
      std::lock_guard lock(mutex);
      released = true;
    }
    changed.notify_all();
  }
};

enum class Teardown { stop, destroyIOProc, destroyDevice };

class SimulatedHostTeardownTest : public ::testing::TestWithParam<Teardown> {};

// Whichever teardown call comes first, it returns only once the IO thread has left the
// procedure, and no later cycle reaches it.
TEST_P(SimulatedHostTeardownTest, WaitsForAnIOCallInProgressOnAnotherThread) {
  SimulatedHost host;
  AudioObjectID device = 0;
  ASSERT_EQ(host.createAggregateDevice({}, device), noErr);
  BlockingProc blocking;
  AudioDeviceIOProcID id = nullptr;
  ASSERT_EQ(host.createIOProcID(device, &BlockingProc::proc, &blocking, id), noErr);
  ASSERT_EQ(host.deviceStart(device, id), noErr);

  AudioBufferList input{};
  std::thread ioThread([&] { host.deliverCycle(input); });
  blocking.waitInside();

  auto teardown = std::async(std::launch::async, [&] {
    switch (GetParam()) {
      case Teardown::stop:
        host.deviceStop(device, id);
        break;
      case Teardown::destroyIOProc:
        host.destroyIOProcID(device, id);
        break;
      case Teardown::destroyDevice:
        host.destroyAggregateDevice(device);
        break;
    }
    return blocking.finished.load();
  });
  // The teardown cannot finish while the procedure is held inside.
  EXPECT_EQ(teardown.wait_for(50ms), std::future_status::timeout);
  blocking.release();
  ASSERT_EQ(teardown.wait_for(kHangGuard), std::future_status::ready);
  EXPECT_TRUE(teardown.get()) << "the teardown returned while the procedure was still running";
  ioThread.join();
  EXPECT_EQ(host.deliverCycle(device, input), kAudioHardwareNotRunningError);
}

INSTANTIATE_TEST_SUITE_P(EveryTeardownCall, SimulatedHostTeardownTest,
                         ::testing::Values(Teardown::stop, Teardown::destroyIOProc,
                                           Teardown::destroyDevice),
                         [](const ::testing::TestParamInfo<Teardown>& caseInfo) {
                           switch (caseInfo.param) {
                             case Teardown::stop:
                               return std::string("AudioDeviceStop");
                             case Teardown::destroyIOProc:
                               return std::string("AudioDeviceDestroyIOProcID");
                             case Teardown::destroyDevice:
                               return std::string("AudioHardwareDestroyAggregateDevice");
                           }
                           return std::string("unknown");
                         });

// Stopping and destroying from inside the procedure itself must not wait for itself.
struct SelfStoppingProc {
  SimulatedHost* host = nullptr;
  AudioObjectID device = 0;
  AudioDeviceIOProcID id = nullptr;
  OSStatus stopStatus = -1;
  OSStatus destroyStatus = -1;

  static OSStatus proc(AudioObjectID, const AudioTimeStamp*, const AudioBufferList*,
                       const AudioTimeStamp*, AudioBufferList*, const AudioTimeStamp*,
                       void* clientData) {
    auto* self = static_cast<SelfStoppingProc*>(clientData);
    self->stopStatus = self->host->deviceStop(self->device, self->id);
    self->destroyStatus = self->host->destroyIOProcID(self->device, self->id);
    return noErr;
  }
};

TEST(SimulatedHostSelfTeardownTest, StopAndDestroyFromInsideTheProcedureReturn) {
  SimulatedHost host;
  SelfStoppingProc self;
  self.host = &host;
  ASSERT_EQ(host.createAggregateDevice({}, self.device), noErr);
  ASSERT_EQ(host.createIOProcID(self.device, &SelfStoppingProc::proc, &self, self.id), noErr);
  ASSERT_EQ(host.deviceStart(self.device, self.id), noErr);

  auto cycle = std::async(std::launch::async, [&] {
    AudioBufferList input{};
    return host.deliverCycle(input);
  });
  ASSERT_EQ(cycle.wait_for(kHangGuard), std::future_status::ready) << "deadlocked";
  EXPECT_EQ(cycle.get(), noErr);
  EXPECT_EQ(self.stopStatus, noErr);
  EXPECT_EQ(self.destroyStatus, noErr);
  EXPECT_TRUE(host.ioProcs().empty());
}

}  // namespace
}  // namespace talvorin::testing
