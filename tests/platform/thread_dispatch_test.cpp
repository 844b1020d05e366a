#include "platform/threads/thread_dispatch.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace talvorin {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Generous guard against a hang; never an assertion about speed.
constexpr auto kHangGuard = 20s;

// A door that tasks wait at until the test opens it.
class Gate {
 public:
  void open() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }
  void wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

// Waits until every task submitted to `queue` before this call has run.
void drain(DispatchQueue& queue) {
  std::promise<void> done;
  auto future = done.get_future();
  queue.async([&done] { done.set_value(); });
  ASSERT_EQ(future.wait_for(kHangGuard), std::future_status::ready);
}

class ThreadDispatchTest : public ::testing::Test {
 protected:
  std::unique_ptr<Dispatch> dispatch_ = makeThreadDispatch();
  std::shared_ptr<DispatchQueue> queue_ = dispatch_->makeSerialQueue("com.example.test.queue");
};

TEST_F(ThreadDispatchTest, KeepsItsLabel) {
  EXPECT_EQ(queue_->label(), "com.example.test.queue");
}

TEST_F(ThreadDispatchTest, RunsTasksOneAtATimeInSubmissionOrderFromManyThreads) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 500;
  std::mutex orderMutex;
  std::vector<std::vector<int>> seen(kThreads);
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};

  std::vector<std::thread> submitters;
  for (int t = 0; t < kThreads; ++t) {
    submitters.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        queue_->async([&, t, i] {
          if (running.fetch_add(1) != 0) overlapped = true;
          {
            std::lock_guard lock(orderMutex);
            seen[t].push_back(i);
          }
          running.fetch_sub(1);
        });
      }
    });
  }
  for (auto& submitter : submitters) submitter.join();
  drain(*queue_);

  EXPECT_FALSE(overlapped);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(kPerThread));
    for (int i = 0; i < kPerThread; ++i) EXPECT_EQ(seen[t][i], i) << "submitter " << t;
  }
}

TEST_F(ThreadDispatchTest, NeverRunsATaskInsideTheSubmittingCall) {
  // From another thread: the task runs on the queue's worker, not the submitter.
  std::promise<std::thread::id> ranOn;
  queue_->async([&] { ranOn.set_value(std::this_thread::get_id()); });
  auto future = ranOn.get_future();
  ASSERT_EQ(future.wait_for(kHangGuard), std::future_status::ready);
  const std::thread::id worker = future.get();
  EXPECT_NE(worker, std::this_thread::get_id());

  // From the queue's own thread: the nested task waits for the current one, whether
  // submitted with async or with a zero delay. The flags are touched by the worker only.
  bool nestedRan = false;
  bool delayedRan = false;
  std::promise<std::vector<bool>> result;
  queue_->async([&] {
    queue_->async([&] { nestedRan = true; });
    const bool afterAsync = nestedRan;
    queue_->asyncAfter(0.0, std::make_shared<DispatchWorkItem>([&] { delayedRan = true; }));
    const bool afterAsyncAfter = delayedRan;
    queue_->async([&, afterAsync, afterAsyncAfter] {
      result.set_value({afterAsync, afterAsyncAfter, nestedRan, delayedRan});
    });
  });
  auto flags = result.get_future();
  ASSERT_EQ(flags.wait_for(kHangGuard), std::future_status::ready);
  EXPECT_EQ(flags.get(), (std::vector<bool>{false, false, true, true}));
}

TEST_F(ThreadDispatchTest, ACancelledItemThatHasNotStartedNeverRuns) {
  Gate gate;
  queue_->async([&] { gate.wait(); });  // keeps the queue busy while we cancel

  std::atomic<int> ran{0};
  auto due = std::make_shared<DispatchWorkItem>([&] { ++ran; });
  auto delayed = std::make_shared<DispatchWorkItem>([&] { ++ran; });
  auto kept = std::make_shared<DispatchWorkItem>([&] { ran += 100; });
  queue_->asyncAfter(0.0, due);
  queue_->asyncAfter(0.02, delayed);
  queue_->asyncAfter(0.03, kept);
  due->cancel();
  delayed->cancel();
  gate.open();

  // `kept` is due after both cancelled items; once it has run they would have too.
  std::promise<void> done;
  queue_->asyncAfter(0.05, std::make_shared<DispatchWorkItem>([&] { done.set_value(); }));
  ASSERT_EQ(done.get_future().wait_for(kHangGuard), std::future_status::ready);
  EXPECT_EQ(ran, 100);
}

