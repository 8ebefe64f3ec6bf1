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

// UTF-8 text as Windows-1252 bytes. False when it is not UTF-8 or holds a
// character that 1252 lacks: such a pattern can match no row.
bool Utf8ToWindows1252(std::string_view text, std::string* out);
