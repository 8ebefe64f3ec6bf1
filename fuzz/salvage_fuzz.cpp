// The rescue walk on an archive made from the input: every entry and every
// skipped range must lie in the file, in order, numbered one after another;
// every recovered byte is touched (so that a sanitizer sees bytes never
// written), holes of zeros only where the file could not be read, and the
// walk may touch what its entries really gave, never what a header merely
// claims. The same walk with threads decoding ahead must give the same
// entries, bytes and ranges. A damaged small stream that the repair by the
// checksum repairs gives the bytes the plain decoder gives of the changed
// stream.
#include <algorithm>
#include <vector>

#include "core/memory.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_target.h"
#include "pack/decoder.h"
#include "pack/repair.h"
#include "pack/salvage.h"
#include "pack/work_ahead.h"
#include "platform/platform.h"
#include "tests/support/counted_seam.h"
#include "tests/support/pack_writer.h"

namespace {

constexpr uint64_t ENTRY_HEADER_SIZE = 8;
// A repair tries 8 changes per packed byte: small streams only, so that
// an input costs milliseconds.
constexpr uint32_t REPAIR_FUZZ_PACKED_MAX = 2048;
constexpr uint32_t REPAIR_FUZZ_UNPACKED_MAX = 1 << 16;

class Checker : public SalvageVisitor {
 public:
  // refusedUnit: the 4 KiB of the file around the sector whose reads are
  // refused, or none when from == to. before: the resident bytes before the
  // walk, 0 to leave its memory unchecked.
  // file and path: the archive's bytes and where they are read from, for
  // the repairs (none without them).
  Checker(uint64_t size, uint64_t before, uint64_t refusedFrom, uint64_t refusedTo, const uint8_t* file = nullptr,
          const char* path = nullptr)
      : size_(size),
        before_(before),
        refusedFrom_(refusedFrom),
        refusedTo_(refusedTo),
        file_(file),
        path_(path),
        repairs_(file != nullptr && path != nullptr) {}

  // What the walk gave, all of it, as one number; whether memory ran short.
  uint64_t Digest() const { return digest_; }
  bool TooLarge() const { return tooLarge_; }

  bool Entry(const SalvagedEntry& entry) override {
    Require(entry.number == entries_);
    Require(entry.offset >= next_ && entry.offset + ENTRY_HEADER_SIZE <= size_);
    Require(entry.recovered == 0 || entry.bytes != nullptr);
    Require(entry.state != SalvageState::Lost || entry.recovered == 0);
    if (entry.state == SalvageState::Sound) {
      Require(!entry.cutShort && !entry.tooLarge && entry.recovered == entry.unpackedSize);
      Require(!entry.rangeTaken || (entry.headerRepaired && entry.checked));
    }
    if (!entry.rangeTaken) {
      Require(entry.recovered <= entry.unpackedSize);
      Require(entry.cutShort == (entry.offset + ENTRY_HEADER_SIZE + entry.packedSize > size_));
    }
    // Holes: in order, in the bytes recovered, zeros, and only where the
    // file could not be read.
    Require(entry.holeCount == 0 || (entry.unreadable && entry.state != SalvageState::Sound));
    uint64_t dataStart = entry.offset + ENTRY_HEADER_SIZE;
    uint32_t holeEnd = 0;
    for (uint32_t h = 0; h < entry.holeCount; h++) {
      const SalvageHole& hole = entry.holes[h];
      Require(hole.length > 0 && hole.offset >= holeEnd && hole.offset + hole.length < entry.recovered);
      Require(dataStart + hole.offset >= refusedFrom_ && dataStart + hole.offset + hole.length <= refusedTo_);
      for (uint32_t i = hole.offset; i < hole.offset + hole.length; i++) Require(entry.bytes[i] == 0);
      holeEnd = hole.offset + hole.length;
    }
    uint32_t sum = 0;
    for (uint32_t i = 0; i < entry.recovered; i++) {
      sum += entry.bytes[i];
      Mix(entry.bytes[i]);
    }
    sink_ = sink_ + sum;
    for (uint64_t fact :
         {uint64_t(entry.number), entry.offset, uint64_t(entry.unpackedSize), uint64_t(entry.packedSize),
          uint64_t(entry.state), uint64_t(entry.recovered), uint64_t(entry.holeCount), uint64_t(entry.FromFile())}) {
      Mix(fact);
    }
    for (bool flag : {entry.stored, entry.cutShort, entry.rangeTaken, entry.unreadable, entry.sizeUnknown, entry.zeroed,
                      entry.headerRepaired, entry.checked}) {
      Mix(flag);
    }
    tooLarge_ = tooLarge_ || entry.tooLarge;
    if (repairs_) CheckRepair(entry);
    // What the walk holds for this entry: the file's bytes it read, the
    // decoded bytes, and the shadow of the claim's block.
    allowed_ += uint64_t(entry.recovered) + entry.unpackedSize / 8;
    if (before_ != 0) RequireResidentGrowth(before_, size_ + allowed_);
    next_ = entry.offset + 1;
    entries_++;
    Require(entries_ <= size_);  // a suspect header may be one byte before the next
    return true;
  }

