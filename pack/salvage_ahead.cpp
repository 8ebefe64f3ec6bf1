#include "pack/salvage_ahead.h"

#include <algorithm>
#include <system_error>

namespace {

// A worker's reads: positioned, and whole or failed.
class PlainReads : public SalvageSource {
 public:
  explicit PlainReads(PlatformFile file) : file_(file) {}

  uint32_t Read(uint64_t offset, unsigned char* destination, uint32_t n) override {
    uint32_t done = 0;
    if (!PlatformFileReadAt(file_, offset, destination, n, &done) || done < n) failed_ = true;
    return std::min(done, n);
  }
  uint32_t ReadAround(uint64_t offset, unsigned char* destination, uint32_t n,
                      GrowingTable<SalvageHole>& holes) override {
    holes.Clear();
    return Read(offset, destination, n);
  }
  bool Failed() const { return failed_; }

 private:
  PlatformFile file_;
  bool failed_ = false;
};

// The memory decoding the entry takes: its unpacked and its packed bytes.
uint64_t CostOf(const EntryHeader& header) {
  return uint64_t(header.unpackedSize) + header.packedSize + SalvageAhead::OVERHEAD;
}

}  // namespace

// An entry on the chain, taken by a worker. Its result is written by the
// worker alone until done, and read by the walk only after.
struct SalvageAhead::Job {
  uint64_t offset;
  EntryHeader header;
  uint64_t cost;
  bool done = false;
  bool dropped = false;  // the walk left it before it was done: the worker frees it
  bool usable = false;   // every read came whole, and the memory for it
  SalvagedEntry entry{};
  std::unique_ptr<Block> data;
};

SalvageAhead::SalvageAhead(PlatformFile file, uint64_t size, unsigned threads, uint64_t limit)
    : file_(file),
      size_(size),
      limit_(limit),
      jobsMax_(ENTRIES_PER_THREAD * threads),
      spareMax_(SPARE_PER_THREAD * threads) {
  // Fewer threads than asked for, when the system gives no more: the walk
  // decodes what none took.
  try {
    for (unsigned i = 0; i < threads; i++) workers_.emplace_back([this] { Work(); });
  } catch (const std::system_error&) {
  }
}

