// The built helper in capture mode against a private server: real players, a real sink's
// monitor, standard output parsed by an independent frame reader.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <numeric>

#include "e2e_support.hpp"
#include "helper_run.hpp"

namespace talvorin::testing {
namespace {

using nlohmann::json;

// Tolerances for a sine played at amplitude 0.5 on both channels of a 48000 Hz sink.
// Frequency: zero crossings over 0.5 s at 440 Hz count to within one crossing (0.2 %); 2 %
// still catches every real fault: a wrong rate assumption (48000 read as 44100) shifts it by
// 8.8 %, channels read as samples double it. Level: the null sink and a player at 100 % volume
// pass samples unchanged, 16-bit rounding and the resampler's passband ripple stay far below
// 1 %; 5 % above catches a summed mixdown (+100 %) or a -3 dB one (+41 %). Below, the margin
// is wider: on a loaded machine a player may underrun, and a gap of a few tens of
// milliseconds in the window lowers the level, never raises it; 15 % still catches a tone
// halved by mixing in a silent channel.
constexpr double kFrequencyTolerance = 0.02;
constexpr double kToneAmplitude = 0.5;

void expectLevel(double measured, double expected) {
  EXPECT_GE(measured, expected * 0.85);
  EXPECT_LE(measured, expected * 1.05);
}

#define REQUIRE_SERVER() \
  if (!pulseServerConfigured()) GTEST_SKIP() << "needs PULSE_SERVER (tests/e2e/run)"

std::size_t indexOf(const std::vector<std::string>& types, const std::string& type) {
  return static_cast<std::size_t>(std::find(types.begin(), types.end(), type) - types.begin());
}

// Every "chunk" line counts the frames and payload bytes handed on so far: the first
// `chunks` frames read must add up to `bytes`.
void expectChunksAgreeWithFrames(const HelperRun& helper) {
  const auto sizes = helper.payloadSizes();
  std::size_t checked = 0;
  for (const auto& event : helper.events()) {
    if (!event.is_object() || event.value("type", "") != "chunk") continue;
    const auto chunks = event.at("chunks").get<std::size_t>();
    if (chunks > sizes.size()) continue;  // its frame is not read yet
    const auto bytes =
        std::accumulate(sizes.begin(), sizes.begin() + static_cast<long>(chunks), std::uint64_t{0});
    EXPECT_EQ(event.at("bytes").get<std::uint64_t>(), bytes) << event.dump();
    EXPECT_TRUE(chunks == 1 || chunks % 50 == 0)
        << "chunk lines come for the 1st frame and every 50th";
    ++checked;
  }
  EXPECT_GE(checked, 2U);
}

// Waits until the last 0.25 s carry a tone of at least `level`, then returns the next 0.5 s.
std::vector<float> heardTone(const HelperRun& helper, double level = 0.3) {
  helper.waitUntil([&] { return rms(helper.tail(4000)) > level * 0.707; }, 10.0);
  return helper.nextSeconds(0.5);
}

// Waits until the last 0.25 s carry the tone at `frequency`, then returns the next 0.5 s.
std::vector<float> heardToneAt(const HelperRun& helper, double frequency) {
  helper.waitUntil([&] { return toneAmplitude(helper.tail(4000), frequency) > 0.35; }, 10.0);
  return helper.nextSeconds(0.5);
}

TEST(CaptureOfDefaultOutput, ToneComesOutAt16kHzWithItsFrequencyLevelAndEventsInOrder) {
  REQUIRE_SERVER();
  HelperRun helper;
  const auto player = playTone(440.0, kToneAmplitude);

  const auto samples = heardTone(helper);
  ASSERT_EQ(samples.size(), 8000U) << "no audio came out";
  EXPECT_NEAR(zeroCrossingHz(samples), 440.0, 440.0 * kFrequencyTolerance);
  expectLevel(rms(samples), kToneAmplitude / std::sqrt(2.0));
  expectLevel(toneAmplitude(samples, 440.0), kToneAmplitude);
  EXPECT_FALSE(helper.framesBroken());

  const auto types = helper.eventTypes();
  ASSERT_FALSE(types.empty());
  EXPECT_EQ(types.front(), "starting");
  const std::vector<std::string> startUp{"starting", "output.device", "tap.created", "format",
                                         "ready"};
  for (std::size_t i = 1; i < startUp.size(); ++i) {
    EXPECT_LT(indexOf(types, startUp[i - 1]), indexOf(types, startUp[i]))
        << startUp[i - 1] << " before " << startUp[i];
  }
  EXPECT_LT(indexOf(types, "ready"), types.size());
  EXPECT_EQ(helper.countOf("capture.started"), 1U);
  EXPECT_EQ(helper.countOf("error"), 0U);

  const auto events = helper.events();
  // An event that is missing reads as an empty object, and at() then fails the test.
  const auto find = [&](const std::string& type) {
    const auto found = std::find_if(events.begin(), events.end(), [&](const json& event) {
      return event.value("type", "") == type;
    });
    return found == events.end() ? json::object() : *found;
  };
  EXPECT_EQ(find("starting").at("engine"), "pulseaudio-monitor");
  EXPECT_EQ(find("starting").at("pid"), helper.pid());
  EXPECT_EQ(find("ready").at("engine"), "pulseaudio-monitor");
  EXPECT_EQ(find("ready").at("sampleRate"), 16000);
  EXPECT_EQ(find("ready").at("channels"), 1);
  EXPECT_EQ(find("output.device").at("deviceUID"), defaultSink());
  EXPECT_EQ(find("format").at("sampleRate"), 48000);
  EXPECT_EQ(find("format").at("channels"), 2);

  // A chunk line's levels are those of the source samples, so the tone shows there too.
  helper.waitUntil([&] { return helper.countOf("chunk") >= 4; }, 5.0);
  double loudestChunk = 0.0;
  for (const auto& event : helper.events()) {
    if (event.value("type", "") == "chunk") {
      loudestChunk = std::max(loudestChunk, event.at("peak").get<double>());
    }
  }
  expectLevel(loudestChunk, kToneAmplitude);
  expectChunksAgreeWithFrames(helper);
}

TEST(CaptureOfDefaultOutput, ServerWithoutAnySinkFailsToStartWithStatus3) {
  REQUIRE_SERVER();
  BareServer bare;
  ASSERT_TRUE(bare.ready());
  HelperRun helper(HelperOptions().withEnvironment({bare.serverVariable()}));

  const auto status = helper.process().waitForExit(std::chrono::seconds(10));
  ASSERT_TRUE(status.has_value()) << "the helper kept running without a sink";
  ASSERT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 3);
  helper.waitUntil([&] { return helper.countOf("error") > 0; }, 2.0);
  const auto events = helper.events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().value("type", ""), "error");
  EXPECT_EQ(events.back().value("code", ""), "capture_start_failed");
  EXPECT_EQ(helper.countOf("ready"), 0U);
  EXPECT_EQ(helper.frameCount(), 0U);
}

