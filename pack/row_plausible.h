// Whether the rows of an index that failed its checksum can be paths. Past a
// flipped bit the decoder goes on as garbage until its stream breaks, and
// what it gave is cut into lines all the same: such a line must never name
// a file or a folder. A row is plausible when it holds no control bytes, is
// not far longer than its neighbours, and starts as most rows start (a
// drive, a share, a backslash). Of a sound index every row is taken as it is.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// How many rows from the first one hold up: the rows after the first that
// does not are not trusted either (the garbage runs on from there).
size_t PlausibleRowsFromStart(const std::vector<std::string>& rows);
