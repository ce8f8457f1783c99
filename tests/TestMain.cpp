#include <gtest/gtest.h>

// The BLAS library starts worker threads when it loads, so every death test
// re-executes the test binary instead of forking the threaded process.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  return RUN_ALL_TESTS();
}
