// The built helper in watch mode against a private server with an input source.
#include <gtest/gtest.h>

#include "e2e_support.hpp"
#include "helper_run.hpp"

namespace talvorin::testing {
namespace {

using nlohmann::json;

TEST(WatchInputProcesses, ListsARecorderOfAnInputWhileItRecordsAndNeverAMonitorRecorder) {
  if (!pulseServerConfigured()) GTEST_SKIP() << "needs PULSE_SERVER (tests/e2e/run)";
  const std::string source = "talvorin_e2e_input";
  LoadedModule input("module-null-source source_name=" + source);
  ASSERT_TRUE(input.loaded());
  // Capturing what plays is not recording from an input.
  ChildProcess monitorRecorder({"parec", "-d", defaultSink() + ".monitor"});
  ASSERT_TRUE(waitFor([&] { return hasClientWithPid(monitorRecorder.pid()); }));

  HelperRun helper(HelperOptions().withArguments({"--watch-input-processes"}).inWatchMode());
  const auto lines = [&] { return helper.stdoutEvents().size(); };
  ASSERT_TRUE(helper.waitUntil([&] { return lines() >= 1; }, 5.0));
  EXPECT_EQ(helper.stdoutEvents().front(),
            json::parse(R"({"type":"audio-input-processes","processes":[]})"));
  // Two more polls with nothing changed print nothing.
  EXPECT_FALSE(helper.waitUntil([&] { return lines() > 1; }, 2.5));

  auto recorder = std::make_unique<ChildProcess>(std::vector<std::string>{"parec", "-d", source});
  const pid_t recorderPid = recorder->pid();
  ASSERT_TRUE(helper.waitUntil([&] { return lines() >= 2; }, 5.0));
  const json expected = {{"type", "audio-input-processes"},
                         {"processes", {{{"pid", recorderPid}, {"bundleId", "parec"}}}}};
  EXPECT_EQ(helper.stdoutEvents().at(1), expected);

  recorder.reset();
  ASSERT_TRUE(helper.waitUntil([&] { return lines() >= 3; }, 5.0));
  EXPECT_EQ(helper.stdoutEvents().at(2), helper.stdoutEvents().front());
  EXPECT_FALSE(helper.waitUntil([&] { return lines() > 3; }, 1.5));
  EXPECT_TRUE(helper.events().empty()) << "watch mode writes nothing to standard error";
}

}  // namespace
}  // namespace talvorin::testing
