#include "pack/salvage.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "pack/archive_bytes.h"
#include "pack/archive_file.h"
#include "pack/decoder.h"
#include "pack/entry_header.h"
#include "pack/entry_verdict.h"
#include "pack/salvage_ahead.h"
#include "pack/size_claim.h"

namespace {

constexpr uint32_t MAGIC_SIZE = 2;
// Plausible headers in a row that make a chain the archive goes on with.
constexpr int CHAIN_LENGTH = 3;
// How far a search goes between the calls that say how far it is.
constexpr uint64_t SEARCH_SAID_EVERY = 1u << 20;
// When a claimed size cannot be held, what fits is decoded: these in turn.
constexpr uint32_t FALLBACK_SIZES[] = {256u << 20, 64u << 20, 16u << 20};
// Headers followed to see whether they tile a suspect range exactly.
constexpr uint32_t TILES_MAX = 64;

using Header = EntryHeader;

// What a header looks like where it stands.
enum class Looks {
  Unread,     // it cannot be read, or the file ends before it does
  Plausible,  // its data fits in the file and, compressed, starts with the stream magic
  CutShort,   // its data runs past the end of the file and, compressed, starts
              // with the magic when the file holds enough to tell
  Implausible,
};

// The walk's rules: why it searches on from a header.
enum class Suspect {
  None,
  Unread,       // the header cannot be read
  PastEnd,      // its data runs past the end: the last entry cut short, unless the archive goes on after it
  Implausible,  // its data does not fit, or does not start a stream
  Zeros,        // it starts a run of zeros longer than the index has empty entries for
  Alone,        // its own entry is bad and nothing plausible follows it
};

// Decodes a stream of `length` bytes at offset into a zero-filled block of
// `claim` bytes (or what fits of it). Fills recovered, bytes, tooLarge and
// returns whether the stream was sound and filled the whole claim. The
// stream is read into `scratch` when given (kept for the next, grown when
// too small), otherwise into memory held for the call.
bool DecodeStream(SalvageSource& source, uint64_t offset, uint32_t length, uint32_t claim, bool cutShort,
                  SalvagedEntry* entry, Block* output, Block* scratch = nullptr) {
  Block own;
  Block& stream = scratch != nullptr ? *scratch : own;
  if ((stream.Data() == nullptr || stream.Size() < length) && !stream.Allocate(length, false)) {
    entry->tooLarge = true;
    return false;
  }
  uint32_t got = source.Read(offset, stream.Data(), length);
  if (got < length) {
    // For the decoder the stream ends at the first byte that could not be
    // read, as one cut short does: only what came before it counts.
    entry->unreadable = true;
    length = got;
    cutShort = true;
  }
  // A block of an entry before (kept by a thread that decodes ahead) is
  // used again when it holds the claim.
  if (output->Data() != nullptr && output->Size() >= claim) {
    memset(output->Data(), 0, claim);
  } else if (!output->Allocate(claim, true)) {
    entry->tooLarge = true;
    for (uint32_t fallback : FALLBACK_SIZES) {
      if (fallback < claim && output->Allocate(fallback, true)) break;
    }
    if (output->Data() == nullptr) return false;
  }
  EntryVerdict verdict = DecodeEntryStream(stream.Data(), length, output->Data(), output->Size(), claim, cutShort);
  entry->bytes = output->Data();
  entry->recovered = verdict.decoded;
  entry->checked = verdict.checked;
  return verdict.whole;
}

// Bytes taken as they are into `data`: around what cannot be read, which
// the entry's holes say. False when `length` bytes cannot be held.
bool ReadStored(SalvageSource& source, uint64_t offset, uint32_t length, SalvagedEntry* entry, Block* data,
                GrowingTable<SalvageHole>& holes) {
  if ((data->Data() == nullptr || data->Size() < length) && !data->Allocate(length, false)) {
    entry->tooLarge = true;
    return false;
  }
  entry->bytes = data->Data();
  entry->recovered = source.ReadAround(offset, data->Data(), length, holes);
  entry->holes = holes.begin();
  entry->holeCount = holes.Count();
  entry->unreadable = entry->recovered < length || entry->holeCount > 0;
  return true;
}

SalvageState StateOf(bool sound, uint32_t recovered, uint32_t complete) {
  if (recovered == 0 && complete != 0) return SalvageState::Lost;
  if (recovered < complete) return SalvageState::Partial;
  return sound ? SalvageState::Sound : SalvageState::Damaged;
}

}  // namespace

