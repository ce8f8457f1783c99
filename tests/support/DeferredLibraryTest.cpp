#include "support/DeferredLibrary.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "hwy/targets.h"
#include "support/VectorLibrary.h"

namespace {

using Unary = double (*)(double);

// The C maths library: present wherever the tests run, and its functions are
// easy to check.
constexpr const char* kMathNames[] = {"cos", "sqrt"};

// Loaded by the first call, not before; the functions are the library's.
TEST(DeferredLibrary, FirstCallLoadsAndReturnsTheLibrarysFunctions) {
  static warpix::DeferredLibrary maths("libm.so.6", kMathNames, 2);
  EXPECT_FALSE(maths.Loaded());
  const Unary cosine = reinterpret_cast<Unary>(maths.Function(0));
  EXPECT_TRUE(maths.Loaded());
  const Unary root = reinterpret_cast<Unary>(maths.Function(1));
  EXPECT_EQ(cosine(0.5), std::cos(0.5));
  EXPECT_EQ(root(2.0), std::sqrt(2.0));
  EXPECT_EQ(reinterpret_cast<Unary>(maths.Function(0)), cosine);
}

// A load started on its own thread while several threads make their first
// calls: one load, every caller gets the same function once it is done.
TEST(DeferredLibrary, ConcurrentFirstCallsWaitForOneLoad) {
  static warpix::DeferredLibrary maths("libm.so.6", kMathNames, 2);
  std::atomic<bool> go{false};
  std::vector<void*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (size_t k = 0; k < seen.size(); ++k) {
    threads.emplace_back([&, k] {
      while (!go.load()) std::this_thread::yield();
      seen[k] = maths.Function(k % 2);
    });
  }
  warpix::StartLoading({&maths});
  go = true;
  for (std::thread& t : threads) t.join();
  for (size_t k = 0; k < seen.size(); ++k) {
    ASSERT_NE(seen[k], nullptr);
    EXPECT_EQ(seen[k], seen[k % 2]);
  }
  EXPECT_EQ(reinterpret_cast<Unary>(seen[0])(1.0), std::cos(1.0));
  warpix::StartLoading({&maths});  // already loaded: nothing to do
}

// A broken installation stops the program with a report naming the library
// and what is missing, instead of crashing at the first kernel call.
TEST(DeferredLibraryDeathTest, MissingLibraryOrFunctionStopsWithItsName) {
  static constexpr const char* kNames[] = {"cos"};
  static constexpr const char* kMissing[] = {"cos", "warpix_no_such_function"};
  EXPECT_DEATH(
      {
        warpix::DeferredLibrary absent("libwarpix-no-such-library.so.7", kNames, 1);
        absent.Function(0);
      },
      "\\[ERROR\\] Unable to load the shared library libwarpix-no-such-library.so.7");
  EXPECT_DEATH(
      {
        warpix::DeferredLibrary maths("libm.so.6", kMissing, 2);
        maths.Function(0);
      },
      "\\[ERROR\\] Unable to load the shared library libm.so.6: .*warpix_no_such_function");
}

// The kernels' target choice goes through the opened vector library: the
// forwarded functions answer as the library does (one chosen-target object,
// a restriction of the targets that takes effect and can be lifted).
TEST(VectorLibrary, ForwardsTheTargetChoiceToTheLibrary) {
  const int64_t supported = hwy::SupportedTargets();
  EXPECT_NE(supported, 0);
  EXPECT_TRUE(warpix::VectorLibrary().Loaded());
  EXPECT_EQ(&hwy::GetChosenTarget(), &hwy::GetChosenTarget());
  const int64_t lowest = supported & -supported;  // the lowest bit: the best target
  hwy::SetSupportedTargetsForTest(lowest);
  EXPECT_EQ(hwy::SupportedTargets(), lowest);
  hwy::SetSupportedTargetsForTest(0);
  EXPECT_EQ(hwy::SupportedTargets(), supported);
}

}  // namespace
