// The pack archive reader: one archive at a time, read front to back, one
// entry per call, each delivered whole in a buffer the reader owns. It is
// one process-wide cursor on an archive object (pack/archive_file.h), which
// also gives threads a cursor each; the types below are those of both.
//
// An archive is entries back to back, no header: unpacked size and packed
// size (32-bit little-endian), then packed-size data bytes. Equal sizes mean
// the data is the entry; otherwise it is a compressed stream (pack/decoder.h).
#pragma once

#include <cstdint>

constexpr uint32_t ARCHIVE_HEADER_SIZE = 8;  // unpacked size, packed size

// 1 when the archive is open for reading; 0 for a null path or a file that
// cannot be opened or whose size cannot be had. Closes the archive that was
// open first. The archive is what the file holds at this moment: its size is
// taken once, here.
int ArchiveOpen(const char* path);

// The next entry's unpacked bytes, valid until the next call that reads an
// entry header, ArchiveOpen or ArchiveClose; the caller never frees it. Null
// at the end of the archive: end of file, a trailing header of 1 to 7 bytes,
// or a data part shorter than its packed size (a damaged last entry, told
// from the file's size: its bytes are neither read nor used, and no buffer
// is made for them). Also null for an entry whose buffer cannot be had
// (out of memory, or larger than 2 GiB - 1); its data is then passed over, so
// that the next call reads the entry after it.
// A compressed entry whose stream is damaged (stops early, fails its
// checksum) is still delivered at its unpacked size; every byte past what the
// stream really decoded is 0, and ArchiveLastEntryInfo reports it as damaged
// and how many bytes were decoded. Those zeros cost nothing per byte: a
// header that claims far more than its stream gives costs what the stream
// gives (and the claim's size in address space).
const unsigned char* ArchiveNextEntry();

// -1 when no archive is open or the last read delivered nothing (also right
// after ArchiveOpen); otherwise the unpacked size of the entry last delivered.
int32_t ArchiveEntrySize();

// Closes the file and frees the entry buffer; safe when nothing is open.
void ArchiveClose();

// Passes over the next entry: reads its header and moves past its data
// without reading or decoding it (the file's size tells whether the data is
// all there). 1 when an entry was passed, 0 at the end of the archive (the
// same ends as ArchiveNextEntry's).
int ArchiveSkipEntry();

// What the header of the entry last read by ArchiveNextEntry or passed by
// ArchiveSkipEntry said (or passed over by ArchiveNextEntry for lack of
// memory: then ArchiveNextEntry returned null), and how its decoding went.
// An entry cut short at the end of the archive leaves it unchanged.
struct ArchiveEntryInfo {
  uint32_t unpackedSize;
  uint32_t packedSize;
  int stored;   // 1 when the sizes are equal
  int damaged;  // 1 when a compressed entry's stream was bad, failed its checksum or
                // came out short; never for stored or skipped entries
  // How many bytes from the start of the entry its data really gave: the
  // unpacked size for a sound or stored entry; for a damaged one the bytes
  // decoded before its stream failed (all it wrote when only the checksum or
  // the size is off); 0 for a skipped entry or one passed over.
  uint32_t decoded;
  int checked;  // 1 when a sound compressed entry's stream carried a checksum: proven, not only whole
};
// 0 when no entry was read or passed since ArchiveOpen (or none is open).
int ArchiveLastEntryInfo(ArchiveEntryInfo* info);

// Why the last ArchiveNextEntry or ArchiveSkipEntry gave no entry.
enum ArchiveMiss {
  ARCHIVE_MISS_NONE = 0,     // it gave one, or no call was made since ArchiveOpen
  ARCHIVE_MISS_END,          // no byte is left where the next header would start
  ARCHIVE_MISS_STRAY,        // 1 to 7 bytes are left, too few for a header
  ARCHIVE_MISS_CUT_SHORT,    // a header whose data runs past the end of the file
  ARCHIVE_MISS_UNREADABLE,   // the system refused a read; the archive ends there
  ARCHIVE_MISS_TOO_LARGE,    // ArchiveNextEntry only: a whole entry it could not
                             // hold, passed over (ArchiveLastEntryInfo has its header)
  ARCHIVE_MISS_IMPLAUSIBLE,  // after ArchiveStopAtImplausible only: a compressed entry
                             // whose data does not start a stream; the archive ends there
};

// From now until the next ArchiveOpen or ArchiveClose, a header that claims
// a compressed entry whose data does not start with the stream magic (most
// often a damaged header, or one read from inside another entry's data)
// ends the archive with ARCHIVE_MISS_IMPLAUSIBLE, its header and place
// given as for one cut short, instead of being read as a damaged entry.
// ArchiveSkipEntry then reads the magic too. packtool's commands ask for
// it, so that they go on past the damage another way; the restore tool
// reads as before.
void ArchiveStopAtImplausible();

// Where the reader stands in the open archive.
struct ArchivePlace {
  uint64_t offset;  // where the next entry header starts; the size once the archive has ended
  uint64_t size;    // the archive's size, taken by ArchiveOpen
  int miss;         // an ArchiveMiss, for the last ArchiveNextEntry or ArchiveSkipEntry
  // ARCHIVE_MISS_CUT_SHORT, ARCHIVE_MISS_UNREADABLE and ARCHIVE_MISS_IMPLAUSIBLE:
  // the header of the entry cut short, unreadable (0 and 0 when the header
  // itself was refused) or implausible, and where it starts.
  uint32_t cutUnpackedSize;
  uint32_t cutPackedSize;
  uint64_t cutOffset;
};
// 0 when no archive is open.
int ArchiveWhere(ArchivePlace* place);
// Of a place after an entry cut short: how many bytes the file holds after
// that entry's header.
inline uint64_t ArchiveLeftAfterCut(const ArchivePlace& place) {
  return place.size -
         (place.cutOffset + ARCHIVE_HEADER_SIZE < place.size ? place.cutOffset + ARCHIVE_HEADER_SIZE : place.size);
}
