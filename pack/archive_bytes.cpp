#include "pack/archive_bytes.h"

#include <algorithm>
#include <cstring>

#include "core/memory.h"

namespace {

// The file is read through a window this large: a byte-by-byte scan costs
// one read per window, not one per position.
constexpr uint32_t WINDOW_SIZE = 1u << 20;

}  // namespace

ArchiveBytes::~ArchiveBytes() {
  if (file_ != PLATFORM_FILE_INVALID) PlatformFileClose(file_);
}

bool ArchiveBytes::Open(const char* path) {
  file_ = PlatformFileOpenRead(path, true);
  if (file_ == PLATFORM_FILE_INVALID) return false;
  if (!PlatformFileSize(file_, &size_)) return false;
  unreadableFrom_ = size_;
  return window_.Allocate(WINDOW_SIZE, false) && unit_.Allocate(UNIT_SIZE, false);
}

const unsigned char* ArchiveBytes::At(uint64_t offset, uint32_t n) {
  if (offset > size_ || size_ - offset < n) return nullptr;
  if (offset < start_ || offset + n > start_ + length_) {
    uint32_t want = uint32_t(std::min<uint64_t>(WINDOW_SIZE, size_ - offset));
    start_ = offset;
    length_ = Read(offset, window_.Data(), want);
    if (length_ < n) return nullptr;
  }
  return window_.Data() + (offset - start_);
}

const unsigned char* ArchiveBytes::Peek(uint64_t offset, uint32_t n) {
  if (offset > size_ || size_ - offset < n) return nullptr;
  if (offset >= start_ && offset + n <= start_ + length_) return window_.Data() + (offset - start_);
  if (offset < probeStart_ || offset + n > probeStart_ + probeLength_) {
    probeStart_ = offset;
    probeLength_ = Read(offset, probe_, uint32_t(std::min<uint64_t>(PROBE_SIZE, size_ - offset)));
    if (probeLength_ < n) return nullptr;
  }
  return probe_ + (offset - probeStart_);
}

uint32_t ArchiveBytes::Read(uint64_t offset, unsigned char* destination, uint32_t n) {
  uint64_t end = std::min(offset + n, ReadableUntil(offset));
  if (end <= offset) return 0;
  uint64_t at = offset;
  // Unit by unit up to `until`; false at the first unit that fails (noted).
  auto units = [&](uint64_t until) {
    while (at < until) {
      uint64_t unitEnd = std::min(until, (at / UNIT_SIZE + 1) * UNIT_SIZE);
      if (!ReadExactly(at, destination + (at - offset), uint32_t(unitEnd - at))) {
        NoteUnreadable(at / UNIT_SIZE * UNIT_SIZE);
        return false;
      }
      at = unitEnd;
    }
    return true;
  };
  // Close after a noted run the disk is likely patchy: one unit at a time
  // (a unit that reads costs little, a refused read may take seconds).
  Span* after = RunEndingAfter(offset);
  if (after > runs_.begin() && !units(std::min(end, after[-1].to + NEAR_BAD))) return uint32_t(at - offset);
  if (at == end || ReadExactly(at, destination + (at - offset), uint32_t(end - at))) return uint32_t(end - offset);
  units(end);  // the larger read failed: up to the unit that fails
  return uint32_t(at - offset);
}

uint32_t ArchiveBytes::ReadAround(uint64_t offset, unsigned char* destination, uint32_t n,
                                  GrowingTable<SalvageHole>& holes) {
  holes.Clear();
  uint32_t done = 0;
  uint32_t filled = 0;  // up to the last byte read
  while (done < n) {
    uint32_t got = Read(offset + done, destination + done, n - done);
    done += got;
    if (got > 0) filled = done;
    if (done == n) break;
    uint32_t resume = uint32_t(std::min<uint64_t>(n, ReadableFrom(offset + done) - offset));
    if (resume <= done) break;  // cannot be: what a read stopped at is noted
    SalvageHole* last = holes.Count() > 0 ? holes.end() - 1 : nullptr;
    if (last != nullptr && last->offset + last->length == done) {
      last->length += resume - done;  // the run before grew into it
    } else if (!holes.Insert(holes.end(), SalvageHole{done, resume - done})) {
      break;  // not noted, so not passed over
    }
    done = resume;
  }
  // A hole that reaches the end is where the bytes end, not a hole; the
  // memory there is left untouched.
  while (holes.Count() > 0 && holes.end()[-1].offset >= filled) holes.Pop();
  for (const SalvageHole& hole : holes) memset(destination + hole.offset, 0, hole.length);
  return filled;
}

