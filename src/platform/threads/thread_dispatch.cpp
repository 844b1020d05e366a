#include "platform/threads/thread_dispatch.hpp"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <queue>
#include <thread>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <pthread.h>
#endif

namespace talvorin {

namespace {

using Clock = std::chrono::steady_clock;

// Longer delays are clamped: far beyond any use, and safe from overflow of the time point.
constexpr double kMaxDelaySeconds = 1e9;

Clock::time_point deadlineAfter(Clock::time_point now, double seconds) {
  if (!(seconds > 0.0)) return now;  // negative and not-a-number delays mean "now"
  if (seconds > kMaxDelaySeconds) seconds = kMaxDelaySeconds;
  // Rounded up to the clock's tick, so the item never runs before the deadline asked for.
  return now + std::chrono::ceil<Clock::duration>(std::chrono::duration<double>(seconds));
}

struct QueueState {
  struct Immediate {
    Clock::time_point stamp;
    std::function<void()> task;
  };
  struct Delayed {
    Clock::time_point deadline;
    std::uint64_t sequence;
    std::shared_ptr<DispatchWorkItem> item;
    // Earliest deadline first, then submission order.
    bool operator>(const Delayed& other) const {
      return deadline != other.deadline ? deadline > other.deadline : sequence > other.sequence;
    }
  };

  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Immediate> immediate;
  std::priority_queue<Delayed, std::vector<Delayed>, std::greater<>> delayed;
  std::uint64_t nextSequence = 0;
  bool workerWaiting = false;
  bool stopping = false;

  // The worker's loop; returns once stopping and nothing due is left.
  void run() {
    std::unique_lock lock(mutex);
    for (;;) {
      const auto now = Clock::now();
      // Cancelled items that have not started will never run: drop them without waiting.
      while (!delayed.empty() && delayed.top().item->isCancelled()) delayed.pop();
      const bool delayedDue = !delayed.empty() && delayed.top().deadline <= now;
      if (delayedDue && (immediate.empty() || delayed.top().deadline <= immediate.front().stamp)) {
        auto item = delayed.top().item;
        delayed.pop();
        lock.unlock();
        item->perform();
        item.reset();
        lock.lock();
        continue;
      }
      if (!immediate.empty()) {
        auto task = std::move(immediate.front().task);
        immediate.pop_front();
        lock.unlock();
        task();
        task = nullptr;  // release what it captured outside the lock
        lock.lock();
        continue;
      }
      if (stopping) return;
      workerWaiting = true;
      if (delayed.empty()) {
        wake.wait(lock);
      } else {
        wake.wait_until(lock, delayed.top().deadline);
      }
      workerWaiting = false;
    }
  }
};

class ThreadQueue : public DispatchQueue {
 public:
  explicit ThreadQueue(std::string label)
      : label_(std::move(label)), state_(std::make_shared<QueueState>()) {
    worker_ = std::thread([state = state_] { state->run(); });
#if defined(__linux__)
    // Thread names are limited to 15 characters; the end of the label is the telling part.
    const std::string name = label_.size() > 15 ? label_.substr(label_.size() - 15) : label_;
    pthread_setname_np(worker_.native_handle(), name.c_str());
#endif
  }

  ThreadQueue(const ThreadQueue&) = delete;
  ThreadQueue& operator=(const ThreadQueue&) = delete;

  ~ThreadQueue() override {
    // Items not yet due are dropped; their blocks are released here, outside the lock.
    std::vector<QueueState::Delayed> dropped;
    {
      std::lock_guard lock(state_->mutex);
      state_->stopping = true;
      const auto now = Clock::now();
      std::vector<QueueState::Delayed> due;
      while (!state_->delayed.empty()) {
        auto& target = state_->delayed.top().deadline <= now ? due : dropped;
        target.push_back(state_->delayed.top());
        state_->delayed.pop();
      }
      for (auto& entry : due) state_->delayed.push(std::move(entry));
    }
    state_->wake.notify_one();
    if (worker_.get_id() == std::this_thread::get_id()) {
      // The last reference went away in one of this queue's own tasks: the worker cannot
      // be joined from itself, and ends by itself once that task returns.
      worker_.detach();
    } else {
      worker_.join();
    }
  }

  const std::string& label() const noexcept override {
    return label_;
  }

  // Called once per IO cycle from the audio IO thread: one lock, one push, and a wake-up
  // only when the worker sleeps. The wake-up is given under the lock: once the lock is
  // released the task may already have run and dropped the last reference to this queue,
  // so nothing here may touch the queue afterwards.
  void async(std::function<void()> task) override {
    std::lock_guard lock(state_->mutex);
    state_->immediate.push_back({Clock::now(), std::move(task)});
    if (state_->workerWaiting) state_->wake.notify_one();
  }

  void asyncAfter(double seconds, std::shared_ptr<DispatchWorkItem> item) override {
    if (!item) return;
    std::lock_guard lock(state_->mutex);
    state_->delayed.push(
        {deadlineAfter(Clock::now(), seconds), state_->nextSequence++, std::move(item)});
    if (state_->workerWaiting) state_->wake.notify_one();
  }

 private:
  std::string label_;
  std::shared_ptr<QueueState> state_;
  std::thread worker_;
};

}  // namespace

std::shared_ptr<DispatchQueue> ThreadDispatch::makeSerialQueue(std::string label) {
  return std::make_shared<ThreadQueue>(std::move(label));
}

void ThreadDispatch::runMainLoop() {
  std::mutex mutex;
  std::condition_variable never;
  std::unique_lock lock(mutex);
  for (;;) never.wait(lock);
}

std::unique_ptr<Dispatch> makeThreadDispatch() {
  return std::make_unique<ThreadDispatch>();
}

}  // namespace talvorin
