#include "pack/work_ahead.h"

#include <algorithm>
#include <memory>
#include <system_error>

WorkAhead::WorkAhead(unsigned jobs) : wanted_(JobsFor(jobs) < 2 ? 0 : JobsFor(jobs)) {}

unsigned WorkAhead::JobsFor(unsigned jobs) {
  if (jobs != 0) return jobs;
  return std::max(1u, std::thread::hardware_concurrency());
}

unsigned WorkAhead::PeakRunning() const {
  std::lock_guard<PlatformMutex> lock(mutex_);
  return peak_;
}

// With the lock held: one more thread when `more` (no worker is there for
// the task about to come), up to those wanted. Fewer when the system gives
// no more: the work not done ahead is the caller's, with the same answers.
// False when no thread runs.
bool WorkAhead::StartThreads(bool more) {
  if (stopping_) return false;
  if (threads_.size() < wanted_ && more) {
    running_.resize(wanted_, nullptr);
    size_t self = threads_.size();
    try {
      threads_.emplace_back([this, self](std::stop_token stop) { Work(stop, self); });
    } catch (const std::system_error&) {
    }
  }
  return !threads_.empty();
}

bool WorkAhead::Post(const void* owner, std::function<void()> task) {
  {
    std::lock_guard<PlatformMutex> lock(mutex_);
    if (!StartThreads(tasks_.size() + 1 > waiting_)) return false;
    tasks_.push_back(Task{owner, std::move(task)});
  }
  queued_.notify_one();
  return true;
}

bool WorkAhead::Beside(const void* owner, std::function<void()> task) {
  {
    std::lock_guard<PlatformMutex> lock(mutex_);
    if (!StartThreads(busy_ + tasks_.size() >= threads_.size()) || busy_ + tasks_.size() >= threads_.size()) {
      return false;
    }
    tasks_.push_front(Task{owner, std::move(task)});
  }
  queued_.notify_one();
  return true;
}

void WorkAhead::Withdraw(const void* owner) {
  std::deque<Task> dropped;  // ended outside the lock: their captures may take other locks
  {
    std::unique_lock<PlatformMutex> lock(mutex_);
    for (auto it = tasks_.begin(); it != tasks_.end();) {
      if (it->owner != owner) {
        ++it;
        continue;
      }
      dropped.push_back(std::move(*it));
      it = tasks_.erase(it);
    }
    finished_.wait(lock, [&] { return std::find(running_.begin(), running_.end(), owner) == running_.end(); });
  }
}

void WorkAhead::Stop() {
  std::deque<Task> dropped;
  std::vector<std::jthread> threads;
  {
    std::lock_guard<PlatformMutex> lock(mutex_);
    stopping_ = true;
    dropped.swap(tasks_);
    threads.swap(threads_);
    for (std::jthread& thread : threads) thread.request_stop();
  }
  queued_.notify_all();
  threads.clear();  // joins: each finishes the task it runs
}

