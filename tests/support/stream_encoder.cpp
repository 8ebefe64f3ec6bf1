// The test encoder: a parse into tokens (hash-chain match finder, choices by
// bits saved), then an emitter that picks literal widths and raw blocks.
#include <algorithm>
#include <array>

#include "tests/support/pack_writer.h"

namespace {

constexpr unsigned WINDOW_BITS = 20;
constexpr uint32_t WINDOW = uint32_t(1) << WINDOW_BITS;
constexpr unsigned HASH_BITS = 16;
constexpr unsigned CHAIN_DEPTH = 24;
constexpr uint32_t MATCH_MAX = uint32_t(1) << 16;
constexpr unsigned INDEX_BITS_START = 8;
constexpr uint32_t SHORT_OFFSET_MAX = 127;
constexpr uint32_t SHORT_LENGTH_MAX = 5;
constexpr uint32_t ONE_BYTE_DISTANCE_MAX = 14;
constexpr int LITERAL_BITS = 9;           // what a literal costs, for the choices
constexpr uint32_t LAZY_LENGTH_MAX = 64;  // longer matches are taken at once

enum class Kind : uint8_t { Literal, Normal, Repeat, Short, OneByteCopy, ZeroByte, SetIndexBits };

struct Token {
  Kind kind;
  uint8_t indexBits;  // SetIndexBits: the new value
  uint32_t offset;
  uint32_t length;
  uint32_t position;  // where the token's bytes start in the data
};

uint32_t LengthBonus(uint32_t offset) {
  if (offset < 0x80) return 4;
  if (offset < 0x27F) return 0;
  if (offset < 0x37FF) return 1;
  if (offset < 0x10000) return 2;
  return 3;
}

int GammaBits(uint64_t value) {
  int dataBits = 0;
  while ((value >> (dataBits + 1)) != 0) dataBits++;
  return 2 * dataBits;
}

int NormalCost(uint32_t offset, uint32_t length, unsigned indexBits) {
  return 2 + GammaBits((uint64_t(offset) >> indexBits) + 3) + int(indexBits) + GammaBits(length - LengthBonus(offset));
}

bool NormalAllowed(uint32_t offset, uint32_t length) {
  return length >= LengthBonus(offset) + 2;
}

class Parser {
 public:
  Parser(const uint8_t* data, uint32_t size, EncoderMode mode)
      : data_(data), size_(size), mode_(mode), head_(size_t(1) << HASH_BITS, -1), pairs_(65536, -1) {
    // Small inputs need no more chain slots than positions.
    uint32_t slots = 1;
    while (slots < size && slots < WINDOW) slots *= 2;
    chain_.resize(slots);
    chainMask_ = slots - 1;
  }

  std::vector<Token> Run() {
    bool literalsOnly =
        mode_ == EncoderMode::Literals8 || mode_ == EncoderMode::Literals7 || mode_ == EncoderMode::RawBlocks;
    uint32_t at = 0;
    while (at < size_) {
      at += literalsOnly ? Push(Token{Kind::Literal, 0, 0, 1, at}) : Choose(at);
      InsertBefore(at);
    }
    return std::move(tokens_);
  }

 private:
  uint32_t MatchLength(uint32_t at, uint32_t distance) const {
    uint32_t limit = std::min(size_ - at, MATCH_MAX);
    const uint8_t* a = data_ + at;
    const uint8_t* b = a - distance;
    uint32_t n = 0;
    while (n < limit && a[n] == b[n]) n++;
    return n;
  }

  uint32_t Hash(uint32_t at) const {
    uint32_t key = uint32_t(data_[at]) << 16 | uint32_t(data_[at + 1]) << 8 | data_[at + 2];
    return (key * 2654435761u) >> (32 - HASH_BITS);
  }

  void Insert(uint32_t at) {
    if (at + 2 <= size_) pairs_[data_[at] << 8 | data_[at + 1]] = int32_t(at);
    if (at + 3 > size_) return;
    uint32_t h = Hash(at);
    chain_[at & chainMask_] = head_[h];
    head_[h] = int32_t(at);
  }

