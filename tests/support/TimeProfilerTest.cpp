#include "support/TimeProfiler.h"

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

// Every start and finish reads the clock once, and only they do: the count
// the benchmarks report per frame.
TEST_F(TimeProfilerTest, ClockReadingsAreCounted) {
  const long long before = TimeProfiler::ClockReads();
  profiler.startedProcess("a");
  profiler.startedProcess("a");  // finishes the running one first
  profiler.finishedProcess("a", false);
  profiler.profile();
  profiler.getTotalProcessLengthInSeconds("a");
  EXPECT_EQ(TimeProfiler::ClockReads() - before, 4);
}

}  // namespace
