// The dispatch boundary on Grand Central Dispatch: each serial queue is a GCD serial queue,
// delayed items go through dispatch_after, and the main loop is dispatch_main.
//
// For C++ files only: there a dispatch_queue_t is a plain reference-counted pointer, which
// GcdQueue releases itself. In Objective-C++ under ARC the same name is an ARC-owned object.
#pragma once

#include <memory>
#include <string>

#include <dispatch/dispatch.h>

#include "platform/dispatch.hpp"

namespace talvorin {

class GcdQueue final : public DispatchQueue {
 public:
  explicit GcdQueue(std::string label);
  ~GcdQueue() override;

  GcdQueue(const GcdQueue&) = delete;
  GcdQueue& operator=(const GcdQueue&) = delete;

  const std::string& label() const noexcept override { return label_; }
  void async(std::function<void()> task) override;
  void asyncAfter(double seconds, std::shared_ptr<DispatchWorkItem> item) override;

  // The GCD queue itself, for Core Audio calls that deliver onto a dispatch queue.
  dispatch_queue_t native() const noexcept { return queue_; }

 private:
  std::string label_;
  dispatch_queue_t queue_;
};

std::unique_ptr<Dispatch> makeGcdDispatch();

}  // namespace talvorin