TEST(CaptureOfDefaultOutput, FollowsEachSwitchOfTheDefaultSinkWithoutLosingTheStream) {
  REQUIRE_SERVER();
  const std::string first = defaultSink();
  const std::string second = "talvorin_e2e_second";
  ExtraSink extra(second);
  ASSERT_TRUE(extra.ready());
  // Whatever happens, the next test finds the server's own sink as the default again.
  struct Restore {
    std::string sink;
    ~Restore() { runCommand("pactl set-default-sink " + sink); }
  } restore{first};

  // The server may move the first player along with the default (streams that never chose a
  // sink follow it), so only the second sink's tone tells the sinks apart.
  const auto low = playTone(440.0, kToneAmplitude, first);
  const auto high = playTone(1250.0, kToneAmplitude, second);
  HelperRun helper;
  ASSERT_TRUE(helper.waitUntil([&] { return helper.countOf("capture.started") == 1; }, 10.0));
  const auto before = heardToneAt(helper, 440.0);
  EXPECT_NEAR(zeroCrossingHz(before), 440.0, 440.0 * kFrequencyTolerance);
  EXPECT_LT(toneAmplitude(before, 1250.0), kToneAmplitude * 0.01) << "the other sink is heard";

  const std::size_t switches = 21;  // there and back ten times, and once more
  std::string current = first;
  for (std::size_t i = 1; i <= switches; ++i) {
    current = current == first ? second : first;
    ASSERT_TRUE(runCommand("pactl set-default-sink " + current));
    // One switch at a time: the helper waits for the notifications to settle before it
    // rebuilds, so switches closer together than that would count as one.
    ASSERT_TRUE(helper.waitUntil([&] { return helper.countOf("capture.started") == i + 1; }, 10.0))
        << "switch " << i << " to " << current;
  }
  ASSERT_EQ(current, second);

  // Frames keep arriving after the last switch, and carry the final sink's tone.
  const auto samples = heardToneAt(helper, 1250.0);
  ASSERT_EQ(samples.size(), 8000U);
  expectLevel(toneAmplitude(samples, 1250.0), kToneAmplitude);
  EXPECT_FALSE(helper.framesBroken());

  // No extra rebuild after the last switch.
  EXPECT_FALSE(
      helper.waitUntil([&] { return helper.countOf("output.device.changed") > switches; }, 1.5));

  // Each switch: its change line, then the new build's lines, naming the new sink.
  std::vector<std::string> expected{"output.device", "tap.created", "format"};
  std::vector<std::string> expectedSinks{first};
  for (std::size_t i = 1; i <= switches; ++i) {
    expected.insert(expected.end(),
                    {"output.device.changed", "output.device", "tap.created", "format"});
    expectedSinks.push_back(i % 2 == 1 ? second : first);
  }
  std::vector<std::string> builds;
  std::vector<std::string> builtSinks;
  std::vector<std::string> changedTo;
  for (const auto& event : helper.events()) {
    const std::string type = event.value("type", "");
    if (type == "output.device.changed") changedTo.push_back(event.at("deviceUID"));
    if (type == "output.device") builtSinks.push_back(event.at("deviceUID"));
    if (type == "output.device.changed" || type == "output.device" || type == "tap.created" ||
        type == "format") {
      builds.push_back(type);
    }
  }
  EXPECT_EQ(builds, expected);
  EXPECT_EQ(builtSinks, expectedSinks);
  EXPECT_EQ(changedTo, std::vector<std::string>(expectedSinks.begin() + 1, expectedSinks.end()));
  EXPECT_EQ(helper.countOf("error"), 0U);
  expectChunksAgreeWithFrames(helper);
}

