#include "discovery/input_process_watcher.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/captured_output.hpp"
#include "support/simulated_host.hpp"

namespace talvorin {
namespace {

using nlohmann::json;
using testing::CapturedOutput;
using testing::SimulatedHost;

json processesEvent(const std::vector<std::pair<int, std::string>>& processes) {
  json list = json::array();
  for (const auto& [pid, bundle] : processes) list.push_back({{"pid", pid}, {"bundleId", bundle}});
  return json{{"type", "audio-input-processes"}, {"processes", list}};
}

TEST(ActiveInputProcesses, ListsRecordersSortedByBundleThenProcessID) {
  SimulatedHost host;
  host.addProcess(900, "com.example.b", true);
  host.addProcess(450, "com.example.b", true);
  host.addProcess(31, "com.example.a", true);
  host.addProcess(12, "Com.example.z", true);  // upper case sorts before lower case
  host.addProcess(77, "", true);               // no bundle anywhere: listed, first
  host.addProcess(64, "com.example.silent", false);

  const std::vector<ActiveInputProcess> expected = {{77, ""},
                                                    {12, "Com.example.z"},
                                                    {31, "com.example.a"},
                                                    {450, "com.example.b"},
                                                    {900, "com.example.b"}};
  EXPECT_EQ(activeInputProcesses(host), expected);
}

TEST(ActiveInputProcesses, LeavesOutProcessesWhosePropertiesCannotBeUsed) {
  SimulatedHost host;
  host.addProcess(0, "com.example.zero", true);
  host.addProcess(-3, "com.example.negative", true);
  const AudioObjectID noPID = host.addProcess(40, "com.example.nopid", true);
  host.setPropertyStatus(noPID, kAudioProcessPropertyPID, kAudioHardwareBadObjectError);
  const AudioObjectID noFlag = host.addProcess(41, "com.example.noflag", true);
  host.setPropertyStatus(noFlag, kAudioProcessPropertyIsRunningInput, kAudioHardwareBadObjectError);
  host.addProcess(42, "com.example.kept", true);

  EXPECT_EQ(activeInputProcesses(host),
            (std::vector<ActiveInputProcess>{{42, "com.example.kept"}}));
}

TEST(ActiveInputProcesses, FallsBackToTheRunningApplicationForTheBundle) {
  SimulatedHost host;
  host.addProcess(10, "", true);
  host.setRunningApplication(10, "com.example.app");
  const AudioObjectID failing = host.addProcess(11, "com.example.hidden", true);
  host.setPropertyStatus(failing, kAudioProcessPropertyBundleID, kAudioHardwareBadObjectError);
  host.setRunningApplication(11, "com.example.fromapp");
  host.addProcess(12, "", true);
  host.setRunningApplication(12, std::nullopt);  // an application without an identifier

  EXPECT_EQ(activeInputProcesses(host),
            (std::vector<ActiveInputProcess>{
                {12, ""}, {10, "com.example.app"}, {11, "com.example.fromapp"}}));
}

// The process list shrinks between the size read and the data read: the zero entries left
// in the buffer are skipped.
class ShrinkingListHost : public SimulatedHost {
 public:
  OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                               UInt32 qualifierSize, const void* qualifier,
                               UInt32& outDataSize) override {
    const OSStatus status =
        SimulatedHost::getPropertyDataSize(object, address, qualifierSize, qualifier, outDataSize);
    outDataSize += 2 * sizeof(AudioObjectID) + 3;  // two entries gone, and a stray remainder
    return status;
  }
};

TEST(ActiveInputProcesses, SkipsEntriesLeftEmptyWhenTheListShrinks) {
  ShrinkingListHost host;
  host.addProcess(5, "com.example.a", true);
  EXPECT_EQ(activeInputProcesses(host), (std::vector<ActiveInputProcess>{{5, "com.example.a"}}));
}

TEST(ProcessSignature, JoinsEntriesInListOrder) {
  EXPECT_EQ(processSignature({}), "");
  EXPECT_EQ(processSignature({{450, "com.b"}, {900, "com.b"}, {7, ""}}), "450:com.b|900:com.b|7:");
}

TEST(InputProcessWatcher, ReportsTheFirstPollAndThenOnlyChanges) {
  SimulatedHost host;
  CapturedOutput out;
  InputProcessWatcher watcher(host, out.fd());

  watcher.pollOnce();  // nobody records: the first poll still reports
  watcher.pollOnce();
  const AudioObjectID recorder = host.addProcess(900, "com.example.rec", true);
  watcher.pollOnce();
  watcher.pollOnce();
  host.addProcess(450, "com.example.rec", true);
  watcher.pollOnce();
  host.setRunningInput(recorder, false);
  watcher.pollOnce();

  EXPECT_EQ(out.events(), (std::vector<json>{
                              processesEvent({}),
                              processesEvent({{900, "com.example.rec"}}),
                              processesEvent({{450, "com.example.rec"}, {900, "com.example.rec"}}),
                              processesEvent({{450, "com.example.rec"}}),
                          }));
}

TEST(InputProcessWatcher, ReportsFailedPollsWithoutForgettingTheLastSet) {
  SimulatedHost host;
  CapturedOutput out;
  InputProcessWatcher watcher(host, out.fd());
  host.addProcess(7, "com.example.rec", true);

  host.setStatus(SimulatedHost::Operation::getPropertyDataSize, kAudioHardwareUnspecifiedError);
  watcher.pollOnce();  // a failed first poll does not count as the first report
  host.setStatus(SimulatedHost::Operation::getPropertyDataSize, noErr);
  watcher.pollOnce();
  host.setStatus(SimulatedHost::Operation::getPropertyData, -50);
  watcher.pollOnce();
  host.setStatus(SimulatedHost::Operation::getPropertyData, noErr);
  watcher.pollOnce();  // same set as before the error: nothing

  EXPECT_EQ(out.events(),
            (std::vector<json>{
                {{"type", "error"},
                 {"code", "audio_process_probe_failed"},
                 {"message",
                  "AudioObjectGetPropertyDataSize(process object list) failed with OSStatus "
                  "2003329396 (what)."}},
                processesEvent({{7, "com.example.rec"}}),
                {{"type", "error"},
                 {"code", "audio_process_probe_failed"},
                 {"message",
                  "AudioObjectGetPropertyData(process object list) failed with OSStatus -50 "
                  "(-50)."}},
            }));
}

TEST(RunInputProcessWatcher, PollsThenSleepsOneSecondForever) {
  SimulatedHost host;
  CapturedOutput out;
  struct Stop {};
  std::vector<double> sleeps;
  EXPECT_THROW(runInputProcessWatcher(host, out.fd(),
                                      [&](double seconds) {
                                        sleeps.push_back(seconds);
                                        if (sleeps.size() == 2) host.addProcess(3, "x", true);
                                        if (sleeps.size() == 4) throw Stop{};
                                      }),
               Stop);
  EXPECT_EQ(sleeps, (std::vector<double>{1.0, 1.0, 1.0, 1.0}));
  EXPECT_EQ(out.events(), (std::vector<json>{processesEvent({}), processesEvent({{3, "x"}})}));
}

}  // namespace
}  // namespace talvorin
