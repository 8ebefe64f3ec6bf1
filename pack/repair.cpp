#include "pack/repair.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

#include "pack/decoder_internal.h"
#include "pack/work_ahead.h"

namespace {

using namespace decoder_parts;

// The first decoding's state before each step, to restart a try from and to
// meet it again. bit: bits taken from the start of the bit stream. copyFrom:
// the distance the step copies its bytes from, 0 when it writes bytes of its
// own (literals, raw blocks, the zero code) or none.
struct Step {
  uint64_t bit;
  uint32_t out;
  uint32_t lastOffset;
  uint32_t literalAdd;
  uint32_t copyFrom;
  uint8_t indexBits;
  uint8_t literalWidth;

  bool SameState(const DecoderState& s) const {
    return lastOffset == s.lastOffset && indexBits == s.indexBits && literalWidth == s.literalWidth &&
           literalAdd == s.literalAdd;
  }
};

// The distance a step starting with `window` copies from (after it, the
// state's lastOffset holds a match's), 0 for bytes of its own.
uint32_t CopyDistance(uint32_t window, uint32_t lastOffsetAfter) {
  if (IsLiteral(window)) return 0;
  if (IsNormalMatch(window)) return lastOffsetAfter;
  if (IsOneByteCode(window)) {
    uint32_t code = OneByteCode(window);
    return code >= 2 ? code - 1 : 0;
  }
  return ShortMatchOffset(window);  // 0 for the end and index-bits codes, which write nothing
}

BufferReader ReaderAt(const uint8_t* bits, const uint8_t* end, uint64_t bit) {
  BufferReader reader(bits + (bit / 32) * 4, end);
  if (bit % 32 != 0) {
    reader.Peek();
    reader.Skip(unsigned(bit % 32));
  }
  return reader;
}

// Where a bit of the bit stream lies in the stream's bytes: words are
// little-endian and taken from bit 31 down.
RepairPlace PlaceOfBit(uint64_t bit) {
  unsigned inWord = 31 - unsigned(bit % 32);
  return RepairPlace{uint32_t(STREAM_HEADER_SIZE + (bit / 32) * 4 + inWord / 8), uint8_t(inWord % 8),
                     RepairField::Data};
}

// The stream as it stands, decoded once, and what the tries compare with.
struct FirstDecoding {
  FirstDecoding(const uint8_t* bitsStart, const uint8_t* end, uint32_t expectedSize, uint32_t checksumField)
      : bits(bitsStart), bitsEnd(end), expected(expectedSize), field(checksumField) {}

  const uint8_t* bits;
  const uint8_t* bitsEnd;
  uint32_t expected;
  uint32_t field;  // the checksum field
  std::vector<Step> steps;
  std::vector<uint8_t> out;  // expected bytes; past what it wrote, zeros
  bool complete = false;     // reached its end code within its source
  uint32_t written = 0;
  uint64_t loadedBits = 0;  // a change past the words it loaded changes nothing
  // The checksum's state before each word; with `whole` (complete at the
  // expected size) also the state before each word that would end at the
  // field, and which bytes copy each byte.
  bool whole = false;
  std::vector<uint32_t> forward;
  std::vector<uint32_t> required;
  std::vector<uint32_t> firstChild;  // children[firstChild[i], firstChild[i + 1]) copy byte i
  std::vector<uint32_t> children;
  uint32_t checksum = 0;    // of the bytes as they are, when whole
  uint32_t difference = 0;  // between it and the field

  void Decode() {
    out.assign(expected, 0);
    DecoderState s(bits, bitsEnd, out.data());
    uint8_t* const outEnd = out.data() + expected;
    for (;;) {
      BufferReader peek = s.reader;
      uint32_t window = peek.Peek();
      Step step{s.reader.Consumed(bits), uint32_t(s.out - out.data()), s.lastOffset, s.literalAdd, 0,
                uint8_t(s.indexBits),    uint8_t(s.literalWidth)};
      StepResult result = DecodeStep(s, out.data(), outEnd);
      loadedBits = std::max<uint64_t>(loadedBits, uint64_t(s.reader.in - bits) * 8);
      if (result == StepResult::Bad) {
        steps.push_back(step);
        written = uint32_t(s.out - out.data());
        break;
      }
      step.copyFrom = CopyDistance(window, s.lastOffset);
      steps.push_back(step);
      if (result == StepResult::End) {
        complete = !s.reader.Overran();
        written = uint32_t(s.out - out.data());
        // The state after the end code: where the bytes of each step end.
        steps.push_back(Step{s.reader.Consumed(bits), written, s.lastOffset, s.literalAdd, 0, uint8_t(s.indexBits),
                             uint8_t(s.literalWidth)});
        break;
      }
    }
    // Wide copies may run ahead of what was written.
    std::fill(out.begin() + written, out.end(), 0);
    uint32_t words = expected / 4;
    forward.resize(size_t(words) + 1);
    uint32_t sum = 0;
    for (uint32_t k = 0; k < words; k++) {
      forward[k] = sum;
      sum = ChecksumStep(sum, Load32(out.data() + 4 * k));
    }
    forward[words] = sum;
    whole = complete && written == expected;
    if (whole) Prepare();
  }

