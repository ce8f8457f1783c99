#include "support/SideThread.h"

#include <sched.h>

#include <memory>
#include <new>
#include <utility>

namespace warpix {

namespace {

struct Launch {
  std::function<void()> body;
  cpu_set_t allowed;     // the starter's cores
  bool widen = false;    // the thread was placed on a subset of them
};

void* Run(void* argument) {
  std::unique_ptr<Launch> launch(static_cast<Launch*>(argument));
  if (launch->widen) pthread_setaffinity_np(pthread_self(), sizeof(cpu_set_t), &launch->allowed);
  launch->body();
  return nullptr;
}

// The starter's allowed cores but the one it runs on, into attr; false when
// there is no other (or the sets cannot be read, on more cores than a
// cpu_set_t holds).
bool PlaceElsewhere(Launch& launch, pthread_attr_t& attr) {
  if (sched_getaffinity(0, sizeof(cpu_set_t), &launch.allowed) != 0) return false;
  const int cpu = sched_getcpu();
  if (cpu < 0 || cpu >= CPU_SETSIZE) return false;
  cpu_set_t others = launch.allowed;
  CPU_CLR(cpu, &others);
  if (CPU_COUNT(&others) == 0) return false;
  return pthread_attr_setaffinity_np(&attr, sizeof(cpu_set_t), &others) == 0;
}

}  // namespace

bool SideThread::Start(std::function<void()> body) {
  if (m_bJoinable || !body) return false;
  std::unique_ptr<Launch> launch(new (std::nothrow) Launch);
  if (!launch) return false;
  launch->body = std::move(body);
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  launch->widen = PlaceElsewhere(*launch, attr);
  int failed = pthread_create(&m_Thread, &attr, Run, launch.get());
  pthread_attr_destroy(&attr);
  if (failed != 0 && launch->widen) {
    // A placement the system refuses (a core gone offline meanwhile): start
    // it wherever the scheduler likes.
    launch->widen = false;
    failed = pthread_create(&m_Thread, nullptr, Run, launch.get());
  }
  if (failed != 0) return false;
  launch.release();  // the thread owns it now
  m_bJoinable = true;
  return true;
}

void SideThread::Join() {
  if (!m_bJoinable) return;
  pthread_join(m_Thread, nullptr);
  m_bJoinable = false;
}

void SideThread::Detach() {
  if (!m_bJoinable) return;
  pthread_detach(m_Thread);
  m_bJoinable = false;
}

}  // namespace warpix
