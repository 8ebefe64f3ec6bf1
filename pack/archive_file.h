// An open pack archive that several threads can read different entries of,
// and the cursors that read it. The process-wide reader of pack/archive.h is
// one cursor on one such archive.
//
// An ArchiveFile is the open file, its size (taken once, when it is opened)
// and, when it is walked, the place of every entry: where its header starts
// and what the header says. Nothing in it changes after ArchiveFileOpen, and
// the file is read only by offset (the platform's positioned read), so any
// number of cursors on any number of threads may read it at once.
//
// A cursor is one user's place in an archive (a thread, a command): where
// it stands, the entry it delivered last (in a buffer it owns), that entry's
// account and why its last call gave no entry. A cursor is used by one
// thread at a time; its calls read as the process-wide ones of the same
// name (pack/archive.h), with the same costs, ends and failures.
#pragma once

#include <cstdint>

#include "pack/archive.h"

struct ArchiveFile;
struct ArchiveCursor;

// How much ArchiveFileOpen learns of the entries before any is read.
enum ArchiveWalk {
  // Nothing: a cursor reads each header when it comes to it, front to back.
  // Opening costs the open and a size query, whatever the archive holds.
  ARCHIVE_WALK_NONE,
  // Every header, front to back, to where a cursor reading in order would
  // stop (ArchiveFileWalkEnd says where and why). Costs one 8-byte
  // positioned read per entry and 16 bytes of the program heap per entry;
  // no entry's data is read. A cursor may then start at any entry.
  ARCHIVE_WALK_HEADERS,
  // As ARCHIVE_WALK_HEADERS, but to where a cursor that stops at an
  // implausible header (ArchiveCursorStopAtImplausible) would stop: the
  // header and the first two bytes of its data in one read per entry.
  // Cursors on it then pass entries with no read at all, whether they stop
  // there or not: the archive ends where its walk did.
  ARCHIVE_WALK_PLAUSIBLE,
};

// The archive at path, or null for a null path, a file that cannot be
// opened or whose size cannot be had, or no memory for the object or its
// places (also past ARCHIVE_PLACES_MAX entries, a table of 1 GiB). The
// archive is what the file holds at this moment: its size is taken once,
// here. The places come from the program heap, so the archive is closed
// before that heap is destroyed.
ArchiveFile* ArchiveFileOpen(const char* path, ArchiveWalk walk);
constexpr uint32_t ARCHIVE_PLACES_MAX = 1u << 26;
// Closes the file and frees the places; null is fine. Every cursor on the
// archive is freed first.
void ArchiveFileClose(ArchiveFile* archive);

uint64_t ArchiveFileSize(const ArchiveFile* archive);
// Reads the file's bytes at offset: one positioned read, clipped to the size
// the file had when it was opened (*done says how many; 0 from its end on).
// 0 when the system refused the read. Any thread may call it.
int ArchiveFileReadAt(const ArchiveFile* archive, uint64_t offset, void* destination, uint32_t length, uint32_t* done);

// When the file was last written, as ArchiveFileOpen found it (seconds
// since 1970-01-01 UTC and nanoseconds); 0 and 0 when the system could not
// tell.
void ArchiveFileModified(const ArchiveFile* archive, int64_t* seconds, uint32_t* nanoseconds);
// 1 when the file is no longer what ArchiveFileOpen found: its size or the
// time it was last written differs, it was deleted, or the system cannot
// tell. Costs one query of the system. What was read before stays what it
// was; a reader that must not hand out bytes of another file asks first.
int ArchiveFileChanged(const ArchiveFile* archive);

// An entry as the walk found it: a header whose data is all in the file.
struct ArchiveEntryPlace {
  uint64_t offset;  // where its header starts
  uint32_t unpackedSize;
  uint32_t packedSize;
};
// Decodes compressed entry `index` of a walked archive into
// destination[0, size), size its unpacked size, which comes zero-filled:
// as a cursor would, but into the caller's memory and with progress (may be
// null) following the decoding for other threads (pack/decoder.h), and a
// big stream's checksum on a free worker of beside (may be null). Fills
// *info as ArchiveCursorLastEntryInfo would after the entry. Any thread may
// call it. 0 when index is not below the count, the entry is stored or size
// is not its unpacked size, there is no memory for its stream, or the
// system refused the read or gave fewer bytes than the walk found there.
class DecodeProgress;
class WorkAhead;
int ArchiveFileDecodeEntry(const ArchiveFile* archive, uint32_t index, unsigned char* destination, uint32_t size,
                           DecodeProgress* progress, ArchiveEntryInfo* info, WorkAhead* beside = nullptr);

// Of an entry cut short: how many bytes the file holds after its header.
inline uint64_t ArchiveLeftAfterCutHeader(const ArchivePlace& place) {
  return place.size -
         (place.size - place.cutOffset < ARCHIVE_HEADER_SIZE ? place.size : place.cutOffset + ARCHIVE_HEADER_SIZE);
}

// How many entries the walk found (0 for an archive not walked).
uint32_t ArchiveFileEntryCount(const ArchiveFile* archive);
// 0 when index is not below the count.
int ArchiveFileEntryPlace(const ArchiveFile* archive, uint32_t index, ArchiveEntryPlace* place);
// Reads bytes of the data part of entry `index` (for a stored entry, the
// entry itself) where they stand in the file: length bytes from `from` bytes
// into it, clipped to its packed size (*done says how many; 0 from its end
// on). One positioned read, nothing decoded or held: any thread may call it.
// 0 when index is not below the count, or the system refused the read or
// gave fewer bytes than the walk found there (the file changed under it).
int ArchiveFileReadEntryData(const ArchiveFile* archive, uint32_t index, uint64_t from, void* destination,
                             uint32_t length, uint32_t* done);
