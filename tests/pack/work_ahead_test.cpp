// The engine for work ahead: jobs come back in sequence whatever the number
// of workers, the bytes in flight keep within the budget, and stopping or
// withdrawing leaves no task running and none to run later.
#include "pack/work_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "pack/decoder.h"

namespace {

// Work that takes a while and leaves a result only its job could give.
uint64_t Spin(uint64_t seed, unsigned rounds) {
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (unsigned i = 0; i < rounds; i++) x ^= x << 13, x ^= x >> 7, x ^= x << 17;
  return x;
}

struct OrderCase {
  unsigned jobs;    // -j
  uint64_t budget;  // bytes
  uint64_t cost;    // of each job, and every seventh costs ten times as much
};

const OrderCase ORDER_CASES[] = {
    {1, 1000, 10}, {2, 1000, 10}, {4, 1000, 10}, {2, 50, 10}, {4, 5, 10}, {3, 1u << 20, 1},
};

TEST(WorkAhead, JobsComeBackInSequenceWithinTheBudget) {
  constexpr uint64_t JOBS = 600;
  std::vector<uint64_t> expected(JOBS);
  for (uint64_t i = 0; i < JOBS; i++) expected[i] = Spin(i, 200 + unsigned(i % 13) * 300);
  for (const OrderCase& c : ORDER_CASES) {
    SCOPED_TRACE(testing::Message() << "-j " << c.jobs << ", budget " << c.budget << ", cost " << c.cost);
    WorkAhead engine(c.jobs);
    EXPECT_EQ(engine.Workers(), c.jobs < 2 ? 0u : c.jobs);
    std::deque<uint64_t> slots;
    std::atomic<uint64_t> live{0}, peakLive{0};
    std::vector<uint64_t> taken;
    {
      AheadJobs jobs(engine, c.budget);
      uint64_t next = 0;
      auto costOf = [&](uint64_t i) { return i % 7 == 0 ? 10 * c.cost : c.cost; };
      while (taken.size() < JOBS) {
        while (next < JOBS && jobs.Fits(costOf(next))) {
          slots.push_back(0);
          uint64_t* slot = &slots.back();
          uint64_t i = next++, cost = costOf(i);
          live += cost;
          jobs.Add(cost, [&, slot, i, cost] {
            uint64_t now = live.load();
            uint64_t peak = peakLive.load();
            while (now > peak && !peakLive.compare_exchange_weak(peak, now)) {
            }
            *slot = Spin(i, 200 + unsigned(i % 13) * 300);
            (void)cost;
          });
        }
        ASSERT_TRUE(jobs.Wait());
        taken.push_back(slots.front());
        live -= costOf(jobs.Released());
        jobs.Release();
        slots.pop_front();
      }
      // Any job fits alone, even one over the budget; otherwise the budget holds.
      EXPECT_LE(jobs.PeakBytes(), std::max(c.budget, 10 * c.cost));
      EXPECT_EQ(jobs.InFlight(), 0u);
    }
    EXPECT_EQ(taken, expected);
    EXPECT_LE(peakLive.load(), std::max(c.budget, 10 * c.cost));
    EXPECT_LE(engine.PeakRunning(), engine.Workers());
  }
}

// Released before they began, jobs never run; released while running, they
// are waited for; the engine stopped first, they are not done and the taker
// is told so.
TEST(WorkAhead, ReleasedAndStoppedJobsNeverRunLater) {
  WorkAhead engine(2);
  std::atomic<bool> hold{true};
  std::atomic<int> ran{0};
  {
    AheadJobs jobs(engine, 1000);
    for (int i = 0; i < 8; i++) {
      jobs.Add(1, [&] {
        while (hold.load()) std::this_thread::yield();
        ran++;
      });
    }
    std::thread release([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      hold = false;
    });
    jobs.ReleaseAll();  // two were running and are waited for; six never begin
    release.join();
    int after = ran.load();
    EXPECT_LE(after, 8);
    EXPECT_EQ(jobs.InFlight(), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(ran.load(), after);
  }
  hold = true;
  int before = ran.load();
  std::atomic<bool> begun{false};
  AheadJobs late(engine, 1000);
  late.Add(1, [&] {
    begun = true;
    while (hold.load()) std::this_thread::yield();
  });
  while (!begun.load()) std::this_thread::yield();
  late.Add(1, [&] { ran += 100; });
  late.Add(1, [&] { ran += 100; });
  late.Add(1, [&] { ran += 100; });
  std::thread stop([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    hold = false;
  });
  engine.Stop();  // waits for the running ones, drops the rest
  stop.join();
  int done = 0;
  for (int i = 0; i < 4; i++) {
    done += late.Wait() ? 1 : 0;
    late.Release();
  }
  EXPECT_EQ(done - 1, (ran.load() - before) / 100);
  EXPECT_FALSE(engine.Post(nullptr, [] {}));
}

// Withdrawing an owner's tasks: those not begun never run, and it returns
// only when none of them runs; other owners' tasks go on.
TEST(WorkAhead, WithdrawEndsOneOwnersTasksOnly) {
  WorkAhead engine(2);
  int mine = 0, theirs = 0;
  std::atomic<int> mineRan{0}, theirsRan{0};
  std::atomic<bool> hold{true}, begun{false};
  ASSERT_TRUE(engine.Post(&theirs, [&] {
    begun = true;
    while (hold.load()) std::this_thread::yield();
    theirsRan++;
  }));
  while (!begun.load()) std::this_thread::yield();
  for (int i = 0; i < 5; i++) {
    ASSERT_TRUE(engine.Post(&mine, [&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      mineRan++;
    }));
  }
  engine.Withdraw(&mine);
  int ranThen = mineRan.load();
  EXPECT_LT(ranThen, 5);  // one worker is held by theirs: not all five could run
  hold = false;
  engine.Withdraw(&theirs);
  EXPECT_EQ(theirsRan.load(), 1);
  EXPECT_EQ(mineRan.load(), ranThen);
}

// Work beside the caller's own starts only on a worker that is free now.
TEST(WorkAhead, BesideOnlyOnAFreeWorker) {
  WorkAhead none(1);
  EXPECT_FALSE(none.Beside(nullptr, [] {}));
  WorkAhead engine(2);
  std::atomic<bool> hold{true};
  std::atomic<int> ran{0};
  auto held = [&] {
    while (hold.load()) std::this_thread::yield();
    ran++;
  };
  std::atomic<int> begun{0};
  auto counted = [&] {
    begun++;
    held();
  };
  EXPECT_TRUE(engine.Beside(&ran, counted));
  EXPECT_TRUE(engine.Beside(&ran, counted));
  EXPECT_FALSE(engine.Beside(&ran, counted));
  while (begun.load() < 2) std::this_thread::yield();
  hold = false;
  engine.Withdraw(&ran);
  EXPECT_EQ(ran.load(), 2);
}

// A reader ahead of a decoding waits, and is woken when the decoding passes
// what it waits for, or ends.
TEST(WorkAhead, ProgressWakesItsReaders) {
  DecodeProgress progress;
  std::atomic<uint32_t> seen[2] = {0, 0};
  std::thread near([&] { seen[0] = progress.WaitFor(1000); });
  std::thread far([&] { seen[1] = progress.WaitFor(1u << 30); });
  for (uint32_t at = 0; at <= 4000; at += 100) progress.Advance(at);
  near.join();
  EXPECT_GE(seen[0].load(), 1000u);
  progress.End();
  far.join();
  EXPECT_EQ(seen[1].load(), 4000u);
  EXPECT_TRUE(progress.Ended());
  EXPECT_EQ(progress.WaitFor(5000), 4000u);
}

}  // namespace
