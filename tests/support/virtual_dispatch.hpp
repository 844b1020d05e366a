// A dispatch implementation on a virtual clock, for tests that must not sleep.
//
// Nothing runs until the test says so, and everything runs on the test's own thread: the
// test submits work (or lets the code under test submit it), then calls runUntilIdle() to
// run what is due now, or advance(seconds) to move the clock forward and run what comes due
// on the way, in deadline order. Time starts at 0 and only moves in advance().
//
// Tasks of all queues share one timeline ordered by (deadline, submission); a queue's own
// tasks therefore keep their submission order, and delayed and immediate tasks interleave by
// due time. Submitting is thread-safe (an IO thread may submit while the test thread runs
// tasks); running is meant for one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/dispatch.hpp"

namespace talvorin::testing {

// Thrown by VirtualDispatch::runMainLoop(), which must not return: a test of code that ends
// in the main loop catches this to know it got there.
class MainLoopEntered : public std::runtime_error {
 public:
  MainLoopEntered() : std::runtime_error("the dispatch main loop was entered") {}
};

class VirtualDispatch : public Dispatch {
 public:
  VirtualDispatch();
  ~VirtualDispatch() override;
  VirtualDispatch(const VirtualDispatch&) = delete;
  VirtualDispatch& operator=(const VirtualDispatch&) = delete;

  std::shared_ptr<DispatchQueue> makeSerialQueue(std::string label) override;

  // Throws MainLoopEntered.
  [[noreturn]] void runMainLoop() override;

  // Seconds since construction on the virtual clock.
  double now() const;

  // Runs every task due now, including tasks they submit that are due now, in (deadline,
  // submission) order. Cancelled items are dropped without running. Throws std::logic_error
  // if tasks keep submitting tasks without end.
  void runUntilIdle();

  // Moves the clock forward by `seconds`, stopping at each deadline on the way to run what is
  // due there; ends at now() + seconds with everything due by then run.
  void advance(double seconds);

  // Tasks waiting to run, cancelled items not counted.
  std::size_t pendingCount() const;

  // The earliest deadline among the waiting tasks (cancelled items not counted).
  std::optional<double> nextDeadline() const;

  // Tasks run so far (cancelled items skipped are not counted).
  std::size_t executedCount() const;

  // The label of the queue whose task is running on the calling thread, or nothing outside
  // a task: lets a test check where a callback ran.
  std::optional<std::string> currentQueueLabel() const;

  // The queues made so far, by label; the most recent one with the label, or null.
  std::shared_ptr<DispatchQueue> queue(const std::string& label) const;
  std::vector<std::string> labels() const;

  // Whether runMainLoop() has been called.
  bool mainLoopEntered() const;

  // Clock resolution: deadlines are whole nanoseconds, so 0.1 + 0.1 + 0.1 + 0.4 seconds of
  // advances meet a deadline set 0.4 s after the third step exactly.
  static std::int64_t toTicks(double seconds);

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace talvorin::testing