SalvageAhead::~SalvageAhead() {
  {
    std::lock_guard<PlatformMutex> lock(mutex_);
    stopping_ = true;
  }
  workReady_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void SalvageAhead::Stop() {
  {
    std::lock_guard<PlatformMutex> lock(mutex_);
    stopping_ = true;
    DropAll();
  }
  workReady_.notify_all();
}

// With the lock held: whether the header at chain_ starts a link a worker
// may decode (read once per place). The chain ends at a header whose data
// does not lie in the file or does not start a stream, and at an entry that
// runs alone.
bool SalvageAhead::LinkReady() {
  if (refused_) return false;
  if (link_ != Link::Unread) return link_ == Link::Ready;
  link_ = Link::End;
  if (chain_ > size_ || size_ - chain_ < ARCHIVE_HEADER_SIZE) return false;
  unsigned char bytes[ARCHIVE_HEADER_SIZE + 2];
  uint32_t want = uint32_t(std::min<uint64_t>(sizeof bytes, size_ - chain_));
  uint32_t done = 0;
  if (!PlatformFileReadAt(file_, chain_, bytes, want, &done) || done < want) {
    refused_ = true;
    return false;
  }
  EntryHeader header = EntryHeaderFrom(bytes);
  if (header.packedSize > size_ - chain_ - ARCHIVE_HEADER_SIZE || Alone(CostOf(header))) return false;
  if (!header.Stored() && (want < sizeof bytes || !StartsStream(bytes + ARCHIVE_HEADER_SIZE))) return false;
  linkHeader_ = header;
  link_ = Link::Ready;
  return true;
}

// With the lock held.
bool SalvageAhead::MayTake() {
  if (stopping_ || jobs_.size() >= jobsMax_ || !LinkReady()) return false;
  return inFlight_ == 0 || inFlight_ + CostOf(linkHeader_) <= limit_;
}

// With the lock held: whether idle workers are to be woken. Not for each
// entry the walk takes (a wake costs a switch of threads), but once half of
// what may be in flight is free again.
bool SalvageAhead::WakeWorkers() const {
  return idleWorkers_ > 0 && (jobs_.empty() || (jobs_.size() <= jobsMax_ / 2 && inFlight_ <= limit_ / 2));
}

// With the lock held: a job done that the walk has passed.
void SalvageAhead::Release(Job& job) {
  inFlight_ -= job.cost;
  if (job.data != nullptr && job.data->Size() <= SPARE_MAX && spare_.size() < spareMax_) {
    spare_.push_back(std::move(job.data));
  }
}

// With the lock held: a job the walk will not take.
void SalvageAhead::Drop(const JobPointer& job) {
  if (job->done) {
    Release(*job);
  } else {
    job->dropped = true;
  }
}

void SalvageAhead::DropAll() {
  for (const JobPointer& job : jobs_) Drop(job);
  jobs_.clear();
}

void SalvageAhead::Work() {
  GrowingTable<SalvageHole> holes(1);  // a plain read leaves none
  // Kept from one entry to the next: memory taken and given back for each
  // would be given back to the system and faulted in again, one page at a
  // time, for every entry.
  Block stream;
  for (;;) {
    JobPointer job;
    {
      std::unique_lock<PlatformMutex> lock(mutex_);
      idleWorkers_++;
      workReady_.wait(lock, [this] { return stopping_ || MayTake(); });
      idleWorkers_--;
      if (stopping_) return;
      job = std::make_shared<Job>();
      job->offset = chain_;
      job->header = linkHeader_;
      job->cost = CostOf(linkHeader_);
      if (!spare_.empty()) {
        job->data = std::move(spare_.back());
        spare_.pop_back();
      }
      chain_ += ARCHIVE_HEADER_SIZE + uint64_t(linkHeader_.packedSize);
      link_ = Link::Unread;
      inFlight_ += job->cost;
      jobs_.push_back(job);
    }
    if (job->data == nullptr) job->data = std::make_unique<Block>();
    PlainReads reads(file_);
    SalvageWhole(reads, job->offset, job->header, &job->entry, job->data.get(), holes, &stream);
    bool freed = false, wake = false;
    {
      std::lock_guard<PlatformMutex> lock(mutex_);
      job->done = true;
      job->usable = !reads.Failed() && !job->entry.tooLarge && job->entry.holeCount == 0;
      job->entry.holes = nullptr;
      refused_ = refused_ || reads.Failed();
      freed = job->dropped;
      if (freed) Release(*job);
      wake = walkWaiting_;
    }
    // A wake costs a switch of threads: only for a walk that waits.
    if (wake) jobDone_.notify_all();
    if (freed) workReady_.notify_all();
  }
}

bool SalvageAhead::Take(uint64_t at, const EntryHeader& header, SalvagedEntry* entry) {
  std::unique_lock<PlatformMutex> lock(mutex_);
  if (given_ != nullptr) Release(*given_);
  given_.reset();
  if (stopping_) return false;
  // The jobs before it the walk passed without taking.
  while (!jobs_.empty() && jobs_.front()->offset < at) {
    Drop(jobs_.front());
    jobs_.pop_front();
  }
  JobPointer job = !jobs_.empty() && jobs_.front()->offset == at ? jobs_.front() : nullptr;
  if (job == nullptr) {
    // The walk left the chain, or is ahead of the workers: they go on after
    // this entry; after one that runs alone, once the walk has passed it,
    // and until then with nothing in flight.
    DropAll();
    bool alone = Alone(CostOf(header));
    chain_ = at + ARCHIVE_HEADER_SIZE + uint64_t(header.packedSize);
    link_ = alone ? Link::End : Link::Unread;
    if (alone) {
      walkWaiting_ = true;
      jobDone_.wait(lock, [this] { return inFlight_ == 0; });
      walkWaiting_ = false;
    }
    bool wake = idleWorkers_ > 0;
    lock.unlock();
    if (wake) workReady_.notify_all();
    return false;
  }
  walkWaiting_ = true;
  jobDone_.wait(lock, [&] { return job->done; });
  walkWaiting_ = false;
  jobs_.pop_front();
  bool same = job->header.unpackedSize == header.unpackedSize && job->header.packedSize == header.packedSize;
  bool given = job->usable && same;
  if (given) {
    given_ = job;
    *entry = job->entry;
  } else {
    Release(*job);
  }
  bool wake = WakeWorkers();
  lock.unlock();
  if (wake) workReady_.notify_all();
  return given;
}
