#include "image/RNError.h"

#include <cerrno>
#include <cstring>

#include "ImageTestFiles.h"

using namespace image_test;

TEST(RNError, FailPrintsBannerWithSystemTextThenTheMessage) {
  const char* missing = "/nonexistent/warpix/missing.grd";
  const std::string out = StderrOf([&] { ASSERT_EQ(fopen(missing, "rb"), nullptr); RNFail("Unable to open file %s", missing); });
  EXPECT_EQ(out, std::string("KELP ERROR: ") + strerror(ENOENT) + "\nUnable to open file " + missing + "\n");
  void (*fail)(const char*, ...) = RNFail;  // a null format, without the format check
  EXPECT_EQ(StderrOf([&] { errno = 0; fail(nullptr); }), std::string("KELP ERROR: ") + strerror(0) + "\n");
}

TEST(RNError, LevelAboveZeroSilencesWarnings) {
  RNSetErrorLevel(1);
  EXPECT_EQ(StderrOf([] { RNWarning("careful %d", 1); }), "");
  EXPECT_NE(StderrOf([] { RNFail("bad %d", 2); }).find("KELP ERROR: "), std::string::npos);
  RNSetErrorLevel(0);
  EXPECT_EQ(StderrOf([] { errno = ENOENT; RNWarning("careful %d", 3); }), std::string("KELP WARNING: ") + strerror(ENOENT) + "\ncareful 3\n");
}

TEST(RNError, AbortPrintsItsBannerAndEndsAndNullFileSilencesAll) {
  EXPECT_DEATH(RNAbort("giving up on %d", 7), "KELP FATAL ERROR\\.  ABORTING:.*\n.*giving up on 7");
  RNSetErrorFile(nullptr);  // a null file silences all three
  EXPECT_EQ(StderrOf([] { RNFail("quiet"); RNWarning("quiet"); }), "");
  EXPECT_DEATH(RNAbort("silent"), "");
  RNSetErrorFile(stderr);
  EXPECT_TRUE(RN_INFINITY == 1000000.0 && RN_EPSILON == 1e-6);
}
