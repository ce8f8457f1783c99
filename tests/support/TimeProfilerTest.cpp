#include "support/TimeProfiler.h"
#include <functional>

#include "TestCommon.h"

namespace {

using warpix_test::CoutCapture;

// A fake processor clock the tests advance by hand.
int64_t g_Now = 0;
int64_t FakeClock() { return g_Now; }

class TimeProfilerTest : public ::testing::Test {
 protected:
  void SetUp() override { g_Now = 0; }
  TimeProfiler profiler{FakeClock};
};

TEST_F(TimeProfilerTest, FinishedLineAndProfileText) {
  EXPECT_EQ(profiler.profile(), "Empty Time Profile");
  profiler.startedProcess("solve step");
  g_Now = 2000001;
  CoutCapture capture;
  profiler.finishedProcess("solve step", true);
  EXPECT_EQ(capture.str(), ">>>>>>> Finished: solve step - 2.000s\n");
  EXPECT_EQ(profiler.getTotalProcessLengthInSeconds("never"), "0.000s");  // creates it
  EXPECT_EQ(profiler.profile(), "Time Profile:\n    never \t 0.000s\n    solve_step \t 2.000s\n");
}

TEST_F(TimeProfilerTest, ProgressDisplays) {
  profiler.startedProcess("p");
  g_Now = 4000001;
  ZelStringList names;
  names.push_back("p");
  const std::vector<std::pair<std::function<void()>, std::string>> cases = {
      {[&] { profiler.WriteProgress("p", 10, 40); },
       "\r[" + std::string(10, '+') + std::string(30, ' ') + "] N=30 T={4s | 12s}    "},
      {[&] { profiler.WriteProgress("q", 5, 5); }, "\r[" + std::string(40, '+') + "] N=0 T={0s | 0s}    "},
      {[&] { profiler.WriteProgress("r", 0, 3); }, "\r[" + std::string(40, ' ') + "] N=3 T={0s | -1s}    "},
      {[&] { profiler.WriteProgress("r", 1, 0); }, ""},  // no division by zero
      // 4000000 ticks, then a finish right after the restart takes one off: 3 s / 2.
      {[&] { profiler.WriteIntermediateTimes(names, 2); }, "\r[1s\t] / 2"},
      {[&] { profiler.WriteIntermediateTimes(names, 0); }, ""}};
  for (const auto& [call, expected] : cases) {
    CoutCapture capture;
    call();
    EXPECT_EQ(capture.str(), expected);
  }
}

}  // namespace