void WorkAhead::Work(std::stop_token stop, size_t self) {
  for (;;) {
    Task task;
    {
      std::unique_lock<PlatformMutex> lock(mutex_);
      // The stop is asked for under the lock, so it cannot come between the
      // test and the wait.
      waiting_++;
      queued_.wait(lock, [&] { return stop.stop_requested() || !tasks_.empty(); });
      waiting_--;
      if (stop.stop_requested()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
      running_[self] = task.owner;
      busy_++;
      peak_ = std::max(peak_, busy_);
    }
    task.run();
    task.run = nullptr;  // its captures go before the owner is told it ended
    {
      std::lock_guard<PlatformMutex> lock(mutex_);
      running_[self] = nullptr;
      busy_--;
    }
    finished_.notify_all();
  }
}

// Tells the table when the engine lets a job's task go without running it.
struct AheadJobs::DropNotice {
  DropNotice(AheadJobs* jobs, uint64_t sequence) : jobs(jobs), sequence(sequence) {}
  DropNotice(const DropNotice&) = delete;
  DropNotice& operator=(const DropNotice&) = delete;
  AheadJobs* jobs;
  uint64_t sequence;
  bool ran = false;
  ~DropNotice() {
    if (!ran) jobs->Dropped(sequence);
  }
};

AheadJobs::~AheadJobs() {
  engine_.Withdraw(this);
}

bool AheadJobs::Fits(uint64_t cost) const {
  std::lock_guard<PlatformMutex> lock(mutex_);
  return inFlight_ == 0 || inFlight_ + cost <= budget_;
}

uint64_t AheadJobs::InFlight() const {
  std::lock_guard<PlatformMutex> lock(mutex_);
  return inFlight_;
}

uint64_t AheadJobs::PeakBytes() const {
  std::lock_guard<PlatformMutex> lock(mutex_);
  return peak_;
}

uint64_t AheadJobs::Add(uint64_t cost, std::function<void()> run) {
  uint64_t sequence = added_++;
  {
    std::lock_guard<PlatformMutex> lock(mutex_);
    jobs_.push_back(Job{cost, State::Queued});
    inFlight_ += cost;
    peak_ = std::max(peak_, inFlight_);
  }
  if (engine_.Workers() == 0) {
    RunJob(sequence, run);
    return sequence;
  }
  auto notice = std::make_shared<DropNotice>(this, sequence);
  engine_.Post(this, [this, sequence, notice, run = std::move(run)] {
    notice->ran = true;
    RunJob(sequence, run);
  });
  return sequence;
}

void AheadJobs::RunJob(uint64_t sequence, const std::function<void()>& run) {
  {
    std::lock_guard<PlatformMutex> lock(mutex_);
    if (sequence < first_ || jobs_[sequence - first_].state != State::Queued) return;  // released before it began
    jobs_[sequence - first_].state = State::Running;
  }
  run();
  bool wake;
  {
    std::lock_guard<PlatformMutex> lock(mutex_);
    jobs_[sequence - first_].state = State::Done;
    wake = Woken();
  }
  // A wake costs a switch of threads: only for a taker that waits, and
  // only once what it waits for is done.
  if (wake) done_.notify_all();
}

// With the lock held: whether the jobs from the oldest up to wakeUpTo_ are
// all done (or dropped), for a taker that waits.
bool AheadJobs::Woken() {
  if (!waiting_) return false;
  while (doneUpTo_ < first_ + jobs_.size() && jobs_[doneUpTo_ - first_].state >= State::Done) doneUpTo_++;
  return doneUpTo_ > wakeUpTo_;
}

void AheadJobs::Dropped(uint64_t sequence) {
  bool wake;
  {
    std::lock_guard<PlatformMutex> lock(mutex_);
    if (sequence < first_ || jobs_[sequence - first_].state != State::Queued) return;
    jobs_[sequence - first_].state = State::Dropped;
    wake = Woken();
  }
  if (wake) done_.notify_all();
}

bool AheadJobs::Wait() {
  std::unique_lock<PlatformMutex> lock(mutex_);
  if (jobs_.empty()) return false;
  Job& job = jobs_.front();
  if (job.state < State::Done) {
    // A taker faster than the workers would otherwise be woken for every
    // job: it waits for a quarter of those in flight at once (the workers
    // take them in order), so that a wake serves a batch.
    doneUpTo_ = std::max(doneUpTo_, first_);
    wakeUpTo_ = first_ + (jobs_.size() - 1) / 4;
    waiting_ = true;
    done_.wait(lock, [&] { return Woken(); });
    waiting_ = false;
  }
  return job.state == State::Done;
}

void AheadJobs::Release() {
  std::unique_lock<PlatformMutex> lock(mutex_);
  if (jobs_.empty()) return;
  Job& job = jobs_.front();
  if (job.state == State::Queued) job.state = State::Dropped;  // its task finds it so, and runs nothing
  if (job.state == State::Running) {
    doneUpTo_ = std::max(doneUpTo_, first_);
    wakeUpTo_ = first_;
    waiting_ = true;
    done_.wait(lock, [&] { return Woken(); });
    waiting_ = false;
  }
  inFlight_ -= job.cost;
  jobs_.pop_front();
  first_++;
}

void AheadJobs::ReleaseAll() {
  while (first_ < added_) Release();
}
