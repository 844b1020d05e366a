// The dispatch boundary: labelled serial queues, cancellable delayed work items and the
// main loop. Grand Central Dispatch on Apple, a small thread-based implementation elsewhere,
// and a virtual clock in tests.
//
// What callers rely on, whatever the implementation:
// - a serial queue runs its tasks one at a time, in submission order, and never inside the
//   call that submitted them;
// - a cancelled work item that has not started never runs; one already running finishes;
// - an item submitted with asyncAfter runs no earlier than its deadline, unless cancelled.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace talvorin {

// A unit of work that can be cancelled until it starts. Shared between the submitter, who
// may cancel it, and the queue, which performs it.
class DispatchWorkItem {
 public:
  explicit DispatchWorkItem(std::function<void()> block) : block_(std::move(block)) {}

  DispatchWorkItem(const DispatchWorkItem&) = delete;
  DispatchWorkItem& operator=(const DispatchWorkItem&) = delete;

  // Any thread. An item that has not started will not run; a running one finishes.
  void cancel() noexcept { cancelled_.store(true, std::memory_order_release); }
  bool isCancelled() const noexcept { return cancelled_.load(std::memory_order_acquire); }

  // Called by a queue when the item's turn comes: runs the block unless it was cancelled.
  void perform() {
    if (!isCancelled()) block_();
  }

 private:
  std::function<void()> block_;
  std::atomic<bool> cancelled_{false};
};

class DispatchQueue {
 public:
  virtual ~DispatchQueue() = default;

  virtual const std::string& label() const noexcept = 0;

  // Returns at once; the task runs later on the queue.
  virtual void async(std::function<void()> task) = 0;

  // Runs the item on the queue no earlier than `seconds` from now, unless it is cancelled
  // before it starts.
  virtual void asyncAfter(double seconds, std::shared_ptr<DispatchWorkItem> item) = 0;
};

class Dispatch {
 public:
  virtual ~Dispatch() = default;

  virtual std::shared_ptr<DispatchQueue> makeSerialQueue(std::string label) = 0;

  // Parks the calling (main) thread for good while the queues do the work.
  [[noreturn]] virtual void runMainLoop() = 0;
};

}  // namespace talvorin