  // Every position before `end` goes into the tables, once.
  void InsertBefore(uint32_t end) {
    for (; inserted_ < end; inserted_++) Insert(inserted_);
  }

  uint32_t Push(Token token) {
    tokens_.push_back(token);
    if (token.kind == Kind::Normal || token.kind == Kind::Short) lastOffset_ = token.offset;
    return token.kind == Kind::SetIndexBits ? 0 : token.length;
  }

  struct Candidate {
    Token token;
    int saving;  // bits saved over literals
  };

  uint32_t Choose(uint32_t at) {
    unsigned indexBits = indexBits_;
    if (mode_ == EncoderMode::IndexBits) indexBits = (matchCount_ * 7) % 32;
    Candidate now = Evaluate(at, indexBits);
    Token best = now.token;
    // Lazy matching: when the next position offers more, a literal goes first.
    if (mode_ == EncoderMode::Balanced && best.length >= 2 && best.length < LAZY_LENGTH_MAX && at + 1 < size_) {
      InsertBefore(at + 1);
      if (Evaluate(at + 1, indexBits).saving > now.saving) return Push(Token{Kind::Literal, 0, 0, 1, at});
    }

    if (best.kind == Kind::Normal) {
      if (mode_ == EncoderMode::IndexBits) {
        Push(Token{Kind::SetIndexBits, uint8_t(indexBits), 0, 0, at});
        indexBits_ = indexBits;
      }
      matchCount_++;
      if (mode_ == EncoderMode::RepeatMatches) return SplitIntoRepeats(best);
    }
    return Push(best);
  }

  // Each candidate token with the bits it saves over literals; the best wins.
  Candidate Evaluate(uint32_t at, unsigned indexBits) const {
    bool balanced = mode_ == EncoderMode::Balanced || mode_ == EncoderMode::RepeatMatches;
    bool normalOnly = mode_ == EncoderMode::NormalMatches || mode_ == EncoderMode::IndexBits;
    Token best{Kind::Literal, 0, 0, 1, at};
    int bestSaving = 0;
    auto consider = [&](Token token, int cost) {
      int saving = int(token.length) * LITERAL_BITS - cost;
      if (saving > bestSaving || (saving == bestSaving && token.length > best.length && saving > 0)) {
        best = token;
        bestSaving = saving;
      }
    };

    if (balanced && lastOffset_ <= at) {
      uint32_t length = MatchLength(at, lastOffset_);
      if (length >= 2) consider(Token{Kind::Repeat, 0, lastOffset_, length, at}, 4 + GammaBits(length));
    }
    if ((balanced || normalOnly) && at + 3 <= size_) {
      int32_t candidate = head_[Hash(at)];
      for (unsigned depth = 0; depth < CHAIN_DEPTH && candidate >= 0; depth++) {
        uint32_t distance = at - uint32_t(candidate);
        if (distance >= WINDOW) break;
        uint32_t length = MatchLength(at, distance);
        if (NormalAllowed(distance, length)) {
          consider(Token{Kind::Normal, 0, distance, length, at}, NormalCost(distance, length, indexBits));
        }
        if (length == MATCH_MAX) break;
        candidate = chain_[uint32_t(candidate) & chainMask_];
      }
    }
    if ((balanced || mode_ == EncoderMode::ShortMatches) && at + 2 <= size_) {
      int32_t candidate = pairs_[data_[at] << 8 | data_[at + 1]];
      if (candidate >= 0 && at - uint32_t(candidate) <= SHORT_OFFSET_MAX) {
        uint32_t distance = at - uint32_t(candidate);
        uint32_t length = std::min(MatchLength(at, distance), SHORT_LENGTH_MAX);
        if (length >= 2) consider(Token{Kind::Short, 0, distance, length, at}, 12);
      }
    }
    if (balanced || mode_ == EncoderMode::OneByteCodes) {
      if (data_[at] == 0) {
        consider(Token{Kind::ZeroByte, 0, 0, 1, at}, 7);
      } else {
        for (uint32_t d = 1; d <= ONE_BYTE_DISTANCE_MAX && d <= at; d++) {
          if (data_[at - d] == data_[at]) {
            consider(Token{Kind::OneByteCopy, 0, d, 1, at}, 7);
            break;
          }
        }
      }
    }

    return Candidate{best, bestSaving};
  }

