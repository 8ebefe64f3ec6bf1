// The one engine for work done ahead of a command on other threads: one
// pool of workers, sized by the command's -j, that every parallel part of
// packtool uses (entries decoded ahead of a reading, ahead of the salvage
// walk, a big stream's checksum beside its decoding, the mount's decodings
// and its pages pushed ahead). Threads start here and nowhere else; they are
// stopped and joined in one place, Stop (or the engine's end).
//
// Two ways in:
// - tasks (Post, Beside): run on a worker in the order posted, each owned by
//   the caller's object, which withdraws its tasks before it goes (Withdraw:
//   those not begun never run, those running are waited for);
// - AheadJobs below: jobs with sequence numbers and a cost in bytes, done by
//   the workers in any order and handed back to one taker strictly in
//   sequence, with the bytes in flight held within a budget.
//
// A command that asks for one job (-j 1) gets an engine without workers:
// Post and Beside refuse, and AheadJobs runs each job on the taker's thread
// when it is added, so that the answers are the same for any -j.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <stop_token>
#include <thread>
#include <vector>

#include "platform/sync.h"

class WorkAhead {
 public:
  // Workers for a request of `jobs` (0: one per core): none for one job,
  // since the command's own thread is that one.
  explicit WorkAhead(unsigned jobs);
  ~WorkAhead() { Stop(); }
  WorkAhead(const WorkAhead&) = delete;
  WorkAhead& operator=(const WorkAhead&) = delete;

  // The jobs a request of `jobs` stands for: 0 is one per core.
  static unsigned JobsFor(unsigned jobs);

  // The workers it may run (its threads start as tasks come and none waits
  // for one, so that a process that becomes a daemon first has them after).
  unsigned Workers() const { return wanted_; }
  // The most of its threads that ran a task at once.
  unsigned PeakRunning() const;

  // Runs task on a worker, after those posted before it. False, and the task
  // never runs, without workers or once stopping.
  bool Post(const void* owner, std::function<void()> task);
  // Runs task on a worker that is free now, before anything queued: for work
  // beside the caller's own that it would rather do itself than wait for.
  // False, and the task never runs, when no worker is free.
  bool Beside(const void* owner, std::function<void()> task);
  // Tasks of owner not begun never run; returns once none of them runs.
  // Not from a task of the same owner.
  void Withdraw(const void* owner);
  // Tasks not begun never run; waits for those that run and joins the
  // threads. Posting refuses from then on.
  void Stop();

 private:
  struct Task {
    const void* owner;
    std::function<void()> run;
  };

  bool StartThreads(bool more);
  void Work(std::stop_token stop, size_t self);

  const unsigned wanted_;
  // Guards everything below: the hand-over of tasks to the workers.
  mutable PlatformMutex mutex_;
  PlatformCondition queued_;    // a task was queued, or the end
  PlatformCondition finished_;  // a task ended (for Withdraw)
  std::deque<Task> tasks_;
  std::vector<const void*> running_;  // by worker: the owner of its task, null when free
  unsigned busy_ = 0;                 // running a task
  unsigned waiting_ = 0;              // waiting for one
  unsigned peak_ = 0;
  bool stopping_ = false;
  // Last, so that they are joined before the rest goes.
  std::vector<std::jthread> threads_;
};

// Jobs done ahead and taken in sequence. The taker adds jobs (sequence
// numbers 0, 1, 2 ... in the order added) while Fits says their bytes fit,
// waits for each in turn, reads what it left in the taker's own slot for
// it, and releases it, which gives its bytes back. Only one thread takes.
class AheadJobs {
 public:
  AheadJobs(WorkAhead& engine, uint64_t budget) : engine_(engine), budget_(budget) {}
  // Jobs not begun never run; waits for those that run.
  ~AheadJobs();
  AheadJobs(const AheadJobs&) = delete;
  AheadJobs& operator=(const AheadJobs&) = delete;

  // Whether a job of cost bytes fits beside those in flight (any job fits
  // when none is).
  bool Fits(uint64_t cost) const;
  // The next job: runs run on a worker (on the engine without workers, here
  // and now). Its sequence number.
  uint64_t Add(uint64_t cost, std::function<void()> run);
  // Waits until the oldest job not released is done; false when it was
  // not done and will not be (the engine stopped or refused it first): the
  // taker then does that work itself.
  bool Wait();
  // Gives the oldest job's bytes back: one not begun never runs, one running
  // is waited for. What it wrote is the taker's again.
  void Release();
  // Releases every job.
  void ReleaseAll();

  uint64_t Added() const { return added_; }     // the next sequence number
  uint64_t Released() const { return first_; }  // the oldest not released
  uint64_t InFlight() const;
  uint64_t Budget() const { return budget_; }
  // The most bytes that were in flight at once.
  uint64_t PeakBytes() const;

 private:
  enum class State : uint8_t { Queued, Running, Done, Dropped };
  struct Job {
    uint64_t cost;
    State state;
  };

  struct DropNotice;
  void RunJob(uint64_t sequence, const std::function<void()>& run);
  void Dropped(uint64_t sequence);
  bool Woken();

  WorkAhead& engine_;
  const uint64_t budget_;
  uint64_t added_ = 0;  // the taker's alone
  // Guards everything below: the hand-over of each job's result.
  mutable PlatformMutex mutex_;
  PlatformCondition done_;
  std::deque<Job> jobs_;  // from first_ on
  uint64_t first_ = 0;
  uint64_t inFlight_ = 0;
  uint64_t peak_ = 0;
  bool waiting_ = false;  // the taker waits for the jobs up to wakeUpTo_
  uint64_t wakeUpTo_ = 0;
  uint64_t doneUpTo_ = 0;  // the jobs before it are done or dropped (from first_ on while waiting)
};
