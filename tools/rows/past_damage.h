// packtool's reading commands past the damage. Where the plain front-to-back
// reading of an archive does not hold together (an entry cut short while
// rows still wait, a header that cannot be one, or more entries than the
// index has rows; stray bytes at the end have nothing past them), pack/'s salvage walk finds the entries instead,
// numbered as it numbers them (a skipped range is one entry), so that the
// rows behind the damage still reach theirs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pack/salvage.h"
#include "tools/rows/archive_session.h"
#include "tools/rows/entry_texts.h"
#include "tools/rows/walk_names.h"

// How the plain reading went: the facts of every entry it passed (entry 0,
// the index, first) and how it ended.
struct PlainReading {
  std::vector<EntryFacts> entries;
  EntryOutcome end = EntryOutcome::End;
  EntryFacts endFacts;  // of the entry it ended inside, when it did
  // Zero bytes after the entry of a sound index's last row, to the end of
  // the file: padding to a block, no entries and no damage (0: none).
  uint64_t padding = 0;
  // What does not hold together, in words, when it does not: then the
  // commands go on with the salvage walk.
  std::string trouble;
  bool HoldsTogether() const { return trouble.empty(); }
};

// Passes every entry after the index by its header; the session is spent.
PlainReading ReadPlainly(ArchiveSession& session, const OpenedIndex& index);

struct WalkedEntry {
  uint32_t number;
  EntryFacts facts;  // decoded: the bytes recovered; damaged: anything but sound
  SalvageState state;
  bool sizeKnown;              // false when its header was not read or was no claim (zeros)
  std::string how;             // what is wrong with it, "" when it is sound
  const unsigned char* bytes;  // facts.decoded of them, valid during the call only
  EntryNaming naming;          // which row names it, and how sure that is
};

// The salvage walk over the open archive (its file is not opened again),
// each entry in order; false from `each` ends it. rows and indexSound: what
// the index said, so that a run of zeros is not taken for more empty entries
// than it has rows for. False when there is no memory for the walk. named: the entries are named first by a
// walk of its own (see walk_names.h), which costs a second walk; otherwise
// each is named by its number.
bool WalkPastDamage(const ArchiveFile* archive, size_t rows, bool indexSound,
                    const std::function<bool(const WalkedEntry&)>& each, bool named = true);

// The same, the archive at path opened for it.
bool WalkPastDamage(const std::string& path, size_t rows, bool indexSound,
                    const std::function<bool(const WalkedEntry&)>& each, bool named = true);
// As above, the entries named as names says (SurveyNames, then perhaps NameFromOthers).
bool WalkPastDamageNamed(const ArchiveFile* archive, size_t rows, bool indexSound, const WalkNames& names,
                         const std::function<bool(const WalkedEntry&)>& each);
bool WalkPastDamageNamed(const std::string& path, size_t rows, bool indexSound, const WalkNames& names,
                         const std::function<bool(const WalkedEntry&)>& each);

// How many bytes of the entry were recovered, against its size where its
// header gives one: "61174 of 65536 bytes".
std::string RecoveredSaid(const SalvagedEntry& entry);

// The line that says why the entries were found by looking past the damage.
std::string PastDamageSaid(const PlainReading& plain);

// The verdict on an entry's content, in the words every report uses:
// "sound" only where a checksum proved the bytes; a stored entry (or a
// stream without a checksum) complete in length is "unchecked".
const char* SalvageStateName(SalvageState state, bool checked);
