// A lock and a condition variable for the threads of one process, used as
// std::mutex and std::condition_variable are (lock_guard, unique_lock,
// wait with a predicate). On Windows they are the system's slim lock and
// condition variable, which wait within the process: the C++ library's,
// on the MinGW runtime, go through the system's kernel objects for every
// contended lock, wait and wake (under Wine, a round trip to its server
// process each, thousands in a run on two threads).
#pragma once

#include <condition_variable>
#include <mutex>

#ifdef _WIN32

class PlatformMutex {
 public:
  PlatformMutex() = default;
  PlatformMutex(const PlatformMutex&) = delete;
  PlatformMutex& operator=(const PlatformMutex&) = delete;
  void lock();
  void unlock();

 private:
  friend class PlatformCondition;
  void* lock_ = nullptr;  // an SRWLOCK: one pointer, unlocked when null
};

class PlatformCondition {
 public:
  PlatformCondition() = default;
  PlatformCondition(const PlatformCondition&) = delete;
  PlatformCondition& operator=(const PlatformCondition&) = delete;
  void wait(std::unique_lock<PlatformMutex>& lock);
  template <class Ready>
  void wait(std::unique_lock<PlatformMutex>& lock, Ready ready) {
    while (!ready()) wait(lock);
  }
  void notify_one();
  void notify_all();

 private:
  void* variable_ = nullptr;  // a CONDITION_VARIABLE: one pointer, null at first
};

#else

using PlatformMutex = std::mutex;
using PlatformCondition = std::condition_variable;

#endif
