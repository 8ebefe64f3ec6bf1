// Which rows a command works on: the numbers given, plus the rows that the
// --match patterns choose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/cli/cli.h"

// Adds to *chosen every row whose text matches one of the patterns (1252
// bytes) and to *unmatched the index of every pattern that matched none.
void MatchRows(const std::vector<std::string>& patterns, const std::vector<std::string>& rows,
               std::vector<uint32_t>* chosen, std::vector<size_t>* unmatched);

// The request's rows and the rows its patterns choose, ascending, each once.
// EXIT_OK, or EXIT_ROW after naming each pattern that chose no row (the
// other rows are chosen all the same).
int SelectRows(const PackToolRequest& request, const std::vector<std::string>& rows, std::vector<uint32_t>* chosen);
