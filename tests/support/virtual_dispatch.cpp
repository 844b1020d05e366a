#include "support/virtual_dispatch.hpp"

#include <cmath>
#include <limits>

namespace talvorin::testing {

namespace {

// A task that resubmits itself at the current time forever would hang runUntilIdle; this
// many tasks at one instant is taken for that.
constexpr std::size_t kRunawayLimit = 100'000;

}  // namespace

struct VirtualDispatch::State {
  struct Entry {
    std::string label;
    std::function<void()> task;              // set for async
    std::shared_ptr<DispatchWorkItem> item;  // set for asyncAfter
  };

  mutable std::mutex mutex;
  std::int64_t now = 0;
  std::uint64_t nextSequence = 0;
  std::map<std::pair<std::int64_t, std::uint64_t>, Entry> pending;
  std::vector<std::pair<std::string, std::weak_ptr<DispatchQueue>>> queues;
  std::size_t executed = 0;
  bool mainLoopEntered = false;

  void submit(std::int64_t delay, Entry entry) {
    std::lock_guard lock(mutex);
    pending.emplace(std::pair{now + delay, nextSequence++}, std::move(entry));
  }

  // Takes the next task due at or before `limit`, dropping cancelled items on the way.
  std::optional<Entry> takeDue(std::int64_t limit) {
    std::lock_guard lock(mutex);
    while (!pending.empty()) {
      auto first = pending.begin();
      if (first->first.first > limit) return std::nullopt;
      Entry entry = std::move(first->second);
      pending.erase(first);
      if (entry.item && entry.item->isCancelled()) continue;
      return entry;
    }
    return std::nullopt;
  }
};

namespace {

thread_local const std::string* runningLabel = nullptr;

class VirtualQueue : public DispatchQueue {
 public:
  VirtualQueue(std::string label, std::shared_ptr<VirtualDispatch::State> state)
      : label_(std::move(label)), state_(std::move(state)) {}

  const std::string& label() const noexcept override { return label_; }

  void async(std::function<void()> task) override {
    state_->submit(0, {label_, std::move(task), nullptr});
  }

  void asyncAfter(double seconds, std::shared_ptr<DispatchWorkItem> item) override {
    state_->submit(VirtualDispatch::toTicks(seconds), {label_, nullptr, std::move(item)});
  }

 private:
  std::string label_;
  std::shared_ptr<VirtualDispatch::State> state_;
};

}  // namespace

VirtualDispatch::VirtualDispatch() : state_(std::make_shared<State>()) {}

// Pending tasks may hold queues, and queues hold the state: clear the tasks so that nothing
// is kept alive by a cycle once the dispatch is gone.
VirtualDispatch::~VirtualDispatch() {
  std::map<std::pair<std::int64_t, std::uint64_t>, State::Entry> dropped;
  {
    std::lock_guard lock(state_->mutex);
    dropped.swap(state_->pending);
  }
}

std::int64_t VirtualDispatch::toTicks(double seconds) {
  // Negative and not-a-number delays mean "now", as a past deadline would.
  if (!(seconds > 0.0)) return 0;
  constexpr double maxSeconds = 1e9;  // about 31 years: far beyond any test
  return std::llround(std::min(seconds, maxSeconds) * 1e9);
}

std::shared_ptr<DispatchQueue> VirtualDispatch::makeSerialQueue(std::string label) {
  auto queue = std::make_shared<VirtualQueue>(label, state_);
  std::lock_guard lock(state_->mutex);
  state_->queues.emplace_back(std::move(label), queue);
  return queue;
}

void VirtualDispatch::runMainLoop() {
  {
    std::lock_guard lock(state_->mutex);
    state_->mainLoopEntered = true;
  }
  throw MainLoopEntered();
}

double VirtualDispatch::now() const {
  std::lock_guard lock(state_->mutex);
  return static_cast<double>(state_->now) / 1e9;
}

void VirtualDispatch::runUntilIdle() {
  std::int64_t limit = 0;
  {
    std::lock_guard lock(state_->mutex);
    limit = state_->now;
  }
  std::size_t ran = 0;
  while (auto entry = state_->takeDue(limit)) {
    if (++ran > kRunawayLimit) {
      throw std::logic_error("VirtualDispatch: tasks keep submitting tasks due now");
    }
    const std::string* outer = runningLabel;
    runningLabel = &entry->label;
    struct Restore {
      const std::string* label;
      ~Restore() { runningLabel = label; }
    } restore{outer};
    if (entry->item) {
      entry->item->perform();
    } else {
      entry->task();
    }
    std::lock_guard lock(state_->mutex);
    ++state_->executed;
  }
}

void VirtualDispatch::advance(double seconds) {
  std::int64_t target = 0;
  {
    std::lock_guard lock(state_->mutex);
    target = state_->now + toTicks(seconds);
  }
  for (;;) {
    runUntilIdle();
    std::lock_guard lock(state_->mutex);
    // Cancelled items do not stop the clock.
    while (!state_->pending.empty() && state_->pending.begin()->second.item &&
           state_->pending.begin()->second.item->isCancelled()) {
      state_->pending.erase(state_->pending.begin());
    }
    if (state_->pending.empty() || state_->pending.begin()->first.first > target) {
      state_->now = target;
      break;
    }
    state_->now = state_->pending.begin()->first.first;
  }
  runUntilIdle();
}

std::size_t VirtualDispatch::pendingCount() const {
  std::lock_guard lock(state_->mutex);
  std::size_t count = 0;
  for (const auto& [key, entry] : state_->pending) {
    if (!entry.item || !entry.item->isCancelled()) ++count;
  }
  return count;
}

std::optional<double> VirtualDispatch::nextDeadline() const {
  std::lock_guard lock(state_->mutex);
  for (const auto& [key, entry] : state_->pending) {
    if (!entry.item || !entry.item->isCancelled()) return static_cast<double>(key.first) / 1e9;
  }
  return std::nullopt;
}

std::size_t VirtualDispatch::executedCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->executed;
}

std::optional<std::string> VirtualDispatch::currentQueueLabel() const {
  if (runningLabel == nullptr) return std::nullopt;
  return *runningLabel;
}

std::shared_ptr<DispatchQueue> VirtualDispatch::queue(const std::string& label) const {
  std::lock_guard lock(state_->mutex);
  for (auto it = state_->queues.rbegin(); it != state_->queues.rend(); ++it) {
    if (it->first == label) return it->second.lock();
  }
  return nullptr;
}

std::vector<std::string> VirtualDispatch::labels() const {
  std::lock_guard lock(state_->mutex);
  std::vector<std::string> result;
  for (const auto& [label, queue] : state_->queues) result.push_back(label);
  return result;
}

bool VirtualDispatch::mainLoopEntered() const {
  std::lock_guard lock(state_->mutex);
  return state_->mainLoopEntered;
}

}  // namespace talvorin::testing
