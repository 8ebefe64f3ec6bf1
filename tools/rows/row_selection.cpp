#include "tools/rows/row_selection.h"

#include <algorithm>

#include "platform/platform.h"
#include "tools/cli/cli.h"
#include "tools/text/text.h"

void MatchRows(const std::vector<std::string>& wanted, ChooseBy by, const std::vector<std::string>& rows,
               std::vector<uint32_t>* chosen, std::vector<size_t>* unmatched) {
  std::vector<bool> used(wanted.size(), false);
  for (uint32_t row = 0; row < rows.size(); row++) {
    bool taken = false;
    // Every one is tried on every row, so that each one's use is known.
    for (size_t w = 0; w < wanted.size(); w++) {
      bool chooses =
          by == ChooseBy::Name ? NameChoosesRow(wanted[w], rows[row]) : PatternChoosesRow(wanted[w], rows[row]);
      if (!chooses) continue;
      used[w] = true;
      taken = true;
    }
    if (taken) chosen->push_back(row);
  }
  for (size_t w = 0; w < wanted.size(); w++) {
    if (!used[w]) unmatched->push_back(w);
  }
}

bool TypedAsRowText(const std::string& typed, uint32_t argumentCodePage, std::string* text, std::string* why) {
  if (argumentCodePage == PLATFORM_CODE_PAGE_1252) {
    *text = typed;
    return true;
  }
  bool notUtf8 = false;
  if (Utf8ToWindows1252(typed, text, &notUtf8)) return true;
  if (notUtf8 && argumentCodePage != PLATFORM_CODE_PAGE_UTF8) {
    *text = typed;
    return true;
  }
  *why = notUtf8 ? "it is not UTF-8 text" : "it holds a character that no row text can hold";
  return false;
}

namespace {

// Chooses the rows of the typed names or patterns; EXIT_ROW after naming
// each that chose none.
int ChooseTyped(const std::vector<std::string>& typed, ChooseBy by, const std::vector<std::string>& rows,
                std::vector<uint32_t>* chosen) {
  const char* kind = by == ChooseBy::Name ? "no row is named \"" : "no row matches \"";
  int code = EXIT_OK;
  std::vector<std::string> wanted;
  std::vector<size_t> typedAs;  // wanted[i] came from typed[typedAs[i]]
  for (size_t t = 0; t < typed.size(); t++) {
    std::string text;
    std::string why;
    if (!TypedAsRowText(typed[t], PlatformArgumentCodePage(), &text, &why)) {
      Complain(kind + DisplayPattern(typed[t]) + "\": " + why);
      code = EXIT_ROW;
      continue;
    }
    wanted.push_back(std::move(text));
    typedAs.push_back(t);
  }
  std::vector<size_t> unmatched;
  MatchRows(wanted, by, rows, chosen, &unmatched);
  for (size_t w : unmatched) {
    std::string said = kind + DisplayPattern(typed[typedAs[w]]) + "\"";
    // A name is the end of a row's path, whole names: say what else there is.
    if (by == ChooseBy::Name) {
      said +=
          " (a name ends a row's path or names a folder in it; --match takes wildcards, \"packtool list\" shows "
          "the rows)";
    } else if (!HasWildcard(wanted[w])) {
      said += " (a pattern without wildcards is a whole path; for a part of one write \"*" +
              DisplayPattern(typed[typedAs[w]]) + "*\")";
    }
    Complain(said);
    code = EXIT_ROW;
  }
  return code;
}

}  // namespace

int SelectRows(const PackToolRequest& request, const std::vector<std::string>& rows, std::vector<uint32_t>* chosen) {
  *chosen = request.rows;
  int code = ChooseTyped(request.names, ChooseBy::Name, rows, chosen);
  code = ExitWorst(code, ChooseTyped(request.patterns, ChooseBy::Pattern, rows, chosen));
  std::sort(chosen->begin(), chosen->end());
  chosen->erase(std::unique(chosen->begin(), chosen->end()), chosen->end());
  return code;
}