void SalvageWhole(SalvageSource& source, uint64_t at, const EntryHeader& header, SalvagedEntry* entry, Block* data,
                  GrowingTable<SalvageHole>& holes, Block* scratch) {
  *entry = SalvagedEntry{};
  entry->offset = at;
  entry->unpackedSize = header.unpackedSize;
  entry->packedSize = header.packedSize;
  entry->stored = header.Stored();
  entry->state = SalvageState::Lost;
  uint64_t dataStart = at + ARCHIVE_HEADER_SIZE;
  if (header.Stored()) {
    if (ReadStored(source, dataStart, header.packedSize, entry, data, holes)) {
      entry->state = StateOf(true, entry->FromFile(), header.packedSize);
    }
    return;
  }
  bool sound = DecodeStream(source, dataStart, header.packedSize, header.unpackedSize, false, entry, data, scratch);
  entry->state = StateOf(sound, entry->recovered, header.unpackedSize);
}

namespace {

class Walk {
 public:
  // ahead: entries decoded ahead on other threads (may be null).
  Walk(ArchiveBytes& bytes, SalvageVisitor& visitor, SalvageAhead* ahead)
      : bytes_(bytes), visitor_(visitor), ahead_(ahead) {}

  void Run() {
    const uint64_t size = bytes_.Size();
    for (uint64_t at = 0; at < size;) {
      if (size - at < ARCHIVE_HEADER_SIZE) {  // stray bytes at the end
        visitor_.Skipped(SalvageRange{at, size - at, false, false});
        return;
      }
      Header header{};
      SalvagedEntry entry;
      Block data;
      Suspect why = Judge(at, &header, &entry, &data);
      if (why != Suspect::None) {
        at = SearchOn(at, header, why, &entry);
      } else {
        at = Deliver(entry) ? at + ARCHIVE_HEADER_SIZE + header.packedSize : size;
      }
    }
  }

 private:
  // The rule that makes the header at `at` suspect, in the order they are
  // asked; None when its entry stands: then *entry is it, its bytes in *data.
  Suspect Judge(uint64_t at, Header* header, SalvagedEntry* entry, Block* data) {
    const uint64_t size = bytes_.Size();
    if (!ReadHeader(at, header)) return Suspect::Unread;
    uint64_t dataEnd = at + ARCHIVE_HEADER_SIZE + header->packedSize;
    if (dataEnd > size) return Suspect::PastEnd;
    if (Check(at, header) != Looks::Plausible) return Suspect::Implausible;
    // Zeros where the index has no rows left for empty entries: damage (a
    // zeroed sector or block), one entry's worth.
    if (header->Empty() && at >= emptyUntil_ && !EmptyRunFits(at)) return Suspect::Zeros;
    if (!Ahead() || !ahead_->Take(at, *header, entry)) SalvageWhole(bytes_, at, *header, entry, data, holes_);
    entry->number = number_;
    Ahead();
    // An empty entry's header says nothing of itself: what follows it must.
    // (Data that could not be read says nothing of it.)
    bool trusted = (entry->state == SalvageState::Sound && !header->Empty()) || entry->unreadable;
    // The end follows, or a header; after an empty entry stray bytes too.
    bool followed = dataEnd == size || (header->Empty() && size - dataEnd < ARCHIVE_HEADER_SIZE) || Follows(dataEnd);
    if (!followed && entry->state == SalvageState::Sound && !header->Stored() && StreamEndsBefore(at, header, entry))
      return Suspect::None;
    return trusted || followed ? Suspect::None : Suspect::Alone;
  }

  // A sound stream whose header claims more bytes than it holds, with the
  // archive going on where the stream ends: the header's packed size is
  // wrong, the entry whole, and the walk goes on there (*header then says
  // so). The next header is not taken for damage of its own.
  bool StreamEndsBefore(uint64_t at, Header* header, SalvagedEntry* entry) {
    if (header->unpackedSize > ARCHIVE_SIZE_CLAIM_MAX || header->packedSize < STREAM_HEADER_SIZE) return false;
    uint64_t dataStart = at + ARCHIVE_HEADER_SIZE;
    uint32_t length = header->packedSize;
    Block stream;
    if (!stream.Allocate(length, false) || bytes_.Read(dataStart, stream.Data(), length) != length) return false;
    uint32_t end = ProvenStreamEnd(stream.Data(), length, header->unpackedSize);
    if (end == 0 || ClaimAgrees(header->packedSize, end)) return false;
    // The packer may have kept the zero bytes that fill its last word.
    for (uint32_t next = end; next < header->packedSize && ClaimAgrees(next, end); next++) {
      if (!Follows(dataStart + next)) continue;
      entry->sizeClaimWrong = true;
      entry->claimedPackedSize = header->packedSize;
      entry->streamEnds = next;
      header->packedSize = next;
      return true;
    }
    return false;
  }

