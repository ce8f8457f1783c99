#include "shell/TimeProfiler.h"
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

TEST_F(TimeProfilerTest, FinishAddsElapsedMinusOneTick) {
  profiler.startedProcess("solve");
  g_Now = 1050001;
  profiler.finishedProcess("solve", false);
  EXPECT_EQ(profiler.getTotalProcessLengthInCycles("solve"), 1050000);
  EXPECT_EQ(profiler.getTotalProcessLengthInSeconds("solve"), "1.050s");
  EXPECT_EQ(profiler.getTotalProcessLengthInSecondsInt("solve"), 1);
  // Finishing a process that is not running takes one tick off.
  profiler.finishedProcess("solve", false);
  EXPECT_EQ(profiler.getTotalProcessLengthInCycles("solve"), 1049999);
}

TEST_F(TimeProfilerTest, RestartingCountsTheIntervalOnce) {
  profiler.startedProcess("a");
  g_Now = 101;
  profiler.startedProcess("a");  // finishes silently: +100
  g_Now = 302;
  profiler.finishedProcess("a", false);  // +200
  EXPECT_EQ(profiler.getTotalProcessLengthInCycles("a"), 300);
}

TEST_F(TimeProfilerTest, FinishedLineAndProfileText) {
  EXPECT_EQ(profiler.profile(), "Empty Time Profile");
  profiler.startedProcess("solve step");
  g_Now = 2000001;
  CoutCapture capture;
  profiler.finishedProcess("solve step", true);
  EXPECT_EQ(capture.str(), ">>>>>>> Finished: solve step - 2.000s\n");
  EXPECT_EQ(profiler.getTotalProcessLengthInSeconds("never"), "0.000s");  // creates it
  EXPECT_EQ(profiler.profile(),
            "Time Profile:\n    never \t 0.000s\n    solve_step \t 2.000s\n");
}

TEST_F(TimeProfilerTest, ProgressBar) {
  profiler.startedProcess("p");
  g_Now = 4000001;
  CoutCapture capture;
  profiler.WriteProgress("p", 10, 40);
  EXPECT_EQ(capture.str(),
            "\r[++++++++++" + std::string(30, ' ') + "] N=30 T={4s | 12s}    ");
}

TEST_F(TimeProfilerTest, ProgressBarEdges) {
  CoutCapture capture;
  profiler.WriteProgress("p", 5, 5);
  EXPECT_EQ(capture.str(), "\r[" + std::string(40, '+') + "] N=0 T={0s | 0s}    ");
  CoutCapture zero;
  profiler.WriteProgress("q", 0, 3);
  EXPECT_NE(zero.str().find("T={0s | -1s}"), std::string::npos);
  CoutCapture nothing;
  profiler.WriteProgress("r", 1, 0);  // no division by zero, no output
  EXPECT_EQ(nothing.str(), "");
}

TEST_F(TimeProfilerTest, IntermediateTimes) {
  ZelStringList names;
  names.push_back("a");
  names.push_back("b");
  profiler.startedProcess("a");
  profiler.startedProcess("b");
  g_Now = 6000001;
  CoutCapture capture;
  profiler.WriteIntermediateTimes(names, 2);
  EXPECT_EQ(capture.str(), "\r[3s\t3s\t] / 2");
  CoutCapture nothing;
  profiler.WriteIntermediateTimes(names, 0);
  EXPECT_EQ(nothing.str(), "");
}

}  // namespace