// Where and why the walk stopped, as ArchiveWhere would say after a cursor
// passed every entry in order: the miss, and for a header cut short or
// unreadable, that header and where it starts. 0 for an archive not walked.
int ArchiveFileWalkEnd(const ArchiveFile* archive, ArchivePlace* place);

// A cursor before entry 0 of archive, or null when there is no memory for
// it. It costs no read.
ArchiveCursor* ArchiveCursorCreate(const ArchiveFile* archive);
// Frees the cursor and the entry it delivered last; null is fine.
void ArchiveCursorFree(ArchiveCursor* cursor);

// As ArchiveNextEntry, ArchiveSkipEntry, ArchiveEntrySize, ArchiveLastEntryInfo
// and ArchiveWhere, for this cursor. On a walked archive the headers come
// from the walk, so passing an entry costs no read at all, and the end the
// walk found is where every cursor ends.
const unsigned char* ArchiveCursorNextEntry(ArchiveCursor* cursor);
int ArchiveCursorSkipEntry(ArchiveCursor* cursor);
int32_t ArchiveCursorEntrySize(const ArchiveCursor* cursor);
// As ArchiveStopAtImplausible, for this cursor, from now on.
void ArchiveCursorStopAtImplausible(ArchiveCursor* cursor);
// From now on the checksum of a big entry's stream is computed on a free
// worker of engine beside its decoding (pack/decoder.h, CHECKSUM_BESIDE_MIN),
// when it has one: the same bytes and account, in less wall time. Null: on
// the decoding's thread, as the restore tool's reader always does.
void ArchiveCursorChecksumBeside(ArchiveCursor* cursor, WorkAhead* engine);
// Gives back the buffers the cursor keeps for its next entry, all but the
// entry it delivered last: for a cursor that holds an entry a long time.
void ArchiveCursorKeepOnlyTheEntry(ArchiveCursor* cursor);
int ArchiveCursorLastEntryInfo(const ArchiveCursor* cursor, ArchiveEntryInfo* info);
int ArchiveCursorWhere(const ArchiveCursor* cursor, ArchivePlace* place);

// Entries from this size on (unpacked or packed) go to a sink, when one is
// given, instead of into a buffer of the program heap: the one home of the
// bound from which an entry is not held in the process's own memory.
constexpr uint32_t ARCHIVE_STREAMED_FROM = 16u << 20;
// Whether an entry of these sizes is of that kind.
constexpr bool ArchiveEntryStreamed(uint32_t unpackedSize, uint32_t packedSize) {
  return unpackedSize >= ARCHIVE_STREAMED_FROM || packedSize >= ARCHIVE_STREAMED_FROM;
}

// Where such an entry goes.
class ArchiveEntrySink {
 public:
  // A stored entry's bytes, in order, in pieces of at most
  // ARCHIVE_STREAM_PIECE bytes; false stops (the entry is passed over).
  virtual bool Take(const unsigned char* bytes, uint32_t size) = 0;
  // Room for a compressed entry: size bytes that read as 0, for its decoded
  // bytes, followed by packedSize bytes that its stream is read into (both
  // best in a mapped file, not the process's memory); null when there is
  // none (the entry is passed over).
  virtual unsigned char* Room(uint32_t size, uint32_t packedSize) = 0;

 protected:
  ~ArchiveEntrySink() = default;
};
constexpr uint32_t ARCHIVE_STREAM_PIECE = 1u << 20;

// As ArchiveCursorNextEntry, but an entry of ARCHIVE_STREAMED_FROM bytes or
// more goes to sink (*streamed is then 1): a stored one is read in pieces,
// a compressed one is read and decoded in the room the sink gives. Null is
// returned for it, with the miss and account as for an entry delivered
// (ARCHIVE_MISS_NONE, decoded and damaged as ever); a read the system
// refused ends the archive there as ever; a sink that refuses passes the
// entry over (ARCHIVE_MISS_TOO_LARGE). A null sink streams nothing.
const unsigned char* ArchiveCursorNextEntryTo(ArchiveCursor* cursor, ArchiveEntrySink* sink, int* streamed);

// Puts the cursor before entry `index` of a walked archive (the entry count
// puts it where the walk ended), so that its next call reads or passes that
// entry; costs no read. The entry it delivered last stays valid and its
// account stays; the miss is cleared. 0, with the cursor as it was, for an
// archive not walked or an index beyond the count.
int ArchiveCursorSeek(ArchiveCursor* cursor, uint32_t index);

// Puts the cursor before the entry whose header starts at `offset`, as entry
// `index`: a place learned by passing the entries before it (another cursor
// on the same archive did), so that a cursor of another thread reads that
// entry next without passing them again. Costs no read; the entry it
// delivered last stays valid, the miss is cleared. 0, with the cursor as it
// was, for an offset beyond the archive's size. On a walked archive it is
// ArchiveCursorSeek, and 0 where offset is not the place the walk found for
// index.
int ArchiveCursorSeekOffset(ArchiveCursor* cursor, uint64_t offset, uint32_t index);
