// The dispatch boundary on plain threads, for builds without Grand Central Dispatch.
//
// Each serial queue owns one worker thread, started with the queue. Immediate tasks wait in
// a FIFO stamped with their submission time; delayed items wait in a deadline-ordered heap.
// The worker runs whichever is due first (a delayed item whose deadline is not later than an
// immediate task's stamp goes first), and otherwise sleeps on a condition variable until the
// next deadline or the next submission: no polling.
//
// Destroying a queue (dropping its last reference): the worker finishes the task it is
// running, runs every task already due (immediate tasks and delayed items whose deadline has
// passed, including what those submit), drops delayed items that are not yet due, and ends.
// The destructor joins the worker, except when the last reference goes away in a task
// running on that very queue: then the worker ends on its own once that task returns.
//
// A task that throws ends the process (std::terminate), as an uncaught exception in a
// dispatch block would.
#pragma once

#include <memory>

#include "platform/dispatch.hpp"

namespace talvorin {

class ThreadDispatch : public Dispatch {
 public:
  std::shared_ptr<DispatchQueue> makeSerialQueue(std::string label) override;

  // Blocks the calling thread on a condition variable that nothing signals.
  [[noreturn]] void runMainLoop() override;
};

std::unique_ptr<Dispatch> makeThreadDispatch();

}  // namespace talvorin
