#include "tools/report.h"

#include <cstdio>

#include "tools/host.h"
#include "tools/text_encoding.h"

void Print(std::string_view text) {
  fwrite(text.data(), 1, text.size(), stdout);
}

void Complain(const std::string& text) {
  std::string line = "packtool: " + text + "\n";
  fwrite(line.data(), 1, line.size(), stderr);
  fflush(stderr);
}

std::string Shown(std::string_view rowText) {
  return HostConsoleText(DisplayText(rowText));
}
