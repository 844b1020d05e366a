#include "output/events.hpp"

#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "output/helper_error.hpp"
#include "support/captured_output.hpp"

namespace talvorin {
namespace {

using testing::CapturedOutput;

constexpr OSStatus statusOf(const char (&code)[5]) {
  return static_cast<OSStatus>(
      (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
      (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
      (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
      static_cast<std::uint32_t>(static_cast<unsigned char>(code[3])));
}

TEST(EmitEvent, WritesOneCompactLineWithOneLineFeed) {
  CapturedOutput out;
  emitEvent(Event{{"type", "ready"}, {"sampleRate", 16000}, {"channels", 1}}, out.fd());
  const std::string text = out.contents();
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(text.find('\n'), text.size() - 1);
  EXPECT_EQ(text.find(' '), std::string::npos);
  EXPECT_EQ(nlohmann::json::parse(text),
            (nlohmann::json{{"type", "ready"}, {"sampleRate", 16000}, {"channels", 1}}));
}

TEST(EmitEvent, NonFiniteNumberAnywhereWritesNothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Event> invalid = {
      Event{{"type", "chunk"}, {"rms", nan}},
      Event{{"type", "chunk"}, {"peak", -inf}},
      Event{{"type", "x"}, {"list", Event::array({1, 2, Event::array({inf})})}},
      Event{{"type", "x"}, {"nested", Event{{"deep", Event{{"value", nan}}}}}},
      Event::array({"not", "an", "object"}),
  };
  for (const auto& event : invalid) {
    CapturedOutput out;
    emitEvent(event, out.fd());
    EXPECT_EQ(out.contents(), "") << event.dump();
  }
}

TEST(EmitEvent, InvalidUtf8IsASwallowedSerialisationFailure) {
  CapturedOutput out;
  emitEvent(Event{{"type", "x"}, {"message", std::string("\xff\xfe")}}, out.fd());
  EXPECT_EQ(out.contents(), "");
}

TEST(EmitEvent, ClosedDescriptorIsSwallowed) {
  emitEvent(Event{{"type", "x"}}, -1);  // must neither throw nor crash
  SUCCEED();
}

TEST(EmitError, WritesTheSharedErrorShapeEvenWithAnEmptyMessage) {
  CapturedOutput out;
  emitError("capture_start_failed", "", out.fd());
  const auto events = out.events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0],
            (nlohmann::json{{"type", "error"}, {"code", "capture_start_failed"}, {"message", ""}}));
}

TEST(FourCC, RendersPrintableCodesAndFallsBackToDecimal) {
  struct Case {
    OSStatus status;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {statusOf("what"), "what"},
      {statusOf("uid "), "uid "},  // the trailing space is kept
      {statusOf(" !! "), " !! "},
      {statusOf("~~~~"), "~~~~"},
      {-50, "-50"},
      {0, "0"},
      {1, "1"},
      {0x1F616161, std::to_string(0x1F616161)},  // first byte below 0x20
      {0x6161617F, std::to_string(0x6161617F)},  // last byte is DEL
      {std::numeric_limits<OSStatus>::min(), "-2147483648"},
  };
  for (const auto& c : cases) EXPECT_EQ(fourCC(c.status), c.expected) << c.status;
}

TEST(CheckOSStatus, ZeroReturnsAndAnythingElseThrowsTheExactSentence) {
  EXPECT_NO_THROW(checkOSStatus(0, "AudioDeviceStart"));

  struct Case {
    OSStatus status;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {2003329396, "AudioDeviceStart failed with OSStatus 2003329396 (what)."},
      {-50, "AudioDeviceStart failed with OSStatus -50 (-50)."},
      {statusOf("uid "), "AudioDeviceStart failed with OSStatus 1969841184 (uid )."},
  };
  for (const auto& c : cases) {
    try {
      checkOSStatus(c.status, "AudioDeviceStart");
      ADD_FAILURE() << "no throw for " << c.status;
    } catch (const HelperError& error) {
      EXPECT_EQ(error.description(), c.expected);
      EXPECT_STREQ(error.what(), c.expected.c_str());
    }
  }
}

// Lines emitted from many threads at once each arrive whole.
TEST(EmitEventConcurrency, LinesFromManyThreadsNeverInterleave) {
  CapturedOutput out;
  constexpr int kThreads = 8;
  constexpr int kLinesPerThread = 500;
  const std::string padding(300, 'x');
  std::vector<std::thread> threads;
  for (int thread = 0; thread < kThreads; ++thread) {
    threads.emplace_back([&, thread] {
      for (int line = 0; line < kLinesPerThread; ++line) {
        emitEvent(Event{{"type", "chunk"}, {"thread", thread}, {"line", line}, {"pad", padding}},
                  out.fd());
      }
    });
  }
  for (auto& thread : threads) thread.join();

  const auto lines = out.lines();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLinesPerThread));
  std::vector<int> next(kThreads, 0);
  for (const auto& line : lines) {
    const auto event = nlohmann::json::parse(line);  // throws, failing the test, if torn
    const int thread = event.at("thread").get<int>();
    EXPECT_EQ(event.at("line").get<int>(), next[static_cast<std::size_t>(thread)]++);
  }
}

}  // namespace
}  // namespace talvorin