  // The shortest normal match the offset allows, then repeats of 2 or 3.
  uint32_t SplitIntoRepeats(Token match) {
    uint32_t first = LengthBonus(match.offset) + 2;
    uint32_t total = match.length;
    Push(Token{Kind::Normal, 0, match.offset, first, match.position});
    uint32_t done = first;
    while (total - done >= 2) {
      uint32_t piece = (total - done == 4 || total - done == 2) ? 2 : 3;
      Push(Token{Kind::Repeat, 0, match.offset, piece, match.position + done});
      done += piece;
    }
    return done;
  }

  const uint8_t* data_;
  uint32_t size_;
  EncoderMode mode_;
  std::vector<int32_t> head_;
  std::vector<int32_t> pairs_;  // the last position of each 2-byte pair
  std::vector<int32_t> chain_;  // the previous position with the same hash, per position in the window
  uint32_t chainMask_;
  std::vector<Token> tokens_;
  uint32_t lastOffset_ = 1;
  unsigned indexBits_ = INDEX_BITS_START;
  uint32_t matchCount_ = 0;
  uint32_t inserted_ = 0;  // positions before this are in the tables
};

// Turns tokens into bits, choosing how runs of literals are written.
class Emitter {
 public:
  Emitter(const uint8_t* data, EncoderMode mode) : data_(data), mode_(mode) {}

  void Run(const std::vector<Token>& tokens) {
    PlanWidths(tokens);  // for the modes that leave the widths free
    size_t i = 0;
    while (i < tokens.size()) {
      if (tokens[i].kind == Kind::Literal) {
        size_t end = i;
        while (end < tokens.size() && tokens[end].kind == Kind::Literal) end++;
        Literals(tokens[i].position, tokens[end - 1].position + 1);
        i = end;
        continue;
      }
      Match(tokens[i]);
      i++;
    }
    bits_.EndCode();
  }

  const StreamBitWriter& Bits() const { return bits_; }

 private:
  void Match(const Token& token) {
    switch (token.kind) {
      case Kind::Normal: {
        uint32_t high = token.offset >> indexBits_;
        uint32_t low = indexBits_ == 0 ? 0 : token.offset & ((uint32_t(1) << indexBits_) - 1);
        bits_.NormalMatch(high, low, indexBits_, token.length - LengthBonus(token.offset));
        break;
      }
      case Kind::Repeat:
        bits_.RepeatMatch(token.length);
        break;
      case Kind::Short:
        bits_.ShortMatch(token.offset, token.length - 2);
        break;
      case Kind::OneByteCopy:
        bits_.OneByteCode(token.offset + 1);
        break;
      case Kind::ZeroByte:
        bits_.OneByteCode(1);
        break;
      case Kind::SetIndexBits:
        indexBits_ = token.indexBits;
        bits_.IndexBits(indexBits_ < 16 ? 1 : indexBits_ < 32 ? 2 : 3, indexBits_);
        break;
      case Kind::Literal:
        break;
    }
  }

  void SetWidth(unsigned width, uint32_t base) {
    if (width == width_ && (width == 8 || base == base_)) return;
    bits_.LiteralWidth(width, base);
    width_ = width;
    base_ = width == 8 ? 0 : base;
  }

  void Single(uint8_t byte) { bits_.Literal(uint32_t(uint8_t(byte - base_)), width_); }

  // True when [from, to) fits width 7 with the current base.
  bool FitsCurrentBase(uint32_t from, uint32_t to) const {
    if (width_ != 7) return false;
    for (uint32_t i = from; i < to; i++) {
      if (uint8_t(data_[i] - base_) >= 128) return false;
    }
    return true;
  }