  // Whether a header that holds up stands at `at`: plausible, or a last one
  // cut short.
  bool Follows(uint64_t at, bool far = false) {
    Header header{};
    Looks looks = Check(at, &header, far);
    return looks == Looks::Plausible || looks == Looks::CutShort;
  }

  // The one way on from a suspect header at `at`: the search finds where the
  // archive goes on, and the bytes up to there are taken as one entry; a
  // header alone whose range its headers tile gives those entries (`own`
  // the first). A header whose data runs past the end with no archive after
  // it is the last entry, cut short. Returns where the walk goes on: the size
  // when it ends (there, or as the visitor asked).
  uint64_t SearchOn(uint64_t at, const Header& header, Suspect why, const SalvagedEntry* own) {
    const uint64_t size = bytes_.Size();
    uint64_t next = FindChain(at + 1);
    if (why == Suspect::PastEnd && next == size) {
      CutShort(at, header);
      return size;
    }
    uint32_t tiles = why == Suspect::Alone ? Tiles(at, next) : 0;
    bool goOn = tiles >= 2 ? TakeTiles(at, tiles, own) : TakeRange(at, header, next, why);
    return goOn ? next : size;
  }

  // Whether entries decoded ahead may still be taken: not once a read of
  // the walk was refused, where its rules for bad areas read otherwise than
  // a plain read does.
  bool Ahead() {
    if (ahead_ != nullptr && !bytes_.AllRead()) {
      ahead_->Stop();
      ahead_ = nullptr;
    }
    return ahead_ != nullptr;
  }

  // Hands an entry to the visitor; false when it ends the walk.
  bool Deliver(const SalvagedEntry& entry) {
    if (!visitor_.Entry(entry)) return false;
    number_++;
    return true;
  }

  // far: the bytes may lie anywhere ahead of where the walk reads (a chain's
  // later links), so they are probed without moving the window.
  const unsigned char* BytesAt(uint64_t at, uint32_t n, bool far) {
    return far ? bytes_.Peek(at, n) : bytes_.At(at, n);
  }

  bool ReadHeader(uint64_t at, Header* header, bool far = false) {
    const unsigned char* h = BytesAt(at, ARCHIVE_HEADER_SIZE, far);
    if (h == nullptr) return false;
    *header = EntryHeaderFrom(h);
    return true;
  }

  // *header is the header at `at` when it can be read. cutShortToo: a
  // header whose data runs past the end is told CutShort by its magic;
  // otherwise it is Implausible at once, at no read (a chain does not
  // start at one, and a window moved for its magic would be moved back).
  Looks Check(uint64_t at, Header* header, bool far = false, bool cutShortToo = true) {
    if (!ReadHeader(at, header, far)) return Looks::Unread;
    uint64_t dataStart = at + ARCHIVE_HEADER_SIZE;
    bool fits = header->packedSize <= bytes_.Size() - dataStart;
    if (!fits && !cutShortToo) return Looks::Implausible;
    if (header->Stored()) return fits ? Looks::Plausible : Looks::CutShort;
    const unsigned char* magic = BytesAt(dataStart, MAGIC_SIZE, far);
    if (fits) return magic != nullptr && StartsStream(magic) ? Looks::Plausible : Looks::Implausible;
    return magic == nullptr || StartsStream(magic) ? Looks::CutShort : Looks::Implausible;
  }

