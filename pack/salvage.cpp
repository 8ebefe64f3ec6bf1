#include "pack/salvage.h"

#include <algorithm>
#include <cstring>

#include "pack/archive_bytes.h"
#include "pack/decoder.h"

namespace {

constexpr uint32_t ENTRY_HEADER_SIZE = 8;
constexpr uint32_t MAGIC_SIZE = 2;
// Plausible headers in a row that make a chain the archive goes on with.
constexpr int CHAIN_LENGTH = 3;
// How far a search goes between the calls that say how far it is.
constexpr uint64_t SEARCH_SAID_EVERY = 1u << 20;
// When a claimed size cannot be held, what fits is decoded: these in turn.
constexpr uint32_t FALLBACK_SIZES[] = {256u << 20, 64u << 20, 16u << 20};

uint32_t LittleEndian32(const unsigned char* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

bool HasMagic(const unsigned char* at) {
  return (at[0] | at[1] << 8) == STREAM_MAGIC;
}

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
        if (!TakeRange(at, Header{0, 0}, next, true)) return;
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
    uint64_t said = from;
    for (uint64_t at = bytes_.ReadableFrom(from); at < size && size - at >= ENTRY_HEADER_SIZE;
         at = bytes_.ReadableFrom(at + 1)) {
      if (ChainAt(at)) return at;
      if (at - said >= SEARCH_SAID_EVERY) {
        visitor_.Searching(at);
        said = at;
      }
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

  // Bytes taken as they are into `data`: around what cannot be read, which
  // the entry's holes say. False when `length` bytes cannot be held.
  bool ReadStored(uint64_t offset, uint32_t length, SalvagedEntry* entry, Block* data) {
    if (!data->Allocate(length, false)) {
      entry->tooLarge = true;
      return false;
    }
    entry->bytes = data->Data();
    entry->recovered = bytes_.ReadAround(offset, data->Data(), length, holes_);
    entry->holes = holes_.begin();
    entry->holeCount = holes_.Count();
    entry->unreadable = entry->recovered < length || entry->holeCount > 0;
    return true;
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
      if (ReadStored(dataStart, header.packedSize, entry, data)) {
        entry->state = StateOf(true, entry->FromFile(), header.packedSize);
      }
      return;
    }
    bool sound = DecodeStream(dataStart, header.packedSize, header.unpackedSize, false, entry, data);
    entry->state = StateOf(sound, entry->recovered, header.unpackedSize);
  }

  // A suspect header at `at`, or one that cannot be read (its sizes then
  // 0); the archive goes on at `next`. The range counts as one entry: the
  // bytes after the header are its data as they are, or as a stream when
  // one starts there (most often the data of the one entry whose header
  // that was).
  bool TakeRange(uint64_t at, const Header& header, uint64_t next, bool unread = false) {
    visitor_.Skipped(SalvageRange{at, next - at, unread});
    SalvagedEntry entry = Start(at, header);
    entry.rangeTaken = true;
    entry.sizeUnknown = unread;
    entry.stored = entry.stored && !unread;
    uint64_t dataStart = at + ENTRY_HEADER_SIZE;
    uint64_t length64 = next > dataStart ? next - dataStart : 0;
    uint32_t length = uint32_t(std::min<uint64_t>(length64, UINT32_MAX));
    const unsigned char* magic = bytes_.At(dataStart, STREAM_HEADER_SIZE);
    Block data;
    if (magic != nullptr && length >= STREAM_HEADER_SIZE && HasMagic(magic)) {
      // The stream's own size field says how much it decodes to.
      uint32_t claim = LittleEndian32(magic + 2);
      if (unread) {
        entry.unpackedSize = claim;
        entry.sizeUnknown = false;
      }
      bool sound = DecodeStream(dataStart, length, claim, next == bytes_.Size(), &entry, &data);
      entry.state = StateOf(sound, entry.recovered, claim);
    } else if (ReadStored(dataStart, length, &entry, &data)) {
      uint32_t fromFile = entry.FromFile();
      entry.state = fromFile == 0                              ? SalvageState::Lost
                    : unread || fromFile < header.unpackedSize ? SalvageState::Partial
                                                               : SalvageState::Damaged;
    }
    // Its header was wrong, or is not known.
    if (entry.state == SalvageState::Sound) entry.state = SalvageState::Damaged;
    entry.unreadable = entry.unreadable || unread;
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
      ReadStored(dataStart, length, &entry, &data);
    } else if (magic != nullptr && HasMagic(magic)) {
      DecodeStream(dataStart, length, header.unpackedSize, true, &entry, &data);
    }
    uint32_t fromFile = entry.FromFile();
    entry.state = fromFile == 0 ? SalvageState::Lost : SalvageState::Partial;
    if (fromFile >= header.unpackedSize && fromFile != 0) entry.state = SalvageState::Damaged;
    visitor_.Entry(entry);
  }

  ArchiveBytes& bytes_;
  SalvageVisitor& visitor_;
  uint32_t number_ = 0;
  GrowingTable<SalvageHole> holes_{ArchiveBytes::UNREADABLE_RUNS_MAX + 1};  // a hole per run, and one after them
};

}  // namespace

bool ArchiveSalvage(const char* path, SalvageVisitor& visitor, SalvageReads reads) {
  if (path == nullptr) return false;
  ArchiveBytes bytes(reads, &visitor);
  if (!bytes.Open(path)) return false;
  Walk(bytes, visitor).Run();
  visitor.Ended(bytes.Untried());
  return true;
}
