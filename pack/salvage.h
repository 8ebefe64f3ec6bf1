// Salvage of a damaged pack archive: every entry that still has bytes in the
// file, whatever came before it. Where the reader stops at the first damage,
// this walk goes on past it.
//
// A header is plausible when its data fits in the file and, for a compressed
// entry, starts with the stream magic. A header is suspect when it is not
// plausible, or when its own entry does not decode soundly and the header
// after it is not plausible either (the end of the file, or a last entry cut
// short, counts as plausible there). From a suspect header the walk searches
// forward, byte by byte, for the first position where plausible headers
// follow one another three times, or up to the end of the file (exactly, or
// into a last entry cut short), and goes on there. The bytes between the
// suspect header and that position are taken as its entry's data; the walk
// counts the range as one entry, so the entries after it keep their numbers
// when that is what it held.
//
// Zeros are the most common damage (a crash, a remapped sector), and eight
// of them read as an empty entry. A run of empty headers is taken as empty
// entries only as far as the index has rows left for them (see
// SalvageVisitor::Expected), and only when a plausible header or the end
// follows the whole run (zeros over a header and into its data are one
// damaged entry, not empty files); otherwise its first header is suspect,
// whose range is lost, and a chain the search finds never starts at an
// empty header.
// A range that holds a stream decoding whole to its own size, with its
// checksum matching, is a sound entry whose header was wrong. A last header whose data runs past the end of
// the file is a last entry cut short, unless such a chain follows it: then it
// is suspect.
//
// A read that the system refuses (a failing disk) costs only the units of
// the file it touches (see SalvageReads for a large bad area): a header
// there cannot be read, and the walk searches on past it as from a suspect
// one (the range's entry has no sizes). A compressed entry's data ends at
// the first byte that cannot be read, as if the file were cut short there;
// bytes taken as they are (a stored entry's, a range's) go on after it, with
// zeros in the holes it leaves.
//
// The search reads each byte of the file a bounded number of times, and an
// entry costs what its bytes give: a header's claim alone is never touched.
#pragma once

#include <cstdint>

enum class SalvageState {
  Sound,     // complete; its checksum matched or it has none
  Damaged,   // complete size, but its checksum fails or its stream is bad after the end
  Partial,   // fewer bytes than its unpacked size
  Lost,      // nothing recovered
  Repaired,  // complete after a repair by the checksum (pack/repair.h); the walk itself never gives it
};

// Bytes of a stored entry that could not be read: zeros in its bytes.
struct SalvageHole {
  uint32_t offset;  // from the start of the entry's bytes
  uint32_t length;
};

struct SalvagedEntry {
  uint32_t number;        // its place; an entry taken from a suspect range counts as one
  uint64_t offset;        // where its header starts in the file
  uint32_t unpackedSize;  // as its header claims
  uint32_t packedSize;
  bool stored;
  bool cutShort;        // its data runs past the end of the file
  bool rangeTaken;      // its header was suspect: its data is the bytes up to where the archive goes on
  bool tooLarge;        // its bytes could not be held whole in memory; what fitted was decoded
  bool unreadable;      // a read of the file failed: its header, or some of its data
  bool sizeUnknown;     // its header could not be read nor its data tell: sizes 0, its bytes the range's as they are
  bool zeroed;          // its header starts a run of zeros longer than the index has empty entries for
  bool headerRepaired;  // rangeTaken, yet Sound: its stream decoded whole to its own size, checksum
                        // matching; the sizes above are then the stream's and the range's
  bool checked;         // compressed and whole, its stream's checksum present and matching
  // Sound, but its header claimed claimedPackedSize bytes of data where its
  // stream ends after streamEnds, and the archive goes on there.
  bool sizeClaimWrong;
  uint32_t claimedPackedSize;
  uint32_t streamEnds;
  SalvageState state;
  const unsigned char* bytes;  // what was recovered, valid during the call only
  uint32_t recovered;          // how many, holes included
  const SalvageHole* holes;    // in order, each before the last byte recovered; valid during the call only
  uint32_t holeCount;

