#include "support/virtual_dispatch.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talvorin::testing {
namespace {

class VirtualDispatchTest : public ::testing::Test {
 protected:
  std::shared_ptr<DispatchWorkItem> record(std::string name) {
    return std::make_shared<DispatchWorkItem>([this, name] { ran_.push_back(name); });
  }

  VirtualDispatch dispatch_;
  std::shared_ptr<DispatchQueue> queue_ = dispatch_.makeSerialQueue("com.example.queue");
  std::vector<std::string> ran_;
};

TEST_F(VirtualDispatchTest, NothingRunsUntilTheTestSaysSo) {
  queue_->async([this] { ran_.push_back("task"); });
  EXPECT_TRUE(ran_.empty());
  EXPECT_EQ(dispatch_.pendingCount(), 1U);
  dispatch_.runUntilIdle();
  EXPECT_EQ(ran_, std::vector<std::string>{"task"});
  EXPECT_EQ(dispatch_.pendingCount(), 0U);
  EXPECT_EQ(dispatch_.executedCount(), 1U);
}

TEST_F(VirtualDispatchTest, ADelayedItemRunsAtItsDeadlineAndNotBefore) {
  queue_->asyncAfter(0.4, record("rebind"));
  dispatch_.runUntilIdle();
  dispatch_.advance(0.399);
  EXPECT_TRUE(ran_.empty());
  EXPECT_EQ(dispatch_.nextDeadline(), 0.4);
  dispatch_.advance(0.001);
  EXPECT_EQ(ran_, std::vector<std::string>{"rebind"});
  EXPECT_DOUBLE_EQ(dispatch_.now(), 0.4);
}

TEST_F(VirtualDispatchTest, StepsOfATenthMeetADeadlineSetAfterThem) {
  // Three steps of 0.1 s and a deadline 0.4 s later: whole nanoseconds, no drift.
  for (int i = 0; i < 3; ++i) dispatch_.advance(0.1);
  queue_->asyncAfter(0.4, record("due"));
  dispatch_.advance(0.4);
  EXPECT_EQ(ran_, std::vector<std::string>{"due"});
}

TEST_F(VirtualDispatchTest, CancelledItemsAreSkippedAndNotCounted) {
  auto cancelled = record("cancelled");
  queue_->asyncAfter(0.2, cancelled);
  queue_->asyncAfter(0.3, record("kept"));
  cancelled->cancel();
  EXPECT_EQ(dispatch_.pendingCount(), 1U);
  EXPECT_EQ(dispatch_.nextDeadline(), 0.3);
  dispatch_.advance(1.0);
  EXPECT_EQ(ran_, std::vector<std::string>{"kept"});
  EXPECT_EQ(dispatch_.executedCount(), 1U);
}

TEST_F(VirtualDispatchTest, CancelAndRescheduleEndsInOneRunAfterTheLastSchedule) {
  // The shape of a debounce: each notification replaces the pending item.
  std::shared_ptr<DispatchWorkItem> pending;
  auto notify = [&] {
    if (pending) pending->cancel();
    pending = record("rebind");
    queue_->asyncAfter(0.4, pending);
  };
  for (int i = 0; i < 3; ++i) {
    notify();
    dispatch_.advance(0.1);
  }
  dispatch_.advance(0.299);
  EXPECT_TRUE(ran_.empty());
  dispatch_.advance(0.001);
  EXPECT_EQ(ran_, std::vector<std::string>{"rebind"});
}

TEST_F(VirtualDispatchTest, RunsByDeadlineThenSubmissionAcrossQueues) {
  auto other = dispatch_.makeSerialQueue("com.example.other");
  queue_->asyncAfter(0.2, record("a at 0.2"));
  other->asyncAfter(0.1, record("b at 0.1"));
  queue_->asyncAfter(0.1, record("c at 0.1"));
  queue_->async([this] { ran_.push_back("d now"); });
  other->async([this] { ran_.push_back("e now"); });
  dispatch_.advance(0.5);
  EXPECT_EQ(ran_, (std::vector<std::string>{"d now", "e now", "b at 0.1", "c at 0.1", "a at 0.2"}));
}

TEST_F(VirtualDispatchTest, TasksSubmittedByTasksRunWhenDue) {
  std::vector<double> times;
  queue_->async([&] {
    times.push_back(dispatch_.now());
    queue_->async([&] { times.push_back(dispatch_.now()); });  // due now: same runUntilIdle
    queue_->asyncAfter(0.25, std::make_shared<DispatchWorkItem>([&] {
                         times.push_back(dispatch_.now());
                         // Due at the current virtual time: runs within the same advance.
                         queue_->async([&] { times.push_back(dispatch_.now()); });
                       }));
  });
  dispatch_.runUntilIdle();
  EXPECT_EQ(times, (std::vector<double>{0.0, 0.0}));
  dispatch_.advance(1.0);
  EXPECT_EQ(times, (std::vector<double>{0.0, 0.0, 0.25, 0.25}));
  EXPECT_DOUBLE_EQ(dispatch_.now(), 1.0);
}

TEST_F(VirtualDispatchTest, NeverRunsATaskInsideTheSubmittingCall) {
  bool inner = false;
  bool seenRightAfterSubmit = true;
  queue_->async([&] {
    queue_->async([&] { inner = true; });
    seenRightAfterSubmit = inner;
  });
  dispatch_.runUntilIdle();
  EXPECT_FALSE(seenRightAfterSubmit);
  EXPECT_TRUE(inner);
}

TEST_F(VirtualDispatchTest, TellsWhichQueueIsRunningAndFindsQueuesByLabel) {
  auto other = dispatch_.makeSerialQueue("com.example.other");
  std::vector<std::string> labels;
  other->async([&] { labels.push_back(dispatch_.currentQueueLabel().value_or("none")); });
  queue_->async([&] { labels.push_back(dispatch_.currentQueueLabel().value_or("none")); });
  dispatch_.runUntilIdle();
  EXPECT_EQ(labels, (std::vector<std::string>{"com.example.other", "com.example.queue"}));
  EXPECT_FALSE(dispatch_.currentQueueLabel().has_value());

  EXPECT_EQ(dispatch_.labels(),
            (std::vector<std::string>{"com.example.queue", "com.example.other"}));
  EXPECT_EQ(dispatch_.queue("com.example.other"), other);
  EXPECT_EQ(dispatch_.queue("com.example.missing"), nullptr);
}

TEST_F(VirtualDispatchTest, NegativeDelaysMeanNow) {
  queue_->asyncAfter(-1.0, record("past"));
  dispatch_.runUntilIdle();
  EXPECT_EQ(ran_, std::vector<std::string>{"past"});
}

TEST_F(VirtualDispatchTest, TheMainLoopThrowsInsteadOfReturning) {
  EXPECT_FALSE(dispatch_.mainLoopEntered());
  EXPECT_THROW(dispatch_.runMainLoop(), MainLoopEntered);
  EXPECT_TRUE(dispatch_.mainLoopEntered());
}

TEST_F(VirtualDispatchTest, ARunawayTaskChainIsReported) {
  std::function<void()> again = [&] { queue_->async(again); };
  queue_->async(again);
  EXPECT_THROW(dispatch_.runUntilIdle(), std::logic_error);
}

}  // namespace
}  // namespace talvorin::testing