  // The longest run from `from` whose bytes span less than 128 values, with its lowest byte.
  uint32_t NarrowRun(uint32_t from, uint32_t to, uint8_t* lowest) const {
    uint8_t low = data_[from];
    uint8_t high = data_[from];
    uint32_t i = from;
    while (i < to) {
      uint8_t b = data_[i];
      uint8_t newLow = std::min(low, b);
      uint8_t newHigh = std::max(high, b);
      if (newHigh - newLow >= 128) break;
      low = newLow;
      high = newHigh;
      i++;
    }
    *lowest = low;
    return i;
  }

  void Literals(uint32_t from, uint32_t to) {
    switch (mode_) {
      case EncoderMode::Literals8:
        SetWidth(8, 0);
        for (uint32_t i = from; i < to; i++) Single(data_[i]);
        return;
      case EncoderMode::Literals7:
        while (from < to) {
          uint8_t low;
          uint32_t end = NarrowRun(from, to, &low);
          if (!FitsCurrentBase(from, end)) SetWidth(7, low);
          for (uint32_t i = from; i < end; i++) Single(data_[i]);
          from = end;
        }
        return;
      case EncoderMode::RawBlocks: {
        SetWidth(8, 0);
        uint32_t run = 1;
        while (to - from >= 256) {
          size_t blocks = std::min<size_t>(run, (to - from) / 256);
          bits_.RawBlocks(data_ + from, blocks);
          from += uint32_t(blocks * 256);
          run = run % 4 + 1;
          if (from < to) Single(data_[from++]);
        }
        for (uint32_t i = from; i < to; i++) Single(data_[i]);
        return;
      }
      default:
        break;
    }
    // The widths were planned for the whole stream (PlanWidths).
    uint32_t start = LiteralsStart(from, to);
    if (start > from) bits_.RawBlocks(data_ + from, (start - from) / 256);
    from = start;
    if (from == to) return;
    uint16_t state = plan_[planned_++];
    if (state == WIDTH_8) {
      SetWidth(8, 0);
    } else {
      SetWidth(7, state);
    }
    for (uint32_t i = from; i < to; i++) Single(data_[i]);
  }

  // A wide run of 256 or more bytes goes out as raw blocks, which spare the
  // literal prefix: where the literals after its blocks start.
  uint32_t LiteralsStart(uint32_t from, uint32_t to) const {
    uint8_t low;
    if (NarrowRun(from, to, &low) == to) return from;
    return from + (to - from) / 256 * 256;
  }

  // The bytes of data[from, to) as an arc of values modulo 256: its first
  // value and its span (last - first). False when no arc of fewer than 128
  // values holds them all, so that no base of width 7 does.
  bool NarrowArc(uint32_t from, uint32_t to, unsigned* first, unsigned* span) const {
    uint64_t present[4] = {};
    for (uint32_t k = from; k < to; k++) present[data_[k] >> 6] |= uint64_t(1) << (data_[k] & 63);
    // The arc starts after the widest gap between neighbouring values, going round.
    unsigned lowest = 256, previous = 0, widest = 0;
    for (unsigned word = 0; word < 4; word++) {
      for (uint64_t bits = present[word]; bits != 0; bits &= bits - 1) {
        unsigned value = word * 64 + unsigned(__builtin_ctzll(bits));
        if (lowest == 256) {
          lowest = value;
        } else if (value - previous > widest) {
          widest = value - previous;
          *first = value;
        }
        previous = value;
      }
    }
    if (256 - previous + lowest > widest) {  // the gap across 255 to 0
      widest = 256 - previous + lowest;
      *first = lowest;
    }
    *span = 256 - widest;
    return *span < 128;
  }

