// Repair of a compressed stream by its checksum. The commonest silent damage
// on old media is one flipped bit; a stream carries what proves its bytes
// (its exact decoded size and a 32-bit checksum over them), so each
// single-bit change of its packed bytes is tried, and one is accepted when
// the stream then decodes whole, exactly to its size, the checksum matching.
// Where two changes pass, nothing is repaired: both places are told.
//
// A stream without a checksum (field 0), and a stored entry, cannot be
// proven: nothing is repaired there. A false repair needs a wrong change
// whose bytes match the checksum by chance, and the checksum is weaker than
// its 32 bits: its words are added, so a difference never reaches the bits
// below its lowest one. Bytes that differ where the checksum's difference
// starts at bit L (24 for the top byte of a word) match by chance about once
// in 2^(32 - L); a change the checksum alone judges is one more chance. The
// chance of a false match told is those changes over 2^(32 - L)
// (RepairFalseMatchOneIn); a single change that passes with a chance above 1
// in REPAIR_ONE_IN_MIN is Unproven, not repaired.
//
// Cost: a try restarts from the state the first decoding had at the token
// before its bit, and stops as soon as it cannot pass: when it fails, or when
// it meets the first decoding again (same bit, same state) at another output
// position than would end at the size, or at the same one, where only the
// bytes it changed and what later copies take from them are checked, from
// the checksum's state kept before them against the state that the checksum
// field asks for after them. Tries run on `threads` threads. Memory: about
// 12 bytes per decoded byte and 32 per token of the first decoding, and the
// stream and its decoded bytes once more per thread.
//
// Single-byte changes (255 per byte) are not tried: they would make 32 times
// as many candidates, 32 times the time and a 32 times larger chance of a
// false match, for a kind of damage (a byte of bad memory, a misread sector
// leaves more than one) that one bit covers far more often than not.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "pack/archive.h"

// The field a repaired bit lies in.
enum class RepairField : uint8_t {
  Data,         // the bit stream
  Magic,        // the stream's first two bytes
  DecodedSize,  // the stream's decoded-size field
  Checksum,     // the stream's checksum field
};

struct RepairPlace {
  uint32_t byte;  // from the start of the stream
  uint8_t bit;    // 0 is the byte's lowest
  RepairField field;
};

enum class RepairOutcome : uint8_t {
  Repaired,    // exactly one change passes: places[0]
  Unproven,    // exactly one passes (places[0]), but the checksum proves too little there
  None,        // no single-bit change makes the stream whole
  Ambiguous,   // two changes (or more) pass: places[0] and places[1]; nothing repaired
  Unprovable,  // no checksum to prove a change by, or too large to try
  OutOfTime,   // the time allowed ran out before every change was tried
  Whole,       // the stream is whole as it stands
};

// The outcome in a word, as reports and the JSON give it ("repaired",
// "not tried").
const char* RepairOutcomeName(RepairOutcome outcome);

// A deadline shared by the repairs of one run: those beyond it are not tried.
class RepairBudget {
 public:
  using Clock = std::chrono::steady_clock;
  // seconds <= 0: no limit.
  explicit RepairBudget(double seconds = 0)
      : unlimited_(seconds <= 0),
        end_(Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds))) {}
  bool Spent() const { return !unlimited_ && Clock::now() >= end_; }

 private:
  bool unlimited_;
  Clock::time_point end_;
};

class WorkAhead;
struct RepairOptions {
  unsigned threads = 1;                  // the tries run on this many threads, the caller's among them
  const RepairBudget* budget = nullptr;  // null: no limit
  // For measuring what each saves (bench/repair_bench): a try restarts from
  // the step before its bit (else from the stream's start), and stops where
  // it meets the first decoding (else decodes to its end).
  bool checkpoints = true;
  bool meet = true;
  // The workers the other threads are taken from (pack/work_ahead.h); null:
  // an engine of the search's own, for threads.
  WorkAhead* engine = nullptr;
};

struct StreamRepair {
  RepairOutcome outcome = RepairOutcome::None;
  RepairPlace places[2] = {};
  uint64_t candidates = 0;  // single-bit changes covered: 8 per byte of the stream
  uint64_t compared = 0;    // of them, those the checksum alone judged
  unsigned proofBits = 32;  // the checksum's bits that can tell a change from another
  uint64_t falseMatchOneIn = 0;
};

// A repair is claimed only where a false match is less likely than this.
constexpr uint64_t REPAIR_ONE_IN_MIN = 1000;

// Streams larger than this are not tried (Unprovable): their decoded bytes
// and what a try keeps of them would not fit the memory the tool asks for.
constexpr uint32_t REPAIR_DECODED_MAX = uint32_t(64) << 20;

// Searches the single-bit changes of stream[0, size) for one that makes it
// decode whole to exactly `expectedSize` bytes (the entry's unpacked size;
// the stream's size field must say the same) with its checksum matching. A
// Repaired outcome has been confirmed by decoding the changed stream with
// DecodeCompressedStreamChecked.
StreamRepair RepairStream(const uint8_t* stream, uint32_t size, uint32_t expectedSize,
                          const RepairOptions& options = {});

// The stream with the change at `place` made.
void RepairApply(uint8_t* stream, const RepairPlace& place);

// N for "a chance of a false match below 1 in N": 2^proofBits over the
// changes compared, rounded down to one significant digit, as a person reads it.
uint64_t RepairFalseMatchOneIn(uint64_t compared, unsigned proofBits = 32);

// What a repaired archive entry gives: the search, and when it repaired,
// the entry's bytes decoded from the changed stream.
struct RepairedEntry {
  StreamRepair repair;
  uint64_t headerOffset = 0;
  uint64_t archiveByte = 0;  // the changed byte's offset in the archive file, when repaired
  std::vector<uint8_t> bytes;

  // Where a place of the stream lies in the archive file.
  uint64_t ArchiveByte(const RepairPlace& place) const { return headerOffset + ARCHIVE_HEADER_SIZE + place.byte; }
};

// Reads the compressed entry whose header starts at headerOffset in the
// archive at path (its sizes as given) and repairs its stream. False when
// the file cannot be read there or the entry is not a compressed one.
bool RepairArchiveEntry(const char* path, uint64_t headerOffset, uint32_t unpackedSize, uint32_t packedSize,
                        const RepairOptions& options, RepairedEntry* result);
