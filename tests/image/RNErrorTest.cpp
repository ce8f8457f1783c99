#include "image/RNError.h"

#include <cerrno>
#include <cstring>

#include "ImageTestFiles.h"
#include "TestCommon.h"

using image_test::StderrOf;

TEST(RNError, FailPrintsBannerWithSystemTextThenTheMessage) {
  const char* missing = "/nonexistent/warpix/missing.grd";
  const std::string out = StderrOf([&] {
    FILE* fp = fopen(missing, "rb");
    ASSERT_EQ(fp, nullptr);
    RNFail("Unable to open file %s", missing);
  });
  EXPECT_EQ(out, std::string("KELP ERROR: ") + strerror(ENOENT) + "\nUnable to open file " +
                     missing + "\n");
}

TEST(RNError, LevelAboveZeroSilencesWarningsAndNullFileSilencesAll) {
  RNSetErrorLevel(1);
  EXPECT_EQ(StderrOf([] { RNWarning("careful %d", 1); }), "");
  EXPECT_NE(StderrOf([] { RNFail("bad %d", 2); }).find("KELP ERROR: "), std::string::npos);
  RNSetErrorLevel(0);
  const std::string warning = StderrOf([] { RNWarning("careful %d", 3); });
  EXPECT_EQ(warning.rfind("KELP WARNING: ", 0), 0u);
  EXPECT_EQ(warning.substr(warning.find('\n')), "\ncareful 3\n");
  RNSetErrorFile(nullptr);
  EXPECT_EQ(StderrOf([] { RNFail("quiet"); RNWarning("quiet"); }), "");
  RNSetErrorFile(stderr);
  void (*fail)(const char*, ...) = RNFail;  // a null format, without the format check
  errno = 0;
  EXPECT_EQ(StderrOf([&] { fail(nullptr); }), std::string("KELP ERROR: ") + strerror(0) + "\n");
}

TEST(RNError, AbortPrintsItsBannerAndEnds) {
  EXPECT_DEATH(RNAbort("giving up on %d", 7), "KELP FATAL ERROR\\.  ABORTING:.*\n.*giving up on 7");
  RNSetErrorFile(nullptr);
  EXPECT_DEATH(RNAbort("silent"), "");
  RNSetErrorFile(stderr);
  EXPECT_TRUE(RN_INFINITY == 1000000.0 && RN_EPSILON == 1e-6);
}
