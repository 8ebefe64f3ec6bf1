#include "pack/row_plausible.h"

#include <algorithm>
#include <cctype>

namespace {

// A row longer than this and than LONGER_THAN times the usual length of its
// neighbours is garbage run on.
constexpr size_t PATH_LENGTH_USUAL_MAX = 260;
constexpr size_t LONGER_THAN = 4;

// How a row starts: "C:\", "\\", "\", or anything else.
enum class Start { Drive, Share, Root, Other };

Start StartOf(const std::string& row) {
  if (row.size() >= 3 && std::isalpha(static_cast<unsigned char>(row[0])) && row[1] == ':' && row[2] == '\\')
    return Start::Drive;
  if (row.rfind("\\\\", 0) == 0) return Start::Share;
  if (!row.empty() && row[0] == '\\') return Start::Root;
  return Start::Other;
}

bool HasControlBytes(const std::string& row) {
  return std::any_of(row.begin(), row.end(), [](char c) {
    unsigned char b = static_cast<unsigned char>(c);
    return b < 0x20 || b == 0x7F;
  });
}

}  // namespace

size_t PlausibleRowsFromStart(const std::vector<std::string>& rows) {
  if (rows.empty()) return 0;
  std::vector<size_t> lengths;
  size_t starts[4] = {};
  for (const std::string& row : rows) {
    lengths.push_back(row.size());
    starts[int(StartOf(row))]++;
  }
  std::nth_element(lengths.begin(), lengths.begin() + std::ptrdiff_t(lengths.size() / 2), lengths.end());
  size_t usual = lengths[lengths.size() / 2];
  size_t longest = std::max(PATH_LENGTH_USUAL_MAX, usual * LONGER_THAN);
  // The start three rows in four share, when there is one.
  int common = -1;
  for (int s = 0; s < 4; s++) {
    if (starts[s] * 4 >= rows.size() * 3) common = s;
  }
  for (size_t r = 0; r < rows.size(); r++) {
    const std::string& row = rows[r];
    if (HasControlBytes(row) || row.size() > longest) return r;
    if (common >= 0 && int(StartOf(row)) != common) return r;
  }
  return rows.size();
}
