#include "tools/cli/report.h"

#include <cstdio>
#include <vector>

#include "platform/platform.h"
#include "tools/cli/progress.h"
#include "tools/text/text.h"

namespace {

// What packtool has said so far, for the document of a command that fails
// before it prints anything (ReportFailureAsJson). The one state of the
// reports; packtool speaks from one thread.
struct ReportState {
  bool printed = false;
  std::string firstComplaint;
  std::string lastComplaint;
  Progress* progress = nullptr;  // the line a complaint clears first
};
ReportState reportState;

}  // namespace

void Print(std::string_view text) {
  reportState.printed = reportState.printed || !text.empty();
  fwrite(text.data(), 1, text.size(), stdout);
}

void ReportShowsProgress(Progress* line) {
  reportState.progress = line;
}

void Complain(const std::string& text) {
  if (reportState.progress != nullptr) reportState.progress->Clear();
  if (reportState.firstComplaint.empty()) reportState.firstComplaint = text;
  reportState.lastComplaint = text;
  std::string line = "packtool: " + text + "\n";
  fwrite(line.data(), 1, line.size(), stderr);
  fflush(stderr);
}

std::string Shown(std::string_view rowText) {
  uint32_t codePage = PlatformConsoleCodePage();
  if (codePage == PLATFORM_CODE_PAGE_UNKNOWN) return TerminalSafe(rowText, TerminalBytes::Ascii);
  std::string safe = TerminalSafe(rowText, TerminalBytes::Windows1252);
  if (codePage == PLATFORM_CODE_PAGE_1252) return safe;
  if (codePage == PLATFORM_CODE_PAGE_UTF8) return Windows1252ToUtf8(safe);
  // Another console code page (a DOS one): the system's tables convert.
  std::vector<uint16_t> wide;
  for (unsigned char byte : safe) wide.push_back(uint16_t(Windows1252ToCodePoint(byte)));
  size_t length = PlatformEncodeText(codePage, wide.data(), wide.size(), nullptr, 0);
  if (length == 0) return safe;
  std::string converted(length, '\0');
  PlatformEncodeText(codePage, wide.data(), wide.size(), converted.data(), length);
  return converted;
}

std::string DisplayPattern(std::string_view typed) {
  return ShownPath(typed);
}

std::string ShownPath(std::string_view path) {
  // Paths come in the character set of the command line's arguments.
  switch (PlatformArgumentCodePage()) {
    case PLATFORM_CODE_PAGE_1252:
      return Shown(path);
    case PLATFORM_CODE_PAGE_UTF8:
      return TerminalSafe(path, TerminalBytes::Utf8);
    default:
      return TerminalSafe(path, TerminalBytes::Ascii);
  }
}

std::string QuotedPath(std::string_view path) {
  return "\"" + ShownPath(path) + "\"";
}

std::string SystemErrorText() {
  char text[512];
  size_t length = PlatformErrorText(text, sizeof text);
  return std::string(text, length);
}

std::string Counted(uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

bool ReportPrinted() {
  return reportState.printed;
}

const std::string& ReportFirstComplaint() {
  return reportState.firstComplaint;
}

const std::string& ReportLastComplaint() {
  return reportState.lastComplaint;
}