  // The literal width for each run of literals (after its raw blocks), as the
  // cheapest sequence over the whole stream: a state is width 8 or width 7
  // with one of 256 bases; a run costs 9 or 8 bits a byte in the states that
  // can write it, and a change of state costs its code (9 bits to width 8,
  // 17 to width 7 and a base). Choosing run by run instead changed width
  // around short runs where the code cost more than it saved.
  void PlanWidths(const std::vector<Token>& tokens) {
    constexpr uint64_t NEVER = uint64_t(1) << 60;
    // The cheapest way to the runs so far that ends in each state. The bases
    // that can be the state are those of the last run: (aliveFirst - k) mod
    // 256 for k below aliveCount; the others are NEVER.
    std::array<uint64_t, 256> cost7{};
    unsigned aliveFirst = 0, aliveCount = 0;
    uint64_t cost8 = NEVER;
    uint64_t bestCost = 0;  // before the first run no width is set: every state is a change
    unsigned bestState = WIDTH_8;
    std::vector<uint16_t> cheapestBefore;                           // per run
    std::vector<std::array<uint64_t, (STATES + 63) / 64>> changed;  // per run: states entered by a change
    for (size_t i = 0; i < tokens.size();) {
      if (tokens[i].kind != Kind::Literal) {
        i++;
        continue;
      }
      size_t end = i;
      while (end < tokens.size() && tokens[end].kind == Kind::Literal) end++;
      uint32_t from = LiteralsStart(tokens[i].position, tokens[end - 1].position + 1);
      uint32_t to = tokens[end - 1].position + 1;
      i = end;
      if (from == to) continue;

      uint64_t length = to - from;
      uint64_t before = bestCost;
      cheapestBefore.push_back(uint16_t(bestState));
      std::array<uint64_t, (STATES + 63) / 64>& entered = changed.emplace_back();
      auto take = [&](unsigned state, uint64_t stay, uint64_t change, uint64_t bitsPerByte) {
        if (change < stay) entered[state / 64] |= uint64_t(1) << (state % 64);
        uint64_t total = std::min(stay, change) + length * bitsPerByte;
        if (total < bestCost) {
          bestCost = total;
          bestState = state;
        }
        return total;
      };
      bestCost = NEVER;
      cost8 = take(WIDTH_8, cost8, before + 9, 9);
      unsigned first = 0, span = 0;
      if (!NarrowArc(from, to, &first, &span)) {
        aliveCount = 0;
        continue;
      }
      for (unsigned k = 0; k < 128 - span; k++) {
        unsigned base = (first - k) & 255;
        bool alive = ((aliveFirst - base) & 255) < aliveCount;
        cost7[base] = take(base, alive ? cost7[base] : NEVER, before + 17, 8);
      }
      aliveFirst = first;
      aliveCount = 128 - span;
    }
    // Back from the cheapest end, run by run.
    plan_.assign(changed.size(), WIDTH_8);
    unsigned state = bestState;
    for (size_t run = changed.size(); run-- > 0;) {
      plan_[run] = uint16_t(state);
      if ((changed[run][state / 64] >> (state % 64)) & 1) state = cheapestBefore[run];
    }
  }

  // PlanWidths' states: bases 0 to 255 of width 7, and width 8.
  static constexpr unsigned WIDTH_8 = 256;
  static constexpr unsigned STATES = 257;

  const uint8_t* data_;
  EncoderMode mode_;
  std::vector<uint16_t> plan_;  // the state of each run of literals, in order
  size_t planned_ = 0;          // runs written so far
  StreamBitWriter bits_;
  unsigned width_ = 0;  // no literal-width code yet
  uint32_t base_ = 0;
  unsigned indexBits_ = INDEX_BITS_START;
};

}  // namespace

std::vector<uint8_t> EncodeCompressedStream(const uint8_t* data, size_t size, EncoderMode mode, bool withChecksum) {
  uint32_t size32 = uint32_t(size);
  Parser parser(data, size32, mode);
  std::vector<Token> tokens = parser.Run();
  Emitter emitter(data, mode);
  emitter.Run(tokens);
  uint32_t checksum = withChecksum ? ReferenceChecksum(data, size) : 0;
  return MakeStream(size32, checksum, emitter.Bits(), true);
}
