#include "tools/rows/row_selection.h"

#include <algorithm>

#include "platform/platform.h"
#include "tools/cli/cli.h"
#include "tools/text/text.h"

void MatchRows(const std::vector<std::string>& patterns, const std::vector<std::string>& rows,
               std::vector<uint32_t>* chosen, std::vector<size_t>* unmatched) {
  std::vector<bool> used(patterns.size(), false);
  for (uint32_t row = 0; row < rows.size(); row++) {
    bool taken = false;
    // Every pattern is tried on every row, so that each one's use is known.
    for (size_t p = 0; p < patterns.size(); p++) {
      if (!RowMatches(patterns[p], rows[row])) continue;
      used[p] = true;
      taken = true;
    }
    if (taken) chosen->push_back(row);
  }
  for (size_t p = 0; p < patterns.size(); p++) {
    if (!used[p]) unmatched->push_back(p);
  }
}

int SelectRows(const PackToolRequest& request, const std::vector<std::string>& rows, std::vector<uint32_t>* chosen) {
  *chosen = request.rows;
  int code = EXIT_OK;
  std::vector<std::string> patterns;
  std::vector<size_t> typedAs;  // patterns[i] came from request.patterns[typedAs[i]]
  for (size_t p = 0; p < request.patterns.size(); p++) {
    // A pattern is typed in the arguments' character set; rows are 1252.
    std::string pattern = request.patterns[p];
    if (PlatformArgumentCodePage() == PLATFORM_CODE_PAGE_UTF8 && !Utf8ToWindows1252(request.patterns[p], &pattern)) {
      Complain("no row matches \"" + DisplayPattern(request.patterns[p]) +
               "\": it holds a character that no row text can hold");
      code = EXIT_ROW;
      continue;
    }
    patterns.push_back(std::move(pattern));
    typedAs.push_back(p);
  }
  std::vector<size_t> unmatched;
  MatchRows(patterns, rows, chosen, &unmatched);
  for (size_t p : unmatched) {
    Complain("no row matches \"" + DisplayPattern(request.patterns[typedAs[p]]) + "\"");
    code = EXIT_ROW;
  }
  std::sort(chosen->begin(), chosen->end());
  chosen->erase(std::unique(chosen->begin(), chosen->end()), chosen->end());
  return code;
}
