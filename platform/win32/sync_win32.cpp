#include <windows.h>

#include "platform/sync.h"

static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*),
              "the slim lock and the condition variable are one pointer each");

namespace {

PSRWLOCK Slim(void** lock) {
  return reinterpret_cast<PSRWLOCK>(lock);
}

}  // namespace

void PlatformMutex::lock() {
  AcquireSRWLockExclusive(Slim(&lock_));
}

void PlatformMutex::unlock() {
  ReleaseSRWLockExclusive(Slim(&lock_));
}

void PlatformCondition::wait(std::unique_lock<PlatformMutex>& lock) {
  SleepConditionVariableSRW(reinterpret_cast<PCONDITION_VARIABLE>(&variable_), Slim(&lock.mutex()->lock_), INFINITE, 0);
}

void PlatformCondition::notify_one() {
  WakeConditionVariable(reinterpret_cast<PCONDITION_VARIABLE>(&variable_));
}

void PlatformCondition::notify_all() {
  WakeAllConditionVariable(reinterpret_cast<PCONDITION_VARIABLE>(&variable_));
}