  // The recovered bytes that came from the file.
  uint32_t FromFile() const {
    uint32_t missing = 0;
    for (uint32_t i = 0; i < holeCount; i++) missing += holes[i].length;
    return recovered - missing;
  }
};

// Bytes the walk passed over: a suspect header and the range taken for its
// entry, or 1 to 7 stray bytes at the end.
struct SalvageRange {
  uint64_t offset;
  uint64_t length;
  bool unreadable;  // the header there could not be read
  bool zeros;       // a run of zeros too long to be the empty entries the index has rows for
};

// Empty entries in a row that a run of zeros may stand for where the index
// cannot say how many entries there are (it is damaged, or not read yet). A
// zeroed sector holds 64 empty headers, a zeroed 4 KiB block 512; a real
// archive rarely holds more than a few empty files in a row, and one whose
// index is damaged is reported as damaged anyway.
constexpr uint32_t SALVAGE_EMPTY_RUN_UNKNOWN = 16;
// How many entries the archive's index accounts for (its rows: entry 0 is
// the index), as far as the visitor knows from entry 0.
struct SalvageExpected {
  bool known;    // false before entry 0, or when it gave no rows at all
  bool certain;  // false when entries is only a lower bound (a damaged index)
  uint64_t entries;
};

class SalvageVisitor {
 public:
  virtual ~SalvageVisitor() = default;
  // Every entry in order, Lost ones included. False ends the walk.
  virtual bool Entry(const SalvagedEntry& entry) = 0;
  // Called before the entry taken from the range, or at the end for stray bytes.
  virtual void Skipped(const SalvageRange& range) = 0;
  // Now and then during a long search: how far it has come in the file.
  virtual void Searching(uint64_t) {}
  // Each time the disk refuses a read of a unit not known to be bad (on a
  // failing disk a slow read): where the unit starts. A bad area asked for
  // unit by unit says each, so that a long one does not look like a hang.
  virtual void Refused(uint64_t) {}
  // At the end of the walk: how many bytes of the file were given up
  // without a read (bad areas passed in stretches, and past the limits on
  // them; SalvageReads::EveryUnit asks for every unit).
  virtual void Ended(uint64_t) {}
  // Asked when the walk meets a run of empty headers (zeros): a run longer
  // than the rows left for it is damage, not empty files.
  virtual SalvageExpected Expected() { return SalvageExpected{false, false, 0}; }
};

// How the walk meets a bad area of the disk. Stretches: a large one is
// given up in stretches that double and its end then narrowed down by
// halves, so that a dead disk costs a few dozen of its slow refused reads;
// a readable unit between two bad ones can be given up with them. EveryUnit:
// every unit is asked for, and so every one that reads is recovered, at one
// refused read for each that does not, with no limit on them.
enum class SalvageReads { Stretches, EveryUnit };

// Walks the archive at path. False when it cannot be opened or its size
// cannot be had; true when the walk reached the end of the file or the
// visitor ended it. engine: one with workers decodes entries ahead of the
// walk on them (up to 256 MiB of them in flight); the visitor is called on
// the calling thread alone, and with the same entries and bytes for any
// number of workers. Their reads may add a refused read or two
// before the walk meets a bad area (then it reads alone), so with
// SalvageReads::EveryUnit, where each slow read counts, the walk is alone.
class WorkAhead;
bool ArchiveSalvage(const char* path, SalvageVisitor& visitor, SalvageReads reads = SalvageReads::Stretches,
                    WorkAhead* engine = nullptr);
// The same over an archive object of pack/archive_file.h that is open
// already (its file is not opened again); false when there is no memory for
// the walk's window. The walk reads the file as it is now, to the size it
// had when it was opened.
struct ArchiveFile;
bool ArchiveSalvageOf(const ArchiveFile* archive, SalvageVisitor& visitor, SalvageReads reads = SalvageReads::Stretches,
                      WorkAhead* engine = nullptr);
