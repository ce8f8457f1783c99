#pragma once

// A worker thread that starts on a core other than its starter's. A new
// thread is first queued on the core of the thread that created it; while
// the creator keeps that core busy (decoding, drawing), the scheduler here
// took up to 2 ms to move the newcomer to an idle core, time the work handed
// to it waited. Placed on another allowed core from the start, it runs at
// once; it then widens its own affinity to every core its starter may use,
// so it is never pinned.
#include <pthread.h>

#include <functional>

namespace warpix {

class SideThread {
 public:
  SideThread() = default;
  SideThread(const SideThread&) = delete;
  SideThread& operator=(const SideThread&) = delete;
  /// Joins a thread still joinable.
  ~SideThread() { Join(); }

  /// Runs body on a new thread. False, body not run, when no thread could be
  /// started or one was already started and not joined or detached.
  bool Start(std::function<void()> body);
  /// Waits for the thread to end; nothing when there is none to wait for.
  void Join();
  /// Lets the thread end on its own; its body must not need this object.
  void Detach();
  bool Joinable() const { return m_bJoinable; }

 private:
  pthread_t m_Thread{};
  bool m_bJoinable = false;
};

}  // namespace warpix
