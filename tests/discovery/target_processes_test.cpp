#include "discovery/target_processes.hpp"

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "output/helper_error.hpp"
#include "support/simulated_host.hpp"

namespace talvorin {
namespace {

using testing::SimulatedHost;

TEST(ParseProcessIDList, FollowsTheVariablesRules) {
  struct Case {
    std::string text;
    std::vector<std::int32_t> expected;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {",, ,\t,\n", {}},
      {" 101 , 202 ,, 303\n", {101, 202, 303}},
      {"101;202", {}},  // one piece that does not parse
      {"101 202", {}},
      {"+42", {42}},
      {"007", {7}},
      {"0,-5,2147483648,2147483647", {2147483647}},
      {"-2147483648,-2147483649", {}},
      {"12,abc,34", {12, 34}},
      {"5,5", {5, 5}},
      {"+,-,++1,+-1,1+,0x10,1.5,1e3", {}},
      {"\xC2\xA0"
       "77\xE2\x80\x83",
       {77}},  // no-break space and em space are trimmed
      {"7\xC2\xA0"
       "8",
       {}},  // but not inside a piece
      {"00000000000000000000042", {42}},
      {"99999999999999999999999", {}},
      {"\xFF"
       "1",
       {}},  // malformed UTF-8 is not white space
  };
  for (const auto& c : cases) EXPECT_EQ(parseProcessIDList(c.text), c.expected) << c.text;
}

class TargetProcessesTest : public ::testing::Test {
 protected:
  void SetUp() override { ::unsetenv(kIncludePIDVariable); }
  void TearDown() override { ::unsetenv(kIncludePIDVariable); }
  void setVariable(const char* value) { ::setenv(kIncludePIDVariable, value, 1); }

  SimulatedHost host;
};

TEST_F(TargetProcessesTest, NothingNamedMakesNoHardwareCall) {
  EXPECT_TRUE(targetProcessObjectsFromEnvironment(host).empty());
  setVariable(" , \n");
  EXPECT_TRUE(targetProcessObjectsFromEnvironment(host).empty());
  EXPECT_TRUE(host.calls().empty());
}

TEST_F(TargetProcessesTest, TranslatesEachProcessIDInOrder) {
  const AudioObjectID a = host.addProcess(101);
  const AudioObjectID b = host.addProcess(202);
  const AudioObjectID c = host.addProcess(303);
  setVariable(" 303, 101 ,x, 202 ,303\n");
  EXPECT_EQ(targetProcessObjectsFromEnvironment(host), (std::vector<AudioObjectID>{c, a, b, c}));
}

TEST_F(TargetProcessesTest, AProcessWithoutObjectFailsTheWholeCall) {
  host.addProcess(101);
  setVariable("101,4242,202");
  try {
    targetProcessObjectsFromEnvironment(host);
    FAIL() << "no throw";
  } catch (const HelperError& error) {
    EXPECT_EQ(error.description(), "No Core Audio process object is available for PID 4242.");
  }
  // 202 was never tried.
  EXPECT_EQ(host.operations(),
            (std::vector<std::string>{"AudioObjectGetPropertyData", "AudioObjectGetPropertyData"}));
}

TEST_F(TargetProcessesTest, AFailedTranslationNamesTheCall) {
  host.addProcess(101);
  host.setStatus(SimulatedHost::Operation::getPropertyData, -50);
  setVariable("101");
  try {
    targetProcessObjectsFromEnvironment(host);
    FAIL() << "no throw";
  } catch (const HelperError& error) {
    EXPECT_EQ(error.description(),
              "AudioObjectGetPropertyData(process object) failed with OSStatus -50 (-50).");
  }
}

}  // namespace
}  // namespace talvorin
