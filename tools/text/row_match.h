// Choosing rows by pattern: the row text compared as Windows compares file
// names, so that a user can name what to restore instead of counting rows.
#pragma once

#include <string>
#include <string_view>

// Whether the row text (Windows-1252) matches the pattern (Windows-1252):
// '*' any run of bytes, '\' included; '?' one byte; letters compared without
// case, 1252's accented ones too; '/' and '\' are the same separator.
bool RowMatches(std::string_view pattern, std::string_view rowText);

// A byte as the comparison sees it: lower case, '/' made '\'.
unsigned char RowMatchFold(unsigned char byte);

// Whether the pattern chooses the row: it matches the whole text, or it
// names a folder (with or without a trailing separator) that the row lies
// in, so that "C:\Briefe" takes "C:\Briefe\Bank.doc". A pattern without a
// drive letter is also taken as a path as the disk or the mount shows it
// ("Daten/Briefe/*", "/Daten/Briefe") from the row's first folder on.
bool PatternChoosesRow(std::string_view pattern, std::string_view rowText);

// Whether the name chooses the row: its path ends with the name
// (RowEndsWithName), or the name ends the path of a folder the row lies in
// ("Eigene Dateien" takes "C:\Eigene Dateien\Briefe\a.txt").
bool NameChoosesRow(std::string_view name, std::string_view rowText);

// Whether a pattern holds '*' or '?'.
bool HasWildcard(std::string_view pattern);

// Whether the row's path ends with name (Windows-1252, no wildcards): whole
// folder and file names, letters and separators compared as RowMatches does.
// "Bank.doc" and "Briefe\Bank.doc" name "C:\Briefe\Bank.doc"; "ank.doc" does not.
bool RowEndsWithName(std::string_view name, std::string_view rowText);

// UTF-8 text as Windows-1252 bytes. False when it is not UTF-8 (then
// *notUtf8 is set, where given) or holds a character that 1252 lacks: such a
// pattern can match no row.
bool Utf8ToWindows1252(std::string_view text, std::string* out, bool* notUtf8 = nullptr);
