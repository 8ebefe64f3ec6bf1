// Which part of a backup a folder on disk stands for. A backup's rows are
// Windows paths as the backed-up machine saw them ("C:\Daten\Briefe\a.txt");
// the folder a person points at ("Daten", "/mnt/alt/Daten", "C:\Daten")
// holds some part of them. Text rules only: no I/O.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// A part of a backup: the row folders it covers, outermost first, a drive
// ("C:") first where it names one; none for the whole backup.
struct BackupPart {
  std::vector<std::string> names;  // Windows-1252, as the rows spell them
};

// A row text (or a part as typed) cut into names at '\' and '/', the empty
// and "." names left out.
std::vector<std::string> RowNames(std::string_view text);

// The part as a row text: "C:\Daten", "Daten\Briefe", "\" for the whole backup.
std::string BackupPartText(const BackupPart& part);

// When the row lies below the part: how many of its folders the part
// covers, a drive not counted (as extract drops drives, these are the
// folders to leave out below the folder on disk). NOT_BELOW otherwise. A
// part without a drive is below any drive ("Daten" covers "C:\Daten\a").
constexpr size_t NOT_BELOW = size_t(-1);
size_t FoldersBelowPart(const BackupPart& part, std::string_view rowText);

// The parts that a folder's own names (its full path cut at separators,
// outermost first, as Windows-1252) can stand for: of every row's folders
// from its start, those that end with the longest run of the folder's last
// names, and of those the ones with the fewest names (nearest the root). None when no row's folders end with even its
// last name (then the folder stands for the whole backup, as extract -d lays it out); more than one when several fit as
// well (the user chooses).
std::vector<BackupPart> PartsForFolder(const std::vector<std::string>& folderNames,
                                       const std::vector<std::string>& rows);

// A full path of this machine cut into its names: "." left out, ".." taking
// the name before it away.
std::vector<std::string> FullPathNames(std::string_view fullPath);
