// The decoded bytes of compressed entries, for the mount: decoded once,
// shared by every reader of the entry, and kept after the last one is done
// while they fit the budget (least recently used out first). The budget
// bounds every decoded byte in memory, those of open files included: an
// entry that does not fit beside what readers still hold is decoded into an
// unnamed temporary file instead, which goes away with its last reader.
// Stored entries never come here: they are read in place
// (ArchiveFileReadEntryData).
//
// A large entry that fits in memory is decoded on a worker of the mount's
// engine (pack/work_ahead.h), and its readers take each byte as soon as the
// decoding has made it final, so that a file read from its start costs one
// decode, not a decode and then the reading.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <mutex>

#include "pack/archive_file.h"
#include "pack/decoder.h"
#include "pack/work_ahead.h"
#include "platform/platform.h"

// One entry's decoded bytes, read only once made. Of a damaged entry only
// the bytes before `decoded` are its own.
class DecodedEntry {
 public:
  DecodedEntry(const DecodedEntry&) = delete;
  DecodedEntry& operator=(const DecodedEntry&) = delete;
  ~DecodedEntry();

  uint32_t Size() const { return size_; }
  // Until the decoding is finished, what is known of the entry is the bytes
  // it has made final; then Decoded and Damaged say the rest.
  bool Finished() const { return finished_.load(std::memory_order_acquire); }
  uint32_t Decoded() const { return decoded_; }
  bool Damaged() const { return decoded_ < size_ || damaged_; }
  // All its bytes, when they are in memory and the decoding is finished;
  // null otherwise.
  const unsigned char* Bytes() const { return Finished() ? bytes_ : nullptr; }
  // Waits until the bytes below end are final or the decoding is finished;
  // true when the bytes are final (the decoding may go on).
  bool WaitFor(uint64_t end) const;
  // Copies up to length bytes from offset, not past Decoded() or, while the
  // decoding goes on, past what is final; false when the temporary file
  // would not read.
  bool Read(uint64_t offset, void* destination, uint32_t length, uint32_t* done) const;

 private:
  friend class EntryCache;
  DecodedEntry() = default;

  uint64_t key_ = 0;  // its slot in the cache
  // The cache's count of decoded bytes in memory, which this entry's are
  // part of while it lives (null for one in a temporary file).
  std::shared_ptr<std::atomic<uint64_t>> inMemory_;
  uint32_t size_ = 0;
  uint32_t decoded_ = 0;
  bool damaged_ = false;
  ArchiveCursor* cursor_ = nullptr;  // holds the bytes in memory
  unsigned char* owned_ = nullptr;   // or they are decoded here, on a worker of the engine
  const unsigned char* bytes_ = nullptr;
  PlatformFile spill_ = PLATFORM_FILE_INVALID;  // or they are in this file
  // Of one decoded on a worker: how far it is, and whether it is done
  // (decoded_ and damaged_ are set before, and the progress ended after).
  mutable DecodeProgress progress_;
  std::atomic<bool> finished_{true};
  void Finish();
};

// Writes the bytes on at the temporary file's position; false when it
// would not take them all.
bool SpillBytes(PlatformFile file, const unsigned char* bytes, uint32_t size);

class EntryCache {
 public:
  // engine: where large entries are decoded (without workers, by the
  // reader that asks first, before Get returns).
  EntryCache(uint64_t budget, WorkAhead& engine) : budget_(budget), engine_(engine) {}
  ~EntryCache() { Stop(); }
  // Waits for the decodings that run; those not begun end as failed. The
  // archives are closed only after.
  void Stop();

  // From this size on an entry that fits in memory is decoded on the
  // engine's workers.
  static constexpr uint32_t DECODE_BESIDE_MIN = 1u << 20;

  // The decoded entry, or null when it cannot be had (a read the system
  // refused, no memory, no temporary file). Callers that ask for one entry
  // at once wait for one decode. Whether the archive's file is still the
  // one that was opened is the caller's to ask first.
  std::shared_ptr<DecodedEntry> Get(const ArchiveFile* archive, uint32_t archiveNumber, uint32_t entry);

  // What the kept entries hold in memory.
  uint64_t HeldBytes() const;
  // What every decoded entry in memory holds, kept or only open; never more
  // than the budget.
  uint64_t InMemoryBytes() const { return *inMemory_; }

 private:
  struct Slot {
    std::weak_ptr<DecodedEntry> entry;
    bool decoding = false;
    std::list<std::shared_ptr<DecodedEntry>>::iterator kept;  // valid while inKept
    bool inKept = false;
  };

  std::shared_ptr<DecodedEntry> Decode(const ArchiveFile* archive, uint32_t entry) const;
  // An entry that does not fit in memory: decoded straight into its
  // temporary file, mapped, so that none of its decoded bytes is the
  // process's own memory (only its stream is, while it decodes).
  std::shared_ptr<DecodedEntry> DecodeToFile(const ArchiveFile* archive, uint32_t entry) const;
  // The entry, its bytes to be decoded on a worker; null when there is no
  // memory for them.
  std::shared_ptr<DecodedEntry> DecodeBeside(const ArchiveFile* archive, uint32_t entry, uint32_t size);
  // Decodes the oldest job queued (a task on the engine: one a job).
  void DecodeQueued();

  struct Job {
    const ArchiveFile* archive;
    uint32_t entry;
    std::shared_ptr<DecodedEntry> decoded;
  };
  void Keep(Slot& slot, const std::shared_ptr<DecodedEntry>& entry);
  // Lets kept entries that no reader holds go, oldest first, until size
  // more bytes fit in memory beside what is there; false when they do not.
  bool MakeRoom(uint64_t size);
  void DropOldest();

  const uint64_t budget_;
  WorkAhead& engine_;
  // Guards the slots, the kept list and its byte count; never held over a
  // decode or a read.
  mutable std::mutex lock_;
  std::condition_variable slotDecoded_;  // a slot's decoding ended
  std::map<uint64_t, Slot> slots_;                 // by archive and entry number
  std::list<std::shared_ptr<DecodedEntry>> kept_;  // most recently used first
  uint64_t held_ = 0;
  // Decoded bytes in memory: kept entries, open ones, and those being
  // decoded into memory. Entries lower it as they go, under no lock.
  std::shared_ptr<std::atomic<uint64_t>> inMemory_ = std::make_shared<std::atomic<uint64_t>>(0);
  // The decodings beside the readers not begun, under lock_.
  std::deque<Job> jobs_;
  bool stopping_ = false;
};