  // Whether the run of empty headers from `at` (zeros, 8 bytes each) is as
  // many empty entries as the index leaves room for; when the index cannot
  // tell, SALVAGE_EMPTY_RUN_UNKNOWN at most (or its rows left, when more). A run
  // that fits is not asked about again.
  bool EmptyRunFits(uint64_t at) {
    SalvageExpected expected = visitor_.Expected();
    uint64_t left = expected.known && expected.entries > number_ ? expected.entries - number_ : 0;
    uint64_t allowed = expected.known && expected.certain ? left : std::max<uint64_t>(left, SALVAGE_EMPTY_RUN_UNKNOWN);
    uint64_t limit = std::min(bytes_.Size(), at + (allowed + 1) * ARCHIVE_HEADER_SIZE);
    uint64_t end = at;
    for (const unsigned char* b; end < limit && (b = bytes_.At(end, 1)) != nullptr && *b == 0;) end++;
    uint64_t run = (end - at) / ARCHIVE_HEADER_SIZE;
    if (run > allowed) return false;
    // Zeros over a header and into the data after it read as empty entries
    // too: a run is empty files only where the archive goes on right after
    // it (or ends), otherwise it is one damaged entry's worth, and the
    // entries after it keep their numbers.
    uint64_t after = at + run * ARCHIVE_HEADER_SIZE;
    if (bytes_.Size() - after >= ARCHIVE_HEADER_SIZE && !Follows(after, true)) return false;
    emptyUntil_ = after;
    return true;
  }

  // Whether the archive goes on at `at`: plausible headers three times in a
  // row, or up to the end of the file (exactly, or into a last entry cut
  // short). Each step reads one header and two bytes.
  // A chain does not start at an empty header: zeros read as a chain of them
  // anywhere.
  bool ChainAt(uint64_t at) {
    uint64_t size = bytes_.Size();
    for (int links = 0; links < CHAIN_LENGTH; links++) {
      bool far = links > 0;
      if (far && at == size) return true;
      Header header{};
      Looks looks = Check(at, &header, far, far);
      if (looks != Looks::Plausible) return far && looks == Looks::CutShort;
      if (!far && header.Empty()) return false;
      at += ARCHIVE_HEADER_SIZE + uint64_t(header.packedSize);
    }
    return true;
  }

  // How many entries the headers from `at` on hold when they lead exactly
  // to `next` (0 when they do not, within TILES_MAX). Two damaged entries in
  // a row (the second's data not a stream) make one range for the search;
  // their headers, when they add up, say that it holds two, so that the
  // entries after it keep their numbers.
  uint32_t Tiles(uint64_t at, uint64_t next) {
    for (uint32_t count = 0; count < TILES_MAX; count++) {
      if (at == next) return count;
      Header header{};
      if (at > next || !ReadHeader(at, &header, true)) return 0;
      at += ARCHIVE_HEADER_SIZE + uint64_t(header.packedSize);
    }
    return 0;
  }

  // The entries of a range that their headers tile: each as its header says
  // (the first one is `first`, read already).
  bool TakeTiles(uint64_t at, uint32_t tiles, const SalvagedEntry* first) {
    for (uint32_t i = 0; i < tiles; i++) {
      SalvagedEntry entry;
      Block data;
      Header header{};
      ReadHeader(at, &header);
      if (i == 0) {
        entry = *first;
      } else {
        SalvageWhole(bytes_, at, header, &entry, &data, holes_);
        entry.number = number_;
      }
      if (!Deliver(entry)) return false;
      at += ARCHIVE_HEADER_SIZE + uint64_t(header.packedSize);
    }
    return true;
  }

