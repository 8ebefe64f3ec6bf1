#include "pack/salvage_ahead.h"

#include <algorithm>

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

SalvageAhead::SalvageAhead(PlatformFile file, uint64_t size, WorkAhead& engine, uint64_t limit)
    : file_(file),
      size_(size),
      limit_(limit),
      engine_(engine),
      jobsMax_(ENTRIES_PER_WORKER * engine.Workers()),
      spareMax_(SPARE_PER_WORKER * engine.Workers()) {
  if (engine_.Workers() > 0) jobs_ = std::make_unique<AheadJobs>(engine_, limit_);
}

SalvageAhead::~SalvageAhead() {
  jobs_.reset();  // no worker touches a link after this
}

void SalvageAhead::Stop() {
  stopping_ = true;
  if (jobs_ != nullptr) jobs_->ReleaseAll();
  links_.clear();
  holding_ = false;
}

// Whether the header at chain_ starts a link a worker may decode. The chain
// ends at a header whose data does not lie in the file or does not start a
// stream, at an entry that runs alone, and at a refused read.
bool SalvageAhead::NextLink(EntryHeader* header) {
  if (chainEnds_ || chain_ > size_ || size_ - chain_ < ARCHIVE_HEADER_SIZE) return false;
  {
    std::lock_guard<PlatformMutex> lock(mutex_);
    if (refused_) return false;
  }
  chainEnds_ = true;
  unsigned char bytes[ARCHIVE_HEADER_SIZE + 2];
  uint32_t want = uint32_t(std::min<uint64_t>(sizeof bytes, size_ - chain_));
  uint32_t done = 0;
  if (!PlatformFileReadAt(file_, chain_, bytes, want, &done) || done < want) {
    std::lock_guard<PlatformMutex> lock(mutex_);
    refused_ = true;
    return false;
  }
  *header = EntryHeaderFrom(bytes);
  if (header->packedSize > size_ - chain_ - ARCHIVE_HEADER_SIZE || Alone(CostOf(*header))) return false;
  if (!header->Stored() && (want < sizeof bytes || !StartsStream(bytes + ARCHIVE_HEADER_SIZE))) return false;
  chainEnds_ = false;
  return true;
}

// Adds the links of the chain while they fit. Only once half of what may
// be in flight is free again, so that idle workers are woken for a batch of
// entries, not for each one the walk takes.
void SalvageAhead::AddLinks() {
  if (jobs_ == nullptr || stopping_) return;
  if (links_.size() > jobsMax_ / 2 || jobs_->InFlight() > limit_ / 2) return;
  EntryHeader header{};
  while (links_.size() < jobsMax_ && NextLink(&header)) {
    if (!jobs_->Fits(CostOf(header))) break;  // read again next time: a pread of ten bytes
    links_.push_back(Link{chain_, header, false, {}, nullptr});
    Link* link = &links_.back();
    if (!spare_.empty()) {
      link->data = std::move(spare_.back());
      spare_.pop_back();
    }
    chain_ += ARCHIVE_HEADER_SIZE + uint64_t(header.packedSize);
    jobs_->Add(CostOf(header), [this, link] { Decode(link); });
  }
}

// On a worker.
void SalvageAhead::Decode(Link* link) {
  std::unique_ptr<Scratch> scratch;
  {
    std::lock_guard<PlatformMutex> lock(mutex_);
    if (!scratch_.empty()) {
      scratch = std::move(scratch_.back());
      scratch_.pop_back();
    }
  }
  if (scratch == nullptr) scratch = std::make_unique<Scratch>();
  if (link->data == nullptr) link->data = std::make_unique<Block>();
  PlainReads reads(file_);
  SalvageWhole(reads, link->offset, link->header, &link->entry, link->data.get(), scratch->holes, &scratch->stream);
  link->usable = !reads.Failed() && !link->entry.tooLarge && link->entry.holeCount == 0;
  link->entry.holes = nullptr;
  std::lock_guard<PlatformMutex> lock(mutex_);
  refused_ = refused_ || reads.Failed();
  scratch_.push_back(std::move(scratch));
}

// The oldest link, done or never begun: its block is kept for the next
// links, or freed.
void SalvageAhead::ReleaseOldest() {
  jobs_->Release();
  Link& link = links_.front();
  if (link.data != nullptr && link.data->Size() <= SPARE_MAX && spare_.size() < spareMax_) {
    spare_.push_back(std::move(link.data));
  }
  links_.pop_front();
}

bool SalvageAhead::Take(uint64_t at, const EntryHeader& header, SalvagedEntry* entry) {
  if (jobs_ == nullptr || stopping_) return false;
  if (holding_) ReleaseOldest();
  holding_ = false;
  // The links before it the walk passed without taking.
  while (!links_.empty() && links_.front().offset < at) ReleaseOldest();
  if (links_.empty() || links_.front().offset != at) {
    // The walk left the chain, or is ahead of the workers: the chain goes on
    // after this entry; after one that runs alone, once the walk has passed
    // it, and until then with nothing in flight.
    while (!links_.empty()) ReleaseOldest();
    chain_ = at + ARCHIVE_HEADER_SIZE + uint64_t(header.packedSize);
    chainEnds_ = Alone(CostOf(header));
    AddLinks();
    return false;
  }
  bool done = jobs_->Wait();
  Link& link = links_.front();
  bool same = link.header.unpackedSize == header.unpackedSize && link.header.packedSize == header.packedSize;
  bool given = done && link.usable && same;
  if (given) {
    holding_ = true;
    *entry = link.entry;
  } else {
    ReleaseOldest();
  }
  AddLinks();
  return given;
}
