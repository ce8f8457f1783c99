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