// Two players with different tones; the helper limited to some of their PIDs.
struct SelectionCase {
  const char* name;
  bool includeLow;
  bool includeHigh;
};

class ProcessSelection : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(ProcessSelection, CapturesOnlyTheNamedPlayers) {
  REQUIRE_SERVER();
  const auto& selection = GetParam();
  const auto low = playTone(440.0, kToneAmplitude);
  const auto high = playTone(1250.0, kToneAmplitude);
  ASSERT_TRUE(hasClientWithPid(low->pid()) && hasClientWithPid(high->pid()));

  std::string pids;
  if (selection.includeLow) pids += std::to_string(low->pid());
  if (selection.includeHigh) pids += "," + std::to_string(high->pid());
  HelperRun helper(HelperOptions().withEnvironment({"TALVORIN_AUDIO_INCLUDE_PID=" + pids}));

  const auto samples = heardTone(helper, 0.2);
  ASSERT_EQ(samples.size(), 8000U);
  // A played tone comes through at its amplitude; one left out stays below 1 % of it (the
  // Goertzel leakage of the other tone over 0.5 s is far smaller than that).
  const auto expectTone = [&](double frequency, bool included) {
    const double level = toneAmplitude(samples, frequency);
    if (included) {
      SCOPED_TRACE(frequency);
      expectLevel(level, kToneAmplitude);
    } else {
      EXPECT_LT(level, kToneAmplitude * 0.01) << frequency;
    }
  };
  expectTone(440.0, selection.includeLow);
  expectTone(1250.0, selection.includeHigh);

