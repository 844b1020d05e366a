#include "platform/macos/gcd_dispatch.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace talvorin {

namespace {

// A deadline GCD can represent: negative and NaN delays mean "now", and delays beyond a
// century are treated as a century rather than overflowing the nanosecond count.
std::int64_t delayNanoseconds(double seconds) {
  constexpr double kLongestDelay = 100.0 * 365 * 24 * 3600;
  const double clamped = std::min(std::max(0.0, seconds), kLongestDelay);
  return static_cast<std::int64_t>(clamped * static_cast<double>(NSEC_PER_SEC));
}

class GcdDispatch final : public Dispatch {
 public:
  std::shared_ptr<DispatchQueue> makeSerialQueue(std::string label) override {
    return std::make_shared<GcdQueue>(std::move(label));
  }

  [[noreturn]] void runMainLoop() override { dispatch_main(); }
};

}  // namespace

// Default quality of service, no attributes and no target queue: a plain serial queue.
GcdQueue::GcdQueue(std::string label)
    : label_(std::move(label)),
      queue_(dispatch_queue_create(label_.c_str(), DISPATCH_QUEUE_SERIAL)) {}

// Blocks already submitted keep the GCD queue alive until they have run.
GcdQueue::~GcdQueue() {
  dispatch_release(queue_);
}

void GcdQueue::async(std::function<void()> task) {
  // The block captures its own copy of the task; GCD copies the block to the heap.
  dispatch_async(queue_, ^{
    task();
  });
}

void GcdQueue::asyncAfter(double seconds, std::shared_ptr<DispatchWorkItem> item) {
  // The item decides at its turn whether it still runs: a cancel before then wins.
  dispatch_after(dispatch_time(DISPATCH_TIME_NOW, delayNanoseconds(seconds)), queue_, ^{
    item->perform();
  });
}

std::unique_ptr<Dispatch> makeGcdDispatch() {
  return std::make_unique<GcdDispatch>();
}

}  // namespace talvorin