uint64_t ArchiveBytes::ReadableFrom(uint64_t offset) {
  for (;;) {
    if (offset >= unreadableFrom_) return size_;
    Span* run = RunEndingAfter(offset);
    if (run == runs_.end() || run->from > offset) return offset;
    if (run->tried < run->to) {
      Settle(uint32_t(run - runs_.begin()));
      continue;
    }
    offset = run->to;
  }
}

// The first noted run that ends after offset (runs_.end() when none).
ArchiveBytes::Span* ArchiveBytes::RunEndingAfter(uint64_t offset) {
  return std::upper_bound(runs_.begin(), runs_.end(), offset, [](uint64_t at, const Span& r) { return at < r.to; });
}

// Where the first unreadable byte at or after offset is, as far as known.
uint64_t ArchiveBytes::ReadableUntil(uint64_t offset) {
  Span* run = RunEndingAfter(offset);
  if (run < runs_.end() && run->from <= offset && offset >= run->tried) {
    Settle(uint32_t(run - runs_.begin()));
    run = RunEndingAfter(offset);
  }
  uint64_t until = run < runs_.end() ? std::max(run->from, offset) : size_;
  return std::min(until, std::max(unreadableFrom_, offset));
}

bool ArchiveBytes::ReadExactly(uint64_t at, unsigned char* destination, uint32_t n) {
  uint32_t done = 0;
  return PlatformFileReadAt(file_, at, destination, n, &done) && done == n;
}

bool ArchiveBytes::ReadUnit(uint64_t at) {
  return ReadExactly(at, unit_.Data(), uint32_t(UnitLength(at)));
}

uint64_t ArchiveBytes::UnitLength(uint64_t at) const {
  return std::min<uint64_t>(UNIT_SIZE, size_ - at);
}

uint64_t ArchiveBytes::Untried() const {
  uint64_t untried = size_ - std::min(unreadableFrom_, size_);
  for (const Span& run : runs_) {
    if (run.from >= unreadableFrom_) break;
    uint64_t given = std::min(run.to, unreadableFrom_) - run.from;
    untried += given - std::min(given, run.refused);
  }
  return untried;
}

// The run gave up units untried at its end: reads on past it to where the
// bad area ends, as a forward read would, and then finds where the area
// ends among the units given up before that, by halves: the middle one of
// those left, when it reads, and those after it are taken as readable (a
// read of them says so or notes them), else those up to it as not.
void ArchiveBytes::Settle(uint32_t index) {
  Span* run = runs_.begin() + index;
  for (;;) {
    bool another = run + 1 < runs_.end() && run[1].from == run->to;
    if (run->to >= std::min(size_, unreadableFrom_) || another) {
      run->tried = run->to;  // the bad area goes on to the end, or into the next run
      return;
    }
    if (ReadUnit(run->to)) break;
    NoteUnreadable(run->to);  // grows this run, or ends what can be read
    run = runs_.begin() + index;
  }
  while (run->to > run->tried) {
    uint64_t at = run->tried + (run->to - run->tried) / UNIT_SIZE / 2 * UNIT_SIZE;
    if (ReadUnit(at)) {
      run->to = at;
    } else {
      if (told_ != nullptr) told_->Refused(at);
      run->tried = at + UNIT_SIZE;
      run->refused += UnitLength(at);
      if (++refusedReads_ > REFUSED_READS_MAX) unreadableFrom_ = std::min(unreadableFrom_, run->to);
    }
  }
}

// The unit at `from` could not be read: the run before it grows when it
// ends there (the walk mostly reads forward), by as much again as it holds
// (by the unit alone when every unit is asked for); or a run of its own goes
// in its place in the order.
void ArchiveBytes::NoteUnreadable(uint64_t from) {
  if (told_ != nullptr) told_->Refused(from);
  Span* run = RunEndingAfter(from);
  bool follows = run > runs_.begin() && run[-1].to == from;
  uint64_t to = from + (follows && !everyUnit_ ? run[-1].to - run[-1].from : UNIT_SIZE);
  to = std::min(to, run < runs_.end() ? run->from : size_);
  uint64_t tried = std::min<uint64_t>(from + UNIT_SIZE, to);
  bool tooMany = ++refusedReads_ > REFUSED_READS_MAX && !everyUnit_;
  if (tooMany) {
    unreadableFrom_ = std::min(unreadableFrom_, from);
  } else if (follows) {
    run[-1].tried = tried;
    run[-1].to = to;
    run[-1].refused += UnitLength(from);
  } else if (!runs_.Insert(run, Span{from, tried, to, UnitLength(from)})) {
    unreadableFrom_ = std::min(unreadableFrom_, from);  // no room to note it
  }
}
