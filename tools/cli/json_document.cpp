#include "tools/cli/json_document.h"

#include <cstdio>

#include "tools/cli/report.h"
#include "tools/text/text.h"

std::string JsonHostPath(const std::string& path) {
#ifdef _WIN32
  return Windows1252ToUtf8(path);
#else
  return path;
#endif
}

void PrintJsonDocument(const JsonDocument& document) {
  Print(document.dump(2, ' ', false, JsonDocument::error_handler_t::replace) + "\n");
}

void ReportFailureAsJson(const std::string& archive, int code) {
  if (code == 0 || ReportPrinted()) return;
  PrintJsonDocument({{"archive", archive.empty() ? JsonDocument() : JsonDocument(JsonHostPath(archive))},
                     {"error", JsonHostPath(ReportFirstComplaint())},
                     {"exitCode", code}});
  fflush(stdout);
}
