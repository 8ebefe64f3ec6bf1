#include "pack/repair.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

#include "pack/decoder_internal.h"
#include "pack/repair_tries.h"
#include "pack/work_ahead.h"

namespace {

using namespace decoder_parts;
using namespace repair_parts;

int BitsSet(uint32_t x) {
  return __builtin_popcount(x);
}
int LowestBit(uint32_t x) {
  return __builtin_ctz(x);
}

// The tries of the bit stream's bits [0, count) on the caller's thread and
// up to threads - 1 workers of the engine, in chunks taken in turn. Stops when two have passed or the budget is spent.
struct Search {
  static constexpr uint64_t CHUNK = 2048;

  Search(const FirstDecoding& decoding, uint64_t bits, const RepairOptions& chosen, size_t settling)
      : first(decoding), count(bits), options(chosen), budget(chosen.budget), wanted(settling) {}

  const FirstDecoding& first;
  uint64_t count;
  const RepairOptions& options;
  const RepairBudget* budget;
  size_t wanted;  // passes that settle it: two, less those the header gave
  std::atomic<uint64_t> next{0};
  std::atomic<bool> stop{false};
  std::atomic<bool> outOfTime{false};
  std::mutex mutex;  // guards passed
  std::vector<uint64_t> passed;
  std::atomic<uint64_t> compared{0};

  void Work() {
    Tries tries(first, options);
    Work(tries);
    compared += tries.compared;
  }

  void Work(Tries& tries) {
    for (;;) {
      if (stop.load(std::memory_order_relaxed)) return;
      if (budget != nullptr && budget->Spent()) {
        outOfTime = true;
        stop = true;
        return;
      }
      uint64_t start = next.fetch_add(CHUNK);
      if (start >= count) return;
      uint64_t end = std::min(count, start + CHUNK);
      for (uint64_t bit = start; bit < end; bit++) {
        if (!tries.Passes(bit)) continue;
        std::lock_guard<std::mutex> lock(mutex);
        passed.push_back(bit);
        if (passed.size() >= wanted) stop = true;
      }
    }
  }

  void Run(unsigned threads, WorkAhead* engine) {
    std::unique_ptr<WorkAhead> own;
    if (engine == nullptr && threads > 1) {
      own = std::make_unique<WorkAhead>(threads - 1 > 1 ? threads - 1 : 2);
      engine = own.get();
    }
    // Fewer workers, or none free: the same tries, on fewer threads.
    for (unsigned i = 1; engine != nullptr && i < threads && i <= engine->Workers(); i++) {
      engine->Post(this, [this] { Work(); });
    }
    Work();
    // Every chunk is taken once this thread's Work ends: helpers not begun
    // are not needed, those running are waited for.
    if (engine != nullptr) engine->Withdraw(this);
    std::sort(passed.begin(), passed.end());
  }
};

// Whether the changed stream decodes whole to expected bytes by the plain
// decoder: the proof a repair is given by.
bool Confirmed(const uint8_t* stream, uint32_t size, uint32_t expected, const RepairPlace& place) {
  std::vector<uint8_t> changed(stream, stream + size);
  RepairApply(changed.data(), place);
  std::vector<uint8_t> out(std::max<uint32_t>(expected, 1));
  uint32_t written = 0;
  return DecodeCompressedStreamChecked(changed.data(), size, out.data(), expected, &written) && written == expected &&
         Load32(changed.data() + 6) != 0;
}

}  // namespace

StreamRepair RepairStream(const uint8_t* stream, uint32_t size, uint32_t expectedSize, const RepairOptions& options) {
  StreamRepair repair;
  repair.candidates = uint64_t(size) * 8;
  if (stream == nullptr || size < STREAM_HEADER_SIZE || expectedSize > REPAIR_DECODED_MAX) {
    repair.outcome = RepairOutcome::Unprovable;
    return repair;
  }
  if (options.budget != nullptr && options.budget->Spent()) {
    repair.outcome = RepairOutcome::OutOfTime;
    return repair;
  }
  uint32_t magic = uint32_t(stream[0] | stream[1] << 8);
  uint32_t sizeField = Load32(stream + 2);
  uint32_t field = Load32(stream + 6);
  if (field == 0) {
    repair.outcome = RepairOutcome::Unprovable;
    return repair;
  }
  FirstDecoding first(stream + STREAM_HEADER_SIZE, stream + size, expectedSize, field);
  first.Decode();
  std::vector<RepairPlace> passed;
  uint64_t compared = 0;
  bool headerRight = magic == STREAM_MAGIC && sizeField == expectedSize;
  if (headerRight && first.whole && first.checksum == field) {
    repair.outcome = RepairOutcome::Whole;
    return repair;
  }
  // A change in the header leaves the bits as they are: it passes when they
  // decode whole and the rest of the header holds.
  if (first.whole) {
    compared += 3;
    // The checksum's differences never reach below their lowest bit (an
    // add carries upwards only): bytes that differ from those that failed
    // where the checksum says they do can match it only through the bits
    // from there up.
    uint32_t difference = first.checksum ^ field;
    if (difference != 0) repair.proofBits = 32 - unsigned(__builtin_ctz(difference));
    bool sums = first.checksum == field;
    if (sizeField == expectedSize && sums && BitsSet(magic ^ STREAM_MAGIC) == 1) {
      int bit = LowestBit(magic ^ STREAM_MAGIC);
      passed.push_back(RepairPlace{uint32_t(bit / 8), uint8_t(bit % 8), RepairField::Magic});
    }
    if (magic == STREAM_MAGIC && sums && BitsSet(sizeField ^ expectedSize) == 1) {
      int bit = LowestBit(sizeField ^ expectedSize);
      passed.push_back(RepairPlace{uint32_t(2 + bit / 8), uint8_t(bit % 8), RepairField::DecodedSize});
    }
    if (headerRight && first.checksum != 0 && BitsSet(first.checksum ^ field) == 1) {
      int bit = LowestBit(first.checksum ^ field);
      passed.push_back(RepairPlace{uint32_t(6 + bit / 8), uint8_t(bit % 8), RepairField::Checksum});
    }
  }
  // A change in the bits leaves the header as it is: only a right one can pass.
  if (headerRight && passed.size() < 2) {
    uint64_t words = (uint64_t(size - STREAM_HEADER_SIZE) + 3) / 4;
    uint64_t count = std::min<uint64_t>(words * 32, (first.loadedBits + 31) / 32 * 32);
    Search search(first, count, options, 2 - passed.size());
    search.Run(std::max(1u, options.threads), options.engine);
    if (search.outOfTime && passed.size() + search.passed.size() < 2) {
      repair.outcome = RepairOutcome::OutOfTime;
      return repair;
    }
    for (uint64_t bit : search.passed) passed.push_back(PlaceOfBit(bit));
    compared += search.compared;
  }
  repair.compared = compared;
  repair.falseMatchOneIn = RepairFalseMatchOneIn(compared, repair.proofBits);
  if (passed.empty()) {
    repair.outcome = RepairOutcome::None;
    return repair;
  }
  repair.places[0] = passed[0];
  if (passed.size() >= 2) {
    repair.places[1] = passed[1];
    repair.outcome = RepairOutcome::Ambiguous;
    return repair;
  }
  if (!Confirmed(stream, size, expectedSize, passed[0])) {
    repair.outcome = RepairOutcome::None;
    return repair;
  }
  repair.outcome = repair.falseMatchOneIn >= REPAIR_ONE_IN_MIN ? RepairOutcome::Repaired : RepairOutcome::Unproven;
  return repair;
}
