#include "pack/bad_area_map.h"

#include <algorithm>

bool BadAreaMap::Open(uint64_t size) {
  size_ = size;
  givenUpFrom_ = size;
  return unit_.Allocate(UNIT_SIZE, false);
}

uint32_t BadAreaMap::Read(uint64_t offset, unsigned char* destination, uint32_t n) {
  uint64_t end = std::min(offset + n, ReadableUntil(offset));
  if (end <= offset) return 0;
  uint64_t at = offset;
  // Unit by unit up to `until`; false at the first unit that fails (noted).
  auto units = [&](uint64_t until) {
    while (at < until) {
      uint64_t unitEnd = std::min(until, (at / UNIT_SIZE + 1) * UNIT_SIZE);
      if (!probe_.Read(at, destination + (at - offset), uint32_t(unitEnd - at))) {
        NoteRefused(at / UNIT_SIZE * UNIT_SIZE);
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
  if (at == end || probe_.Read(at, destination + (at - offset), uint32_t(end - at))) return uint32_t(end - offset);
  units(end);  // the larger read failed: up to the unit that fails
  return uint32_t(at - offset);
}

uint64_t BadAreaMap::ReadableFrom(uint64_t offset) {
  for (;;) {
    if (offset >= givenUpFrom_) return size_;
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
BadAreaMap::Span* BadAreaMap::RunEndingAfter(uint64_t offset) {
  return std::upper_bound(runs_.begin(), runs_.end(), offset, [](uint64_t at, const Span& r) { return at < r.to; });
}

// Where the first refused or given-up byte at or after offset is, as far as
// known.
uint64_t BadAreaMap::ReadableUntil(uint64_t offset) {
  Span* run = RunEndingAfter(offset);
  if (run < runs_.end() && run->from <= offset && offset >= run->tried) {
    Settle(uint32_t(run - runs_.begin()));
    run = RunEndingAfter(offset);
  }
  uint64_t until = run < runs_.end() ? std::max(run->from, offset) : size_;
  return std::min(until, std::max(givenUpFrom_, offset));
}

bool BadAreaMap::ReadUnit(uint64_t at) {
  return probe_.Read(at, unit_.Data(), uint32_t(UnitLength(at)));
}

uint64_t BadAreaMap::UnitLength(uint64_t at) const {
  return std::min<uint64_t>(UNIT_SIZE, size_ - at);
}

uint64_t BadAreaMap::Untried() const {
  uint64_t untried = size_ - std::min(givenUpFrom_, size_);
  for (const Span& run : runs_) {
    if (run.from >= givenUpFrom_) break;
    uint64_t given = std::min(run.to, givenUpFrom_) - run.from;
    untried += given - std::min(given, run.refused);
  }
  return untried;
}

// The run gave up units untried at its end: reads on past it to where the
// bad area ends, as a forward read would, and then finds where the area
// ends among the units given up before that, by halves: the middle one of
// those left, when it reads, and those after it are taken as readable (a
// read of them says so or notes them), else those up to it as not.
void BadAreaMap::Settle(uint32_t index) {
  Span* run = runs_.begin() + index;
  for (;;) {
    bool another = run + 1 < runs_.end() && run[1].from == run->to;
    if (run->to >= std::min(size_, givenUpFrom_) || another) {
      run->tried = run->to;  // the bad area goes on to the end, or into the next run
      return;
    }
    if (ReadUnit(run->to)) break;
    NoteRefused(run->to);  // grows this run, or ends what can be read
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
      if (++refusedReads_ > REFUSED_READS_MAX) givenUpFrom_ = std::min(givenUpFrom_, run->to);
    }
  }
}

// The unit at `from` was refused: the run before it grows when it ends there
// (the walk mostly reads forward), by as much again as it holds (by the unit
// alone when every unit is asked for); or a run of its own goes in its place
// in the order.
void BadAreaMap::NoteRefused(uint64_t from) {
  if (told_ != nullptr) told_->Refused(from);
  Span* run = RunEndingAfter(from);
  bool follows = run > runs_.begin() && run[-1].to == from;
  uint64_t to = from + (follows && !everyUnit_ ? run[-1].to - run[-1].from : UNIT_SIZE);
  to = std::min(to, run < runs_.end() ? run->from : size_);
  uint64_t tried = std::min<uint64_t>(from + UNIT_SIZE, to);
  bool tooMany = ++refusedReads_ > REFUSED_READS_MAX && !everyUnit_;
  if (tooMany) {
    givenUpFrom_ = std::min(givenUpFrom_, from);
  } else if (follows) {
    run[-1].tried = tried;
    run[-1].to = to;
    run[-1].refused += UnitLength(from);
  } else if (!runs_.Insert(run, Span{from, tried, to, UnitLength(from)})) {
    givenUpFrom_ = std::min(givenUpFrom_, from);  // no room to note it
  }
}
