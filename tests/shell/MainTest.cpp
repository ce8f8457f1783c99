// Runs the real program with bad command lines and configurations and checks
// its messages and exit status.
#include "TestCommon.h"

namespace {

using warpix_test::RunWarpix;
using warpix_test::TempFile;

// Expects the run to print every part and to end with the given status.
void ExpectRun(const std::string& args, const std::vector<std::string>& parts, int status) {
  const warpix_test::RunResult r = RunWarpix(args);
  for (const std::string& part : parts)
    EXPECT_NE(r.output.find(part), std::string::npos) << args << "\n" << r.output;
  EXPECT_EQ(r.status, status) << args;
}

TEST(Main, CommandLineErrors) {
  ExpectRun("", {"Usage: warpix <parameter file> [-Module Key Value ...]\n", "(argc>=2)"},
            128 + SIGABRT);
  ExpectRun("/nonexistent/run.params",
            {"[ERROR] Param File does not exist and no command line arguments provided: "
             "/nonexistent/run.params\n",
             "(false), function ParamParser"},
            128 + SIGABRT);
}

TEST(Main, RequiredGeneralKeysAndImage) {
  TempFile file("main_required.params");
  const std::string dims = "WindowDims [ 400 300 ]\n", grid = "ColsRows [ 2 1 ]\n";
  const std::string image = "Image x.jpg\n", names = "Deformators [ A ]\n";
  // Each case: the file, and an [ERROR] text expected before the fatal "valid".
  const std::vector<std::pair<std::string, std::string>> cases = {
      {grid + image + names, "[ERROR] General: the key WindowDims is missing\n"},
      {"WindowDims [ 400 x ]\n" + grid + image + names, "[ERROR] General WindowDims needs two values"},
      {"WindowDims 400\n" + grid + image + names, "[ERROR] General WindowDims needs two values"},
      {dims + "ColsRows [ 0 1 ]\n" + image + names, "[ERROR] General ColsRows needs two values"},
      {dims + image + names, "[ERROR] General: the key ColsRows is missing\n"},
      {dims + grid + names, "[ERROR] General: the key Image is missing\n"},
      {dims + grid + image, "[ERROR] General: the key Deformators is missing\n"}};
  for (const auto& [text, error] : cases) {
    file.write(text);
    ExpectRun(file.path(), {error, "(valid), function main"}, 128 + SIGABRT);
  }
  // (An unreadable picture, status 1: the e2e bad_config test.)
}

}  // namespace
