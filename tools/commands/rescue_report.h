// What rescue says of each entry: its name in the lines, the text of
// rescue-report.txt, and the --json document.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pack/entry_names.h"
#include "pack/names_from.h"
#include "pack/salvage.h"
#include "tools/rows/rows.h"

// An entry as the rescue found, named and wrote it.
struct RescuedEntry {
  uint32_t number;
  bool hasRow;
  std::string row;
  SalvageState state;
  bool checked;  // sound by its checksum, not only complete in length
  NameFrom nameFrom;
  uint32_t rowNumber;  // the row that names it, when hasRow
  uint32_t size;
  bool sizeUnknown;  // its header could not be read: the size above is no claim
  uint32_t written;
  std::string path;                // relative to the folder, "/" between parts, Windows-1252; "" for none
  std::vector<SalvageHole> holes;  // zeros in the file where the archive could not be read
  std::string how;                 // what is wrong with it, as said; "" for a sound entry
  bool repairTried = false;
  RepairedEntry repair;  // when tried: what the repair by the checksum found
  OtherProof proof{};    // named from another backup: what proves it
  std::string other;     // an unchecked entry: what the other backups hold of its row ("" nothing)
};

// "entry 17 (row 16, \"C:\\Briefe\\Bank.doc\", its name a guess)".
std::string RescuedName(const RescuedEntry& entry, const OtherBackups& others);

// Where a stored entry's file holds zeros for bytes that could not be read.
std::string HolesSaid(const SalvagedEntry& entry);

// One line per file that is not whole and proven (CR LF), after a line that
// says what they are; "" when there is none.
std::string RescueReportText(const std::vector<RescuedEntry>& entries, const OtherBackups& others);

// The --json document: every entry, the skipped ranges, the bytes unread.
void PrintRescueJson(const std::string& archive, const std::vector<RescuedEntry>& rescued,
                     const std::vector<SalvageRange>& skippedRanges, uint64_t untried, const OtherBackups& others);

// What the other backups hold of an unchecked entry's row: "the same as in
// 2024-05.zip", that it changed or is damaged, or "" when they hold nothing
// of it (or the entry is no stored one complete in length).
constexpr const char* SAME_AS_OTHER = "the same as in ";
std::string OtherBackupsHeld(const OtherBackups& others, const SalvagedEntry& entry, const std::string& row);

// Where an entry goes, folders first: below its row's folders (fitted into
// pathRoom, see FitTargetPath), or entry-N.bin at the top when its row gives
// no safe path. A guessed name goes below the folder of unproven names.
void RescuedTarget(const RescuedEntry& entry, size_t pathRoom, std::vector<std::string>* parts);
