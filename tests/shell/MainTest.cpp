// Runs the real program with bad command lines and configurations and checks
// its messages and exit status.
#include "TestCommon.h"

namespace {

using warpix_test::RunResult;
using warpix_test::RunWarpix;
using warpix_test::TempFile;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(Main, NoArgumentPrintsUsageThenFatal) {
  RunResult r = RunWarpix("");
  EXPECT_TRUE(Contains(r.output, "Usage: warpix <parameter file> [-Module Key Value ...]\n"));
  EXPECT_TRUE(Contains(r.output, "argc>=2"));
  EXPECT_EQ(r.status, 128 + SIGABRT);
}

TEST(Main, MissingParameterFileWithoutOverrides) {
  RunResult r = RunWarpix("/nonexistent/run.params");
  EXPECT_TRUE(Contains(r.output,
                       "[ERROR] Param File does not exist and no command line arguments "
                       "provided: /nonexistent/run.params\n"));
  EXPECT_TRUE(Contains(r.output, "(false), function ParamParser"));
  EXPECT_EQ(r.status, 128 + SIGABRT);
}

TEST(Main, RequiredGeneralKeys) {
  TempFile file("main_required.params");
  struct Case {
    std::string text;
    std::string message;  // an [ERROR] line expected before the fatal report, if any
  };
  const std::vector<Case> cases = {
      {"ColsRows [ 2 1 ]\nImage x.jpg\nDeformators [ A ]\n", ""},
      {"WindowDims [ 400 x ]\nColsRows [ 2 1 ]\nImage x.jpg\nDeformators [ A ]\n", ""},
      {"WindowDims 400\nColsRows [ 2 1 ]\nImage x.jpg\nDeformators [ A ]\n", "WindowDims"},
      {"WindowDims [ 400 300 ]\nColsRows [ 0 1 ]\nImage x.jpg\nDeformators [ A ]\n", "ColsRows"},
      {"WindowDims [ 400 300 ]\nColsRows [ 2 1 ]\nDeformators [ A ]\n", ""},
      {"WindowDims [ 400 300 ]\nColsRows [ 2 1 ]\nImage x.jpg\n", ""},
  };
  for (const Case& c : cases) {
    file.write(c.text);
    RunResult r = RunWarpix(file.path());
    EXPECT_TRUE(Contains(r.output, "(valid), function main")) << c.text << r.output;
    EXPECT_EQ(r.status, 128 + SIGABRT) << c.text;
    if (!c.message.empty()) {
      EXPECT_TRUE(Contains(r.output, "[ERROR] ")) << c.text;
      EXPECT_TRUE(Contains(r.output, c.message)) << c.text;
    }
  }
}

TEST(Main, OverridesReachTheGeneralChecks) {
  TempFile file("main_override.params");
  file.write("WindowDims [ 400 300 ]\nColsRows [ 2 1 ]\nDeformators [ A ]\n");
  // Image is missing from the file; an override supplies it, so the run gets
  // past the key checks (it then fails on the missing image file, not on "valid").
  RunResult r = RunWarpix(file.path() + " -General Image /nonexistent/x.jpg");
  EXPECT_FALSE(Contains(r.output, "(valid), function main")) << r.output;
}

}  // namespace