  // Positions in what cannot be read are passed over at once: after a dead
  // stretch of the disk, byte by byte would take minutes.
  uint64_t FindChain(uint64_t from) {
    uint64_t size = bytes_.Size();
    uint64_t said = from;
    for (uint64_t at = bytes_.ReadableFrom(from); at < size && size - at >= ARCHIVE_HEADER_SIZE;
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

  // A suspect header at `at`, or one that cannot be read (its sizes then
  // 0); the archive goes on at `next`. The range counts as one entry: the
  // bytes after the header are its data as they are, or as a stream when
  // one starts there (most often the data of the one entry whose header
  // that was).
  // Of zeros the entry is lost but for a stream that starts right after
  // the header.
  bool TakeRange(uint64_t at, const Header& header, uint64_t next, Suspect why) {
    const bool unread = why == Suspect::Unread, zeros = why == Suspect::Zeros;
    visitor_.Skipped(SalvageRange{at, next - at, unread, zeros});
    SalvagedEntry entry = Start(at, header);
    entry.rangeTaken = true;
    entry.zeroed = zeros;
    // An empty header before data is no claim of a size either.
    bool noClaim = unread || header.Empty();
    entry.sizeUnknown = noClaim;
    entry.stored = entry.stored && !noClaim;
    uint64_t dataStart = at + ARCHIVE_HEADER_SIZE;
    uint64_t length64 = next > dataStart ? next - dataStart : 0;
    uint32_t length = uint32_t(std::min<uint64_t>(length64, UINT32_MAX));
    const unsigned char* magic = bytes_.At(dataStart, STREAM_HEADER_SIZE);
    Block data;
    bool repaired = false;
    if (magic != nullptr && length >= STREAM_HEADER_SIZE && StartsStream(magic)) {
      // The stream's own size field says how much it decodes to.
      uint32_t claim = LittleEndian32(magic + MAGIC_SIZE);
      if (noClaim) {
        entry.unpackedSize = claim;
        entry.sizeUnknown = false;
      }
      bool sound = DecodeStream(bytes_, dataStart, length, claim, next == bytes_.Size(), &entry, &data);
      entry.state = StateOf(sound, entry.recovered, claim);
      // Decoded whole to its own size with its checksum matching: the bytes
      // are the entry's, only its header was wrong.
      repaired = entry.state == SalvageState::Sound && entry.checked;
      if (repaired) {  // the header as it should have been
        // Only its packed size was wrong: the walk had looked for the next
        // header in the wrong place.
        entry.sizeClaimWrong = !noClaim && header.unpackedSize == claim && !header.Stored();
        entry.claimedPackedSize = header.packedSize;
        entry.streamEnds = length;
        entry.unpackedSize = claim;
        entry.packedSize = length;
        entry.stored = false;
      }
    } else if (!zeros && ReadStored(bytes_, dataStart, length, &entry, &data, holes_)) {
      uint32_t fromFile = entry.FromFile();
      entry.state = fromFile == 0                               ? SalvageState::Lost
                    : noClaim || fromFile < header.unpackedSize ? SalvageState::Partial
                                                                : SalvageState::Damaged;
    }
    entry.headerRepaired = repaired;
    // Otherwise its header was wrong, or is not known.
    if (entry.state == SalvageState::Sound && !repaired) entry.state = SalvageState::Damaged;
    entry.unreadable = entry.unreadable || unread;
    return Deliver(entry);
  }

  // The last header, whose data runs past the end of the file.
  void CutShort(uint64_t at, const Header& header) {
    SalvagedEntry entry = Start(at, header);
    entry.cutShort = true;
    uint64_t dataStart = at + ARCHIVE_HEADER_SIZE;
    uint32_t length = uint32_t(bytes_.Size() - dataStart);
    Block data;
    const unsigned char* magic = bytes_.At(dataStart, STREAM_HEADER_SIZE);
    if (header.Stored()) {
      ReadStored(bytes_, dataStart, length, &entry, &data, holes_);
    } else if (magic != nullptr && StartsStream(magic)) {
      DecodeStream(bytes_, dataStart, length, header.unpackedSize, true, &entry, &data);
    }
    uint32_t fromFile = entry.FromFile();
    entry.state = fromFile == 0 ? SalvageState::Lost : SalvageState::Partial;
    if (fromFile >= header.unpackedSize && fromFile != 0) entry.state = SalvageState::Damaged;
    Deliver(entry);
  }

  ArchiveBytes& bytes_;
  SalvageVisitor& visitor_;
  SalvageAhead* ahead_;
  uint32_t number_ = 0;
  uint64_t emptyUntil_ = 0;                                    // the empty headers before this fit the index
  GrowingTable<SalvageHole> holes_{BadAreaMap::RUNS_MAX + 1};  // a hole per run, and one after them
};

}  // namespace

bool ArchiveSalvage(const char* path, SalvageVisitor& visitor, SalvageReads reads, WorkAhead* engine) {
  ArchiveFile* archive = ArchiveFileOpen(path, ARCHIVE_WALK_NONE);
  if (archive == nullptr) return false;
  bool walked = ArchiveSalvageOf(archive, visitor, reads, engine);
  ArchiveFileClose(archive);
  return walked;
}

bool ArchiveSalvageOf(const ArchiveFile* archive, SalvageVisitor& visitor, SalvageReads reads, WorkAhead* engine) {
  ArchiveBytes bytes(reads, &visitor);
  if (!bytes.Open(archive)) return false;
  std::unique_ptr<SalvageAhead> ahead;
  if (engine != nullptr && engine->Workers() > 0 && reads == SalvageReads::Stretches)
    ahead = std::make_unique<SalvageAhead>(bytes.Handle(), bytes.Size(), *engine);
  Walk(bytes, visitor, ahead.get()).Run();
  ahead.reset();
  visitor.Ended(bytes.Untried());
  return true;
}
