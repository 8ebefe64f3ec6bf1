// Which rows a command works on: the numbers given, plus the rows that the
// names and --match patterns choose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/cli/cli.h"

enum class ChooseBy {
  Pattern,  // PatternChoosesRow
  Name,     // NameChoosesRow
};

// Adds to *chosen every row that one of wanted (1252 bytes) chooses and to
// *unmatched the index of every one that chose none.
void MatchRows(const std::vector<std::string>& wanted, ChooseBy by, const std::vector<std::string>& rows,
               std::vector<uint32_t>* chosen, std::vector<size_t>* unmatched);

// A pattern or name as typed, as 1252 bytes, or false with why it can choose
// no row. Text that is UTF-8 is taken as UTF-8 whatever the locale (a script
// run from cron has LC_ALL=C and still types "ü" in UTF-8); text that is not
// is taken byte for byte where the locale is not UTF-8 either; the Windows
// build's arguments come in its ANSI code page, 1252 bytes already.
bool TypedAsRowText(const std::string& typed, uint32_t argumentCodePage, std::string* text, std::string* why);

// The request's rows and the rows its names and patterns choose, ascending,
// each once. EXIT_OK, or EXIT_ROW after naming each name or pattern that
// chose no row (the other rows are chosen all the same).
int SelectRows(const PackToolRequest& request, const std::vector<std::string>& rows, std::vector<uint32_t>* chosen);
