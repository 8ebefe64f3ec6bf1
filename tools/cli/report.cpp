#include "tools/cli/report.h"

#include <cstdio>

#include "tools/host.h"
#include "tools/text/text_encoding.h"

void Print(std::string_view text) {
  fwrite(text.data(), 1, text.size(), stdout);
}

void Complain(const std::string& text) {
  std::string line = "packtool: " + text + "\n";
  fwrite(line.data(), 1, line.size(), stderr);
  fflush(stderr);
}

std::string Shown(std::string_view rowText) {
  return HostShownText(rowText);
}

std::string DisplayPattern(std::string_view typed) {
  return HostShownPath(typed);
}

std::string ShownPath(std::string_view path) {
  return HostShownPath(path);
}

// Appended piece by piece: GCC 12 at -O3 warns of an overlapping copy in the
// chained operator+ form.
std::string QuotedPath(std::string_view path) {
  std::string text = "\"";
  text.append(HostShownPath(path));
  text.push_back('"');
  return text;
}

std::string Counted(uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}