TEST_F(ThreadDispatchTest, ARunningItemThatIsCancelledFinishes) {
  Gate started;
  Gate release;
  std::atomic<bool> finished{false};
  auto item = std::make_shared<DispatchWorkItem>([&] {
    started.open();
    release.wait();
    finished = true;
  });
  queue_->asyncAfter(0.0, item);
  started.wait();
  item->cancel();
  release.open();
  drain(*queue_);
  EXPECT_TRUE(finished);
}

TEST_F(ThreadDispatchTest, ADelayedItemNeverRunsBeforeItsDeadline) {
  for (const double delay : {0.0, 0.001, 0.015, 0.04}) {
    std::promise<Clock::time_point> ranAt;
    const auto submitted = Clock::now();
    queue_->asyncAfter(delay,
                       std::make_shared<DispatchWorkItem>([&] { ranAt.set_value(Clock::now()); }));
    auto future = ranAt.get_future();
    ASSERT_EQ(future.wait_for(kHangGuard), std::future_status::ready);
    const std::chrono::duration<double> elapsed = future.get() - submitted;
    EXPECT_GE(elapsed.count(), delay) << "delay " << delay;
  }
}

TEST_F(ThreadDispatchTest, ImmediateAndDelayedTasksInterleaveByDueTime) {
  std::vector<std::string> order;  // touched only by the queue's worker
  Gate gate;
  queue_->async([&] { gate.wait(); });
  auto item = [&](std::string name) {
    return std::make_shared<DispatchWorkItem>([&order, name] { order.push_back(name); });
  };
  queue_->asyncAfter(0.06, item("late"));
  queue_->asyncAfter(0.03, item("middle"));
  queue_->asyncAfter(0.0, item("now"));
  queue_->async([&] { order.push_back("first-async"); });
  queue_->async([&] { order.push_back("second-async"); });
  gate.open();

  std::promise<void> done;
  queue_->asyncAfter(0.1, std::make_shared<DispatchWorkItem>([&] { done.set_value(); }));
  ASSERT_EQ(done.get_future().wait_for(kHangGuard), std::future_status::ready);
  // "now" was due before the two async tasks were submitted; "middle" and "late" after.
  EXPECT_EQ(order,
            (std::vector<std::string>{"now", "first-async", "second-async", "middle", "late"}));
}

TEST_F(ThreadDispatchTest, DestroyingAQueueRunsWhatIsDueAndDropsWhatIsNot) {
  std::atomic<int> ran{0};
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> watch = token;
  Gate gate;
  queue_->async([&] { gate.wait(); });
  for (int i = 0; i < 50; ++i) queue_->async([&] { ++ran; });
  queue_->asyncAfter(0.0, std::make_shared<DispatchWorkItem>([&] { ++ran; }));
  queue_->asyncAfter(3600.0, std::make_shared<DispatchWorkItem>([&ran, token] { ran += 1000; }));
  token.reset();

  std::thread opener([&] {
    std::this_thread::sleep_for(10ms);  // let the destructor start waiting first
    gate.open();
  });
  queue_.reset();  // joins the worker
  opener.join();

  EXPECT_EQ(ran, 51);
  EXPECT_TRUE(watch.expired()) << "the dropped item's block was not released";
}

TEST_F(ThreadDispatchTest, DroppingTheLastReferenceFromItsOwnTaskDoesNotDeadlock) {
  std::promise<void> destroyed;
  std::promise<void> followUp;
  auto* queue = queue_.get();
  queue->async([&, self = std::move(queue_)]() mutable {
    queue->async([&] { followUp.set_value(); });  // already due: still runs
    self.reset();                                 // the destructor runs on the worker
    destroyed.set_value();
  });
  ASSERT_EQ(destroyed.get_future().wait_for(kHangGuard), std::future_status::ready);
  ASSERT_EQ(followUp.get_future().wait_for(kHangGuard), std::future_status::ready);
}

TEST_F(ThreadDispatchTest, QueuesRunIndependently) {
  // A task blocked on one queue does not hold up another.
  auto other = dispatch_->makeSerialQueue("com.example.test.other");
  Gate gate;
  queue_->async([&] { gate.wait(); });
  drain(*other);
  gate.open();
  drain(*queue_);
}

TEST(ThreadDispatchMainLoopTest, ParksTheCallingThread) {
  // The dispatch and the flag outlive the test: the parked thread never returns.
  static auto* dispatch = makeThreadDispatch().release();
  static std::atomic<bool> returned{false};
  static std::atomic<bool> entered{false};
  std::thread([] {
    entered = true;
    dispatch->runMainLoop();
    returned = true;  // unreachable unless the loop returns
  }).detach();
  while (!entered) std::this_thread::yield();
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(returned);
}

}  // namespace
}  // namespace talvorin