  const auto events = helper.events();
  const auto targets = std::find_if(events.begin(), events.end(), [](const json& event) {
    return event.value("type", "") == "target.processes";
  });
  ASSERT_NE(targets, events.end());
  EXPECT_EQ(targets->at("processObjects").size(),
            static_cast<std::size_t>(selection.includeLow) + selection.includeHigh);
  EXPECT_EQ(helper.countOf("ready"), 1U);
}

INSTANTIATE_TEST_SUITE_P(Players, ProcessSelection,
                         ::testing::Values(SelectionCase{"low", true, false},
                                           SelectionCase{"high", false, true},
                                           SelectionCase{"both", true, true}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(CaptureOfProcesses, PidWithoutAClientFailsWithStatus3AndNamesIt) {
  REQUIRE_SERVER();
  const auto player = playTone(440.0, kToneAmplitude);
  // The test process itself: it exists, but has no client on the server.
  const std::string pid = std::to_string(getpid());
  HelperRun helper(HelperOptions().withEnvironment(
      {"TALVORIN_AUDIO_INCLUDE_PID=" + std::to_string(player->pid()) + "," + pid}));

  const auto status = helper.process().waitForExit(std::chrono::seconds(10));
  ASSERT_TRUE(status.has_value());
  ASSERT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 3);
  helper.waitUntil([&] { return helper.countOf("error") > 0; }, 2.0);
  const auto events = helper.events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().value("code", ""), "capture_start_failed");
  EXPECT_EQ(events.back().value("message", ""),
            "No Core Audio process object is available for PID " + pid + ".");
  EXPECT_EQ(helper.countOf("ready"), 0U);
}

TEST(CaptureReader, ClosingTheReadEndEndsTheHelperWithStatus0) {
  REQUIRE_SERVER();
  HelperRun helper(HelperOptions().withoutReadingStdout());
  // Read a few frames by hand, then go away mid-stream.
  FrameReader reader;
  std::uint8_t buffer[1000];
  while (reader.payloadSizes().size() < 5) {
    const ssize_t count = read(helper.process().stdoutFd(), buffer, sizeof buffer);
    ASSERT_GT(count, 0) << "standard output ended early";
    reader.feed(buffer, static_cast<std::size_t>(count));
  }
  EXPECT_FALSE(reader.broken());
  helper.process().closeStdout();

  const auto status = helper.process().waitForExit(std::chrono::seconds(5));
  ASSERT_TRUE(status.has_value()) << "the helper kept running after its reader left";
  ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status);
  EXPECT_EQ(WEXITSTATUS(*status), 0);
}

TEST(CaptureReader, SlowReaderCatchesUpWithoutACorruptedFrame) {
  REQUIRE_SERVER();
  const auto player = playTone(440.0, kToneAmplitude);
  HelperRun helper(HelperOptions().withoutReadingStdout());
  // Nothing reads while about 3 s of frames are produced: far more than a pipe holds, so the
  // helper has to hold them back and hand them on later.
  ASSERT_TRUE(helper.waitUntil(
      [&] {
        const auto events = helper.events();
        return std::any_of(events.begin(), events.end(), [](const json& event) {
          return event.value("type", "") == "chunk" && event.at("chunks").get<int>() >= 301;
        });
      },
      15.0));
  helper.releaseStdout();

  ASSERT_TRUE(helper.waitUntil([&] { return helper.frameCount() >= 301; }, 10.0));
  EXPECT_FALSE(helper.framesBroken());
  const auto samples = heardTone(helper);
  EXPECT_NEAR(zeroCrossingHz(samples), 440.0, 440.0 * kFrequencyTolerance);
  expectChunksAgreeWithFrames(helper);
}

}  // namespace
}  // namespace talvorin::testing
