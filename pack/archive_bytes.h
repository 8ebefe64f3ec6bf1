// The archive file as the salvage walk reads it: at any offset, through a
// window, and around what the system refuses to read (a failing disk's bad
// sectors). Internal to pack/.
#pragma once

#include <cstdint>

#include "core/block.h"
#include "core/growing_table.h"
#include "pack/bad_area_map.h"
#include "pack/salvage.h"
#include "platform/platform.h"

struct ArchiveFile;
// The open file of the archive object, for pack/'s own positioned reads.
PlatformFile ArchiveFileHandle(const ArchiveFile* archive);

// The reads an entry's decoding makes (see SalvageWhole), from the walk's
// bytes below or from a thread that decodes ahead of it.
class SalvageSource {
 public:
  // Reads [offset, offset + n), which the file holds, into destination up
  // to the first byte that cannot be read; returns how many came.
  virtual uint32_t Read(uint64_t offset, unsigned char* destination, uint32_t n) = 0;
  // The same around what cannot be read, as ArchiveBytes::ReadAround.
  virtual uint32_t ReadAround(uint64_t offset, unsigned char* destination, uint32_t n,
                              GrowingTable<SalvageHole>& holes) = 0;

 protected:
  ~SalvageSource() = default;
};

// Reads that the system refuses cost the walk only the units of the file
// they touch, as pack/bad_area_map.h finds them.
class ArchiveBytes : public SalvageSource {
 public:
  // told: where each refused unit is said (may be null).
  explicit ArchiveBytes(SalvageReads reads = SalvageReads::Stretches, SalvageVisitor* told = nullptr)
      : badAreas_(file_, reads, told) {}
  ArchiveBytes(const ArchiveBytes&) = delete;
  ArchiveBytes& operator=(const ArchiveBytes&) = delete;
  ~ArchiveBytes();

  // Reads the archive object's file, which stays open while this is used.
  bool Open(const ArchiveFile* archive);
  uint64_t Size() const { return size_; }

  // The n bytes at offset (n <= the window's size), or null when the file
  // does not hold them all, or not all of them can be read (refused, or in
  // a stretch given up).
  const unsigned char* At(uint64_t offset, uint32_t n);

  // The same for a few bytes (n <= PEEK_SIZE) that may lie far from where
  // the walk reads: from the window when it holds them, otherwise by a read
  // of PEEK_SIZE bytes that leaves the window where it is. A search that
  // follows headers claiming a window's size or more would otherwise move
  // the window there and back for each position, reading the file once per
  // position; this way each position costs at most a peek per link.
  const unsigned char* Peek(uint64_t offset, uint32_t n);
  static constexpr uint32_t PEEK_SIZE = 16;

  // As BadAreaMap's: up to the first byte that cannot be read.
  uint32_t Read(uint64_t offset, unsigned char* destination, uint32_t n) override {
    return badAreas_.Read(offset, destination, n);
  }

  // Reads [offset, offset + n), which the file holds, into destination
  // around what cannot be read: zeros there, each such stretch noted in
  // holes (emptied first), from offset, in order. Returns how many bytes
  // destination holds up to the last that was read (0 when none was); the
  // holes are those before that. Where a hole cannot be noted (no memory
  // for it) the bytes end there.
  uint32_t ReadAround(uint64_t offset, unsigned char* destination, uint32_t n,
                      GrowingTable<SalvageHole>& holes) override;

  // As BadAreaMap's.
  uint64_t ReadableFrom(uint64_t offset) { return badAreas_.ReadableFrom(offset); }
  uint64_t Untried() const { return badAreas_.Untried(); }
  // Whether every read so far came whole: nothing refused or given up.
  bool AllRead() const { return badAreas_.AllRead(); }
  // For reads of other threads (the platform's positioned reads).
  PlatformFile Handle() const { return file_.handle; }

 private:
  struct File : BadAreaProbe {
    bool Read(uint64_t at, unsigned char* destination, uint32_t n) override;
    PlatformFile handle = PLATFORM_FILE_INVALID;
  };

  File file_;
  uint64_t size_ = 0;
  Block window_;
  unsigned char peek_[PEEK_SIZE] = {};
  uint64_t peekStart_ = 0;
  uint32_t peekLength_ = 0;
  uint64_t start_ = 0;
  uint32_t length_ = 0;
  BadAreaMap badAreas_;
};
