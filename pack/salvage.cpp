#include "pack/salvage.h"

#include <algorithm>
#include <cstring>

#include "core/memory.h"
#include "pack/decoder.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t ENTRY_HEADER_SIZE = 8;
constexpr uint32_t MAGIC_SIZE = 2;
// Plausible headers in a row that make a chain the archive goes on with.
constexpr int CHAIN_LENGTH = 3;
// The search reads the file through a window this large: a byte-by-byte scan
// costs one read per window, not one per position.
constexpr uint32_t WINDOW_SIZE = 1u << 20;
// When a claimed size cannot be held, what fits is decoded: these in turn.
constexpr uint32_t FALLBACK_SIZES[] = {256u << 20, 64u << 20, 16u << 20};

uint32_t LittleEndian32(const unsigned char* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

bool HasMagic(const unsigned char* at) {
  return (at[0] | at[1] << 8) == STREAM_MAGIC;
}

// A block of the program heap, zero-filled (fresh pages need no filling, so
// a large claim costs address space, not the touching of every byte).
class Block {
 public:
  Block() = default;
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  ~Block() { Free(); }

  // At least one byte, so that an empty entry is a valid buffer too.
  bool Allocate(uint32_t size, bool zeroFill) {
    Free();
    data_ = static_cast<unsigned char*>(ProgramAlloc(size != 0 ? size : 1, zeroFill));
    size_ = data_ != nullptr ? size : 0;
    return data_ != nullptr;
  }
  void Free() {
    if (data_ != nullptr) ProgramFree(data_);
    data_ = nullptr;
    size_ = 0;
  }
  unsigned char* Data() const { return data_; }
  uint32_t Size() const { return size_; }

 private:
  unsigned char* data_ = nullptr;
  uint32_t size_ = 0;
};

// Reads the system refuses (a failing disk's bad sectors) cost the walk only
// the units of the file they touch: a read that fails is tried again a unit
// at a time, and the units that fail are noted and never read again. The
// walk finds no header in them, and an entry's data ends at the first.
constexpr uint32_t UNIT_SIZE = 4096;
// A failing disk may take seconds for each read it refuses, so a large bad
// area is not tried unit by unit: each unit that fails right after a noted
// run gives up as much again as the run holds, up to this much at a time.
constexpr uint64_t GIVE_UP_MAX = 64 * UNIT_SIZE;
// Noted runs of unreadable units, and refused unit reads; past either, the
// file counts as unreadable from there on (a dead disk ends the walk).
constexpr uint32_t UNREADABLE_RUNS_MAX = 512;
constexpr uint32_t REFUSED_READS_MAX = 4096;

// The archive file, read at any offset through a window.
class ArchiveBytes {
 public:
  ~ArchiveBytes() {
    if (file_ != PLATFORM_FILE_INVALID) PlatformFileClose(file_);
  }

  bool Open(const char* path) {
    file_ = PlatformFileOpenRead(path, true);
    if (file_ == PLATFORM_FILE_INVALID) return false;
    if (!PlatformFileSize(file_, &size_)) return false;
    unreadableFrom_ = size_;
    return window_.Allocate(WINDOW_SIZE, false);
  }

  uint64_t Size() const { return size_; }

  // The n bytes at offset (n <= WINDOW_SIZE), or null when the file does not
  // hold them all, or not all of them can be read.
  const unsigned char* At(uint64_t offset, uint32_t n) {
    if (offset > size_ || size_ - offset < n) return nullptr;
    if (offset < start_ || offset + n > start_ + length_) {
      uint32_t want = uint32_t(std::min<uint64_t>(WINDOW_SIZE, size_ - offset));
      start_ = offset;
      length_ = Read(offset, window_.Data(), want);
      if (length_ < n) return nullptr;
    }
    return window_.Data() + (offset - start_);
  }

  // Reads [offset, offset + n), which the file holds, into destination, up
  // to the first byte that cannot be read: returns how many came (n when
  // all did). The rest of destination is left as it was.
  uint32_t Read(uint64_t offset, unsigned char* destination, uint32_t n) {
    uint64_t end = std::min(offset + n, ReadableUntil(offset));
    if (end <= offset) return 0;
    uint32_t done = 0;
    if (PlatformFileReadAt(file_, offset, destination, uint32_t(end - offset), &done) && done == end - offset) {
      return done;
    }
    for (uint64_t at = offset; at < end;) {
      uint64_t unitEnd = std::min(end, (at / UNIT_SIZE + 1) * UNIT_SIZE);
      uint32_t length = uint32_t(unitEnd - at);
      if (!PlatformFileReadAt(file_, at, destination + (at - offset), length, &done) || done != length) {
        NoteUnreadable(at / UNIT_SIZE * UNIT_SIZE);
        return uint32_t(at - offset);
      }
      at = unitEnd;
    }
    return uint32_t(end - offset);
  }

  // The first offset at or after `offset` that is not known to be
  // unreadable; the size when there is none.
  uint64_t ReadableFrom(uint64_t offset) const {
    for (;;) {
      if (offset >= unreadableFrom_) return size_;
      const Span* run = RunEndingAfter(offset);
      if (run == runs_ + runCount_ || run->from > offset) return offset;
      offset = run->to;
    }
  }

 private:
  struct Span {
    uint64_t from;  // unit-aligned
    uint64_t to;
  };

  // The first noted run that ends after offset (runs_ + runCount_ when none).
  const Span* RunEndingAfter(uint64_t offset) const {
    return std::upper_bound(runs_, runs_ + runCount_, offset, [](uint64_t at, const Span& r) { return at < r.to; });
  }

  // Where the first unreadable byte at or after offset is, as far as known.
  uint64_t ReadableUntil(uint64_t offset) const {
    const Span* run = RunEndingAfter(offset);
    uint64_t until = run < runs_ + runCount_ ? std::max(run->from, offset) : size_;
    return std::min(until, std::max(unreadableFrom_, offset));
  }

  // The unit at `from` could not be read: the run before it grows when it
  // ends there (the walk mostly reads forward), by as much again as it holds
  // (see GIVE_UP_MAX); or a run of its own goes in its place in the order.
  void NoteUnreadable(uint64_t from) {
    Span* run = runs_ + (RunEndingAfter(from) - runs_);
    bool follows = run > runs_ && run[-1].to == from;
    uint64_t to = from + (follows ? std::min(run[-1].to - run[-1].from, GIVE_UP_MAX) : UNIT_SIZE);
    to = std::min(to, run < runs_ + runCount_ ? run->from : size_);
    if (++refusedReads_ > REFUSED_READS_MAX || (!follows && runCount_ == UNREADABLE_RUNS_MAX)) {
      unreadableFrom_ = std::min(unreadableFrom_, from);
    } else if (follows) {
      run[-1].to = to;
    } else {
      std::copy_backward(run, runs_ + runCount_, runs_ + runCount_ + 1);
      *run = Span{from, to};
      runCount_++;
    }
  }

  PlatformFile file_ = PLATFORM_FILE_INVALID;
  uint64_t size_ = 0;
  Block window_;
  uint64_t start_ = 0;
  uint32_t length_ = 0;
  Span runs_[UNREADABLE_RUNS_MAX];
  uint32_t runCount_ = 0;
  uint32_t refusedReads_ = 0;
  uint64_t unreadableFrom_ = 0;  // everything from here on counts as unreadable
};

struct Header {
  uint32_t unpackedSize;
  uint32_t packedSize;
  bool Stored() const { return unpackedSize == packedSize; }
};

class Walk {
 public:
  Walk(ArchiveBytes& bytes, SalvageVisitor& visitor) : bytes_(bytes), visitor_(visitor) {}

  void Run() {
    uint64_t size = bytes_.Size();
    uint64_t at = 0;
    while (at < size) {
      Header header{};
      if (!ReadHeader(at, &header)) {
        if (size - at < ENTRY_HEADER_SIZE) {
          visitor_.Skipped(SalvageRange{at, size - at, false});
          return;
        }
        uint64_t next = FindChain(at + 1);  // the header is there but cannot be read
        if (!TakeUnreadable(at, next)) return;
        at = next;
        continue;
      }
      uint64_t dataEnd = at + ENTRY_HEADER_SIZE + header.packedSize;
      if (dataEnd > size) {
        uint64_t next = FindChain(at + 1);
        if (next < size) {
          if (!TakeRange(at, header, next)) return;
          at = next;
          continue;
        }
        CutShort(at, header);
        return;
      }
      if (!Plausible(at)) {
        uint64_t next = FindChain(at + 1);
        if (!TakeRange(at, header, next)) return;
        at = next;
        continue;
      }
      SalvagedEntry entry;
      Block data;
      Whole(at, header, &entry, &data);
      bool trusted = entry.state == SalvageState::Sound || entry.unreadable;
      if (!trusted && !(dataEnd == size || Plausible(dataEnd) || CutShortHeader(dataEnd))) {
        // Its own data is bad and nothing sane follows: the header itself is
        // likely wrong. (Data that could not be read says nothing of it.)
        uint64_t next = FindChain(at + 1);
        if (!TakeRange(at, header, next)) return;
        at = next;
        continue;
      }
      if (!visitor_.Entry(entry)) return;
      number_++;
      at = dataEnd;
    }
  }

 private:
  bool ReadHeader(uint64_t at, Header* header) {
    const unsigned char* h = bytes_.At(at, ENTRY_HEADER_SIZE);
    if (h == nullptr) return false;
    *header = Header{LittleEndian32(h), LittleEndian32(h + 4)};
    return true;
  }

  bool Plausible(uint64_t at) {
    Header header{};
    if (!ReadHeader(at, &header)) return false;
    uint64_t dataStart = at + ENTRY_HEADER_SIZE;
    if (header.packedSize > bytes_.Size() - dataStart) return false;
    if (header.Stored()) return true;
    const unsigned char* magic = bytes_.At(dataStart, MAGIC_SIZE);
    return magic != nullptr && HasMagic(magic);
  }

  // A whole header whose data runs past the end of the file, and starts with
  // the magic when it is compressed and the file holds enough to tell.
  bool CutShortHeader(uint64_t at) {
    Header header{};
    if (!ReadHeader(at, &header)) return false;
    uint64_t dataStart = at + ENTRY_HEADER_SIZE;
    if (header.packedSize <= bytes_.Size() - dataStart) return false;
    if (header.Stored()) return true;
    const unsigned char* magic = bytes_.At(dataStart, MAGIC_SIZE);
    return magic == nullptr || HasMagic(magic);
  }

  // Whether the archive goes on at `at`: plausible headers three times in a
  // row, or up to the end of the file (exactly, or into a last entry cut
  // short). Each step reads one header and two bytes.
  bool ChainAt(uint64_t at) {
    uint64_t size = bytes_.Size();
    for (int links = 0; links < CHAIN_LENGTH; links++) {
      if (links > 0 && at == size) return true;
      if (!Plausible(at)) return links > 0 && CutShortHeader(at);
      Header header{};
      ReadHeader(at, &header);
      at += ENTRY_HEADER_SIZE + uint64_t(header.packedSize);
    }
    return true;
  }

  // Positions in what cannot be read are passed over at once: after a dead
  // stretch of the disk, byte by byte would take minutes.
  uint64_t FindChain(uint64_t from) {
    uint64_t size = bytes_.Size();
    for (uint64_t at = bytes_.ReadableFrom(from); at < size && size - at >= ENTRY_HEADER_SIZE;
         at = bytes_.ReadableFrom(at + 1)) {
      if (ChainAt(at)) return at;
    }
    return size;
  }

  SalvagedEntry Start(uint64_t at, const Header& header) const {
    SalvagedEntry entry{};
    entry.number = number_;
    entry.offset = at;
    entry.unpackedSize = header.unpackedSize;
    entry.packedSize = header.packedSize;
    entry.stored = header.Stored();
    entry.state = SalvageState::Lost;
    return entry;
  }

  // Decodes a stream of `length` bytes at offset into a zero-filled block of
  // `claim` bytes (or what fits of it). Fills recovered, bytes, tooLarge and
  // returns whether the stream was sound and filled the whole claim.
  bool DecodeStream(uint64_t offset, uint32_t length, uint32_t claim, bool cutShort, SalvagedEntry* entry,
                    Block* output) {
    Block stream;
    if (!stream.Allocate(length, false)) {
      entry->tooLarge = true;
      return false;
    }
    uint32_t got = bytes_.Read(offset, stream.Data(), length);
    if (got < length) {
      // For the decoder the stream ends at the first byte that could not be
      // read, as one cut short does: only what came before it counts.
      entry->unreadable = true;
      length = got;
      cutShort = true;
    }
    if (!output->Allocate(claim, true)) {
      entry->tooLarge = true;
      for (uint32_t fallback : FALLBACK_SIZES) {
        if (fallback < claim && output->Allocate(fallback, true)) break;
      }
      if (output->Data() == nullptr) return false;
    }
    StreamSalvage result;
    bool sound =
        DecodeCompressedStreamSalvage(stream.Data(), length, output->Data(), output->Size(), cutShort, &result);
    entry->bytes = output->Data();
    entry->recovered = result.decoded;
    return sound && result.written == claim && !entry->tooLarge;
  }

  static SalvageState StateOf(bool sound, uint32_t recovered, uint32_t complete) {
    if (recovered == 0 && complete != 0) return SalvageState::Lost;
    if (recovered < complete) return SalvageState::Partial;
    return sound ? SalvageState::Sound : SalvageState::Damaged;
  }

  // An entry whose data is all in the file.
  void Whole(uint64_t at, const Header& header, SalvagedEntry* entry, Block* data) {
    *entry = Start(at, header);
    uint64_t dataStart = at + ENTRY_HEADER_SIZE;
    if (header.Stored()) {
      if (!data->Allocate(header.packedSize, false)) {
        entry->tooLarge = true;
        return;
      }
      entry->bytes = data->Data();
      entry->recovered = bytes_.Read(dataStart, data->Data(), header.packedSize);
      entry->unreadable = entry->recovered < header.packedSize;
      entry->state = StateOf(true, entry->recovered, header.packedSize);
      return;
    }
    bool sound = DecodeStream(dataStart, header.packedSize, header.unpackedSize, false, entry, data);
    entry->state = StateOf(sound, entry->recovered, header.unpackedSize);
  }

  // A suspect header at `at`; the archive goes on at `next`.
  bool TakeRange(uint64_t at, const Header& header, uint64_t next) {
    visitor_.Skipped(SalvageRange{at, next - at, false});
    SalvagedEntry entry = Start(at, header);
    entry.rangeTaken = true;
    uint64_t dataStart = at + ENTRY_HEADER_SIZE;
    uint64_t length64 = next > dataStart ? next - dataStart : 0;
    uint32_t length = uint32_t(std::min<uint64_t>(length64, UINT32_MAX));
    const unsigned char* magic = bytes_.At(dataStart, STREAM_HEADER_SIZE);
    Block data;
    if (magic != nullptr && length >= STREAM_HEADER_SIZE && HasMagic(magic)) {
      // The stream's own size field says how much it decodes to.
      uint32_t claim = LittleEndian32(magic + 2);
      bool sound = DecodeStream(dataStart, length, claim, next == bytes_.Size(), &entry, &data);
      entry.state = StateOf(sound, entry.recovered, claim);
    } else if (data.Allocate(length, false)) {
      entry.bytes = data.Data();
      entry.recovered = bytes_.Read(dataStart, data.Data(), length);
      entry.unreadable = entry.recovered < length;
      entry.state = entry.recovered == 0                    ? SalvageState::Lost
                    : entry.recovered < header.unpackedSize ? SalvageState::Partial
                                                            : SalvageState::Damaged;
    } else {
      entry.tooLarge = true;
    }
    if (entry.state == SalvageState::Sound) entry.state = SalvageState::Damaged;  // its header was wrong
    if (!visitor_.Entry(entry)) return false;
    number_++;
    return true;
  }

  // A header at `at` that cannot be read; the archive goes on at `next`.
  // The range counts as one entry, lost, as a suspect header's does.
  bool TakeUnreadable(uint64_t at, uint64_t next) {
    visitor_.Skipped(SalvageRange{at, next - at, true});
    SalvagedEntry entry = Start(at, Header{0, 0});
    entry.stored = false;
    entry.rangeTaken = true;
    entry.unreadable = true;
    if (!visitor_.Entry(entry)) return false;
    number_++;
    return true;
  }

  // The last header, whose data runs past the end of the file.
  void CutShort(uint64_t at, const Header& header) {
    SalvagedEntry entry = Start(at, header);
    entry.cutShort = true;
    uint64_t dataStart = at + ENTRY_HEADER_SIZE;
    uint32_t length = uint32_t(bytes_.Size() - dataStart);
    Block data;
    const unsigned char* magic = bytes_.At(dataStart, STREAM_HEADER_SIZE);
    if (header.Stored()) {
      if (data.Allocate(length, false)) {
        entry.bytes = data.Data();
        entry.recovered = bytes_.Read(dataStart, data.Data(), length);
        entry.unreadable = entry.recovered < length;
      }
    } else if (magic != nullptr && HasMagic(magic)) {
      DecodeStream(dataStart, length, header.unpackedSize, true, &entry, &data);
    }
    entry.state = entry.recovered == 0 ? SalvageState::Lost : SalvageState::Partial;
    if (entry.recovered >= header.unpackedSize && entry.recovered != 0) entry.state = SalvageState::Damaged;
    visitor_.Entry(entry);
  }

  ArchiveBytes& bytes_;
  SalvageVisitor& visitor_;
  uint32_t number_ = 0;
};

}  // namespace

bool ArchiveSalvage(const char* path, SalvageVisitor& visitor) {
  if (path == nullptr) return false;
  ArchiveBytes bytes;
  if (!bytes.Open(path)) return false;
  Walk(bytes, visitor).Run();
  return true;
}
