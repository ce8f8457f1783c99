// Side threads: the body runs once and Join waits for it; a started thread
// may run on exactly the cores its starter may (the placement on another core
// is only where it starts); a detached thread finishes on its own.
#include "support/SideThread.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace {

cpu_set_t Allowed() {
  cpu_set_t set;
  CPU_ZERO(&set);
  sched_getaffinity(0, sizeof(set), &set);
  return set;
}

// The cores the side thread may run on, read inside its body.
cpu_set_t SideThreadCores() {
  cpu_set_t seen;
  CPU_ZERO(&seen);
  warpix::SideThread thread;
  EXPECT_TRUE(thread.Start([&] { seen = Allowed(); }));
  thread.Join();
  return seen;
}

}  // namespace

TEST(SideThread, RunsTheBodyOnceAndJoinWaitsForIt) {
  std::atomic<int> runs{0};
  warpix::SideThread thread;
  EXPECT_FALSE(thread.Joinable());
  ASSERT_TRUE(thread.Start([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ++runs;
  }));
  EXPECT_TRUE(thread.Joinable());
  EXPECT_FALSE(thread.Start([&] { runs += 100; })) << "one thread at a time";
  thread.Join();
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(thread.Joinable());
  thread.Join();  // nothing left to wait for
  ASSERT_TRUE(thread.Start([&] { ++runs; }));  // reusable once joined
  thread.Join();
  EXPECT_EQ(runs, 2);
  EXPECT_FALSE(thread.Start(nullptr));
}

TEST(SideThread, MayRunOnEveryCoreItsStarterMay) {
  const cpu_set_t all = Allowed();
  cpu_set_t seen = SideThreadCores();
  EXPECT_TRUE(CPU_EQUAL(&seen, &all)) << "the thread kept its starting placement";

  // A starter held to one core has no other to offer: the thread shares it.
  int first = 0;
  while (first < CPU_SETSIZE && !CPU_ISSET(first, &all)) ++first;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(first, &one);
  ASSERT_EQ(pthread_setaffinity_np(pthread_self(), sizeof(one), &one), 0);
  seen = SideThreadCores();
  pthread_setaffinity_np(pthread_self(), sizeof(all), &all);
  EXPECT_TRUE(CPU_EQUAL(&seen, &one));
}

TEST(SideThread, DetachedThreadsFinishOnTheirOwn) {
  std::promise<int> done;
  std::future<int> result = done.get_future();
  {
    warpix::SideThread thread;
    ASSERT_TRUE(thread.Start([&done] { done.set_value(7); }));
    thread.Detach();
    EXPECT_FALSE(thread.Joinable());
  }  // the object goes; the thread does not depend on it
  ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(result.get(), 7);
}
