// The words packtool's reading commands share: how rows and entries are
// named in messages, what is said of damage and of an archive's end, and
// the file name of an entry no row names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tools/cli/cli.h"
#include "tools/rows/archive_session.h"

#ifdef _WIN32
constexpr bool WINDOWS_NAMES = true;
#else
constexpr bool WINDOWS_NAMES = false;
#endif

constexpr const char* DAMAGED_STREAM = "its stream is malformed or fails its checksum";
constexpr const char* CUT_SHORT = "its data runs past the end of the file (the archive is cut short)";
// A damaged entry's bytes before the failure: a flipped bit decodes on as
// garbage until the stream breaks.
constexpr const char* DAMAGED_MAY_BE_WRONG = "the bytes before the damage may be wrong too";
constexpr const char* UNREADABLE = "the system refused to read the archive file there (a read error)";

// Whether the archive ended inside an entry, and what to say of that entry.
inline bool EndsInsideEntry(EntryOutcome end) {
  return end == EntryOutcome::Truncated || end == EntryOutcome::Unreadable;
}
inline const char* InsideEntryText(EntryOutcome end) {
  return end == EntryOutcome::Unreadable ? UNREADABLE : CUT_SHORT;
}

// Of an entry whose header's packed size disagrees with where its stream
// ends: what its header claims and where the stream ends.
std::string SizeClaimSaid(const ArchiveSizeClaim& claim);
// What that did to the plain reading.
constexpr const char* WRONG_PLACE = " (the header after it was looked for in the wrong place)";
std::string RowName(uint32_t row, const std::vector<std::string>& rows);
std::string EntryName(uint32_t entry, const std::vector<std::string>& rows);
// Rows from..to (inclusive), or the one row.
std::string RowsSaid(uint64_t from, uint64_t to, const char* one, const char* many);
// Past the damage: the rows from `found` on, which no entry was found for
// (found below rowCount), and the entries from rowCount on, which no row of
// a sound index names (found above rowCount).
std::string RowsLostSaid(uint64_t found, uint64_t rowCount);
std::string EntriesWithoutRowSaid(uint64_t rowCount, uint64_t found);
// Flushes standard output; EXIT_WRITE (at least) when that failed.
int FinishOutput(int code);

// The problems an archive's end shows: a last entry cut short, stray bytes,
// index rows that no entry answers. Bytes after the entry of a sound
// index's last row are none: notes (when given) says what they are.
std::vector<std::string> EndProblems(EntryOutcome end, const ArchiveSession& session, uint32_t entryCount,
                                     const std::vector<std::string>& rows, bool indexSound,
                                     std::vector<std::string>* notes = nullptr);

// The file name of an entry that has no trusted row.
inline std::string UnnamedEntryFileName(uint32_t entry) {
  return "entry-" + std::to_string(entry) + ".bin";
}
