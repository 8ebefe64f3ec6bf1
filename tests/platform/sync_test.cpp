// The lock and the condition variable of the seam: two threads hand a turn
// to each other through them, and what one writes under the lock the other
// reads whole.
#include "platform/sync.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(PlatformSync, ThreadsTakeTurnsThroughTheLockAndTheCondition) {
  PlatformMutex mutex;
  PlatformCondition turned;
  constexpr int TURNS = 2000;
  int turn = 0;           // even: the first thread's, odd: the second's
  uint64_t pair[2] = {};  // written together under the lock
  bool torn = false;
  auto play = [&](int side) {
    for (int i = 0; i < TURNS; i++) {
      std::unique_lock<PlatformMutex> lock(mutex);
      turned.wait(lock, [&] { return turn % 2 == side; });
      torn = torn || pair[0] != pair[1];
      pair[0]++;
      pair[1]++;
      turn++;
      turned.notify_all();
    }
  };
  std::thread second(play, 1);
  play(0);
  second.join();
  EXPECT_EQ(turn, 2 * TURNS);
  EXPECT_FALSE(torn);
}

}  // namespace