  // Steps a try may meet: not the state after the end code, past which the
  // first decoding read no token.
  size_t Meetable() const { return complete ? steps.size() - 1 : steps.size(); }

  void Prepare() {
    uint32_t words = expected / 4;
    uint32_t sum = forward[words];
    uint32_t tail = expected >= 4 ? Load32(out.data() + expected - 4) : 0;
    bool tailStep = expected >= 4 && expected % 4 != 0;
    checksum = expected < 4 ? 0 : tailStep ? ChecksumStep(sum, tail) : sum;
    difference = checksum ^ field;
    required.resize(size_t(words) + 1);
    required[words] = tailStep ? ChecksumStepBack(field, tail) : field;
    for (uint32_t k = words; k-- > 0;) required[k] = ChecksumStepBack(required[k + 1], Load32(out.data() + 4 * k));
    // Each byte's copies, in order: the bytes a later step copies from it.
    firstChild.assign(size_t(expected) + 1, 0);
    for (size_t k = 0; k + 1 < steps.size(); k++) {
      uint32_t d = steps[k].copyFrom;
      if (d == 0) continue;
      for (uint32_t i = steps[k].out; i < steps[k + 1].out; i++) firstChild[i - d + 1]++;
    }
    for (uint32_t i = 0; i < expected; i++) firstChild[i + 1] += firstChild[i];
    children.resize(firstChild[expected]);
    std::vector<uint32_t> filled(firstChild.begin(), firstChild.end() - 1);
    for (size_t k = 0; k + 1 < steps.size(); k++) {
      uint32_t d = steps[k].copyFrom;
      if (d == 0) continue;
      for (uint32_t i = steps[k].out; i < steps[k + 1].out; i++) children[filled[i - d]++] = i;
    }
  }

  // The last step that starts at or before `bit` (the first starts at 0).
  size_t StepBefore(uint64_t bit) const {
    auto after = std::upper_bound(steps.begin(), steps.begin() + Meetable(), bit,
                                  [](uint64_t b, const Step& step) { return b < step.bit; });
    return size_t(after - steps.begin()) - 1;
  }
};

// One thread's tries: its own copy of the stream and of the decoded bytes,
// each put back as it was after every try.
class Tries {
 public:
  Tries(const FirstDecoding& first, const RepairOptions& options)
      : first_(first), options_(options), bits_(first.bits, first.bitsEnd), out_(first.out) {}

  // Whether the change of the bit stream's bit `bit` makes it whole.
  bool Passes(uint64_t bit) {
    // Past the end code the first decoding read nothing: a change there
    // leaves its bytes, which failed.
    if (first_.complete && bit >= first_.steps.back().bit) return false;
    RepairPlace place = PlaceOfBit(bit);
    uint8_t mask = uint8_t(1u << place.bit);
    size_t byte = place.byte - STREAM_HEADER_SIZE;
    if (byte >= bits_.size()) return false;  // a byte missing from the last word: no bit to change
    bits_[byte] ^= mask;
    size_t k = options_.checkpoints ? first_.StepBefore(bit) : 0;
    low_ = first_.steps[k].out;
    high_ = low_;
    bool passes = Run(k, bit);
    bits_[byte] ^= mask;
    memcpy(out_.data() + low_, first_.out.data() + low_, high_ - low_);
    return passes;
  }

 private:
  bool Run(size_t k, uint64_t changed) {
    const Step& from = first_.steps[k];
    uint8_t* const outStart = out_.data();
    uint8_t* const outEnd = outStart + first_.expected;
    const uint8_t* bits = bits_.data();
    DecoderState s(bits, bits + bits_.size(), outStart + from.out);
    s.reader = ReaderAt(bits, bits + bits_.size(), from.bit);
    s.lastOffset = from.lastOffset;
    s.indexBits = from.indexBits;
    s.literalWidth = from.literalWidth;
    s.literalAdd = from.literalAdd;
    size_t meet = k + 1;
    bool watching = options_.meet;
    for (;;) {
      StepResult result = DecodeStep(s, outStart, outEnd);
      uint32_t at = uint32_t(s.out - outStart);
      // Wide copies may have written past the step's bytes.
      high_ = std::max<uint32_t>(high_, uint32_t(std::min<size_t>(first_.expected, size_t(at) + COPY_SLACK)));
      if (result == StepResult::Bad) return false;
      if (result == StepResult::End) {
        if (s.reader.Overran() || at != first_.expected) return false;
        compared++;
        return ChecksumFrom(low_) == first_.field;
      }
      if (!watching) continue;
      uint64_t bit = s.reader.Consumed(bits);
      if (bit <= changed) continue;  // not past the changed bit yet: the same tokens so far
      size_t meetable = first_.Meetable();
      while (meet < meetable && first_.steps[meet].bit < bit) meet++;
      if (meet == meetable || first_.steps[meet].bit != bit || !first_.steps[meet].SameState(s)) continue;
      // From here on the try reads the tokens the first decoding read.
      int64_t shift = int64_t(at) - int64_t(first_.steps[meet].out);
      if (!first_.complete) {
        // Its failure did not depend on the bytes: at the same place the
        // try fails the same way.
        if (shift == 0) return false;
        watching = false;
        continue;
      }
      if (int64_t(first_.written) + shift != int64_t(first_.expected)) return false;
      if (shift != 0) {
        watching = false;
        continue;
      }
      return Met(meet);
    }
  }