  void Skipped(const SalvageRange& range) override {
    Require(range.length > 0 && range.offset >= next_ && range.offset + range.length <= size_);
    skipped_++;
    Require(skipped_ <= size_);
    Mix(range.offset);
    Mix(range.length);
  }

  // One refused unit is asked for and refused: nothing is given up unread.
  void Ended(uint64_t untried) override { Require(untried == 0); }

 private:
  // A damaged small stream repaired by the checksum: its bytes are those the
  // plain decoder gives of the changed stream, and a place told lies in it.
  void CheckRepair(const SalvagedEntry& entry) {
    if (entry.stored || entry.cutShort || entry.rangeTaken || entry.unreadable || entry.sizeUnknown ||
        entry.packedSize > REPAIR_FUZZ_PACKED_MAX || entry.unpackedSize > REPAIR_FUZZ_UNPACKED_MAX ||
        (entry.state != SalvageState::Damaged && entry.state != SalvageState::Partial)) {
      return;
    }
    RepairedEntry repaired;
    if (!RepairArchiveEntry(path_, entry.offset, entry.unpackedSize, entry.packedSize, RepairOptions{}, &repaired)) {
      return;
    }
    const StreamRepair& repair = repaired.repair;
    Require(repair.outcome != RepairOutcome::Whole);
    int places = repair.outcome == RepairOutcome::Ambiguous                                               ? 2
                 : repair.outcome == RepairOutcome::Repaired || repair.outcome == RepairOutcome::Unproven ? 1
                                                                                                          : 0;
    for (int i = 0; i < places; i++) Require(repair.places[i].byte < entry.packedSize && repair.places[i].bit < 8);
    if (repair.outcome != RepairOutcome::Repaired) return;
    const uint8_t* stream = file_ + entry.offset + ENTRY_HEADER_SIZE;
    std::vector<uint8_t> changed(stream, stream + entry.packedSize);
    RepairApply(changed.data(), repair.places[0]);
    std::vector<uint8_t> out(size_t(entry.unpackedSize) + 1);
    uint32_t written = 0;
    Require(DecodeCompressedStreamChecked(changed.data(), entry.packedSize, out.data(), entry.unpackedSize, &written));
    Require(written == entry.unpackedSize && repaired.bytes.size() == written &&
            std::equal(repaired.bytes.begin(), repaired.bytes.end(), out.begin()));
  }

  void Mix(uint64_t value) { digest_ = (digest_ ^ value) * 1099511628211u; }

  uint64_t size_;
  uint64_t before_;
  uint64_t refusedFrom_;
  uint64_t refusedTo_;
  uint64_t allowed_ = 0;
  uint64_t next_ = 0;  // where the next entry may start at the earliest
  uint32_t entries_ = 0;
  uint64_t skipped_ = 0;
  volatile uint32_t sink_ = 0;
  uint64_t digest_ = 14695981039346656037u;
  bool tooLarge_ = false;
  const uint8_t* file_;  // the archive's bytes, for the repairs
  const char* path_;
  bool repairs_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& input = InputFile("salvage", data, size);
  // Half of the archives are read as from a failing disk: the system refuses
  // the reads of one sector, chosen by the input.
  uint32_t hash = 2166136261u;
  for (size_t i = 0; i < size; i++) hash = (hash ^ data[i]) * 16777619u;
  uint64_t unit = 0;
  bool refused = size > 0 && (hash & 1) != 0;
  if (refused) {
    uint64_t sector = (hash >> 1) % size / 512 * 512;
    PlatformFileRefuseReadsOf(sector, sector + 512);
    unit = sector / 4096 * 4096;
  }
  ProgramHeapCreate(FUZZ_HEAP_LIMIT);
  Checker checker(size, ResidentBytes(), unit, refused ? unit + 4096 : unit, data, input.c_str());
  Require(ArchiveSalvage(input.c_str(), checker));
  // Where memory ran short, the threads' own memory may change what fits.
  Checker threaded(size, 0, unit, refused ? unit + 4096 : unit);
  WorkAhead engine(3);
  Require(ArchiveSalvage(input.c_str(), threaded, SalvageReads::Stretches, &engine));
  Require(checker.TooLarge() || threaded.TooLarge() || checker.Digest() == threaded.Digest());
  ProgramHeapDestroy();
  PlatformFileCallsReset();
  return 0;
}