  // The try met the first decoding at step `meet` at the same output
  // position: the rest of its bytes are the first decoding's, but for
  // those that copy, directly or through other copies, a byte it changed.
  bool Met(size_t meet) {
    uint32_t met = first_.steps[meet].out;
    // What wide copies wrote ahead is the first decoding's to write.
    memcpy(out_.data() + met, first_.out.data() + met, std::max(high_, met) - met);
    high_ = std::max(high_, met);
    uint32_t changed = met;
    uint32_t last = 0;
    // A byte changed carries its value to every copy of it the first
    // decoding made from here on, and to their copies: each is visited
    // once, without the bytes between.
    copies_.clear();
    for (uint32_t i = low_; i < met; i++) {
      if (out_[i] == first_.out[i]) continue;
      changed = std::min(changed, i);
      last = std::max(last, i);
      pending_.push_back(i);
      while (!pending_.empty()) {
        uint32_t from = pending_.back();
        pending_.pop_back();
        for (uint32_t c = first_.firstChild[from]; c < first_.firstChild[from + 1]; c++) {
          uint32_t copy = first_.children[c];
          if (copy < met) continue;  // the try wrote it with tokens of its own
          out_[copy] = out_[i];
          copies_.push_back(copy);
          last = std::max(last, copy);
          pending_.push_back(copy);
        }
      }
    }
    if (changed == met) return false;  // the bytes that failed their checksum
    compared++;
    uint32_t expected = first_.expected;
    bool passes;
    if (!CanMeetField(changed, met)) {
      passes = false;
    } else if (uint64_t(last) + 4 >= expected) {
      passes = ChecksumFrom(changed) == first_.field;
    } else {
      uint32_t sum = first_.forward[changed / 4];
      uint32_t end = last / 4 + 1;
      for (uint32_t k = changed / 4; k < end; k++) sum = ChecksumStep(sum, Load32(out_.data() + 4 * k));
      passes = sum == first_.required[end];
    }
    for (uint32_t copy : copies_) out_[copy] = first_.out[copy];
    return passes;
  }

  // Whether the changed bytes can make up the difference between the first
  // decoding's checksum and the field. The checksum's adds carry upwards
  // only, so bytes that differ from the first decoding's in no bit of a
  // word below bit L (and not in bit 31, which the rotation takes to bit 0)
  // change the checksum in no bit below L either.
  bool CanMeetField(uint32_t changed, uint32_t met) const {
    uint32_t lowest = 32;
    auto account = [&](uint32_t at) {
      uint32_t differs = uint32_t(out_[at] ^ first_.out[at]);
      for (uint32_t shift : {8 * (at % 4), 8 * (at - (first_.expected - 4))}) {
        if (shift > 24) continue;  // not in the last word (or not in the words at all)
        uint32_t bits = differs << shift;
        if (bits >> 31) return false;
        lowest = std::min<uint32_t>(lowest, uint32_t(__builtin_ctz(bits)));
      }
      return true;
    };
    for (uint32_t i = changed; i < met; i++) {
      if (out_[i] != first_.out[i] && !account(i)) return true;
    }
    for (uint32_t copy : copies_) {
      if (!account(copy)) return true;
    }
    return lowest >= 32 || (first_.difference & ((uint32_t(1) << lowest) - 1)) == 0;
  }

  // The checksum of the try's bytes, from the first decoding's state at the
  // word that holds byte `from` (the bytes before it are the same).
  uint32_t ChecksumFrom(uint32_t from) const {
    uint32_t expected = first_.expected;
    if (expected < 4) return 0;
    uint32_t words = expected / 4;
    uint32_t k = std::min(from / 4, words);
    uint32_t sum = first_.forward[k];
    for (; k < words; k++) sum = ChecksumStep(sum, Load32(out_.data() + 4 * k));
    return expected % 4 != 0 ? ChecksumStep(sum, Load32(out_.data() + expected - 4)) : sum;
  }

 public:
  uint64_t compared = 0;  // tries that came whole to the size: the checksum alone judged them

 private:
  const FirstDecoding& first_;
  const RepairOptions& options_;
  std::vector<uint8_t> bits_;
  std::vector<uint8_t> out_;
  std::vector<uint32_t> pending_;  // bytes whose copies are still to visit
  std::vector<uint32_t> copies_;   // bytes past the meeting that took a changed value
  uint32_t low_ = 0;               // the try wrote from here ...
  uint32_t high_ = 0;              // ... to here at most
};

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
