// compare: what differs between a backup and the folder it was made of (or
// a restore of it), or between two backups. It writes nothing anywhere.
#include <string>
#include <vector>

#include "tools/cli/cli.h"
#include "tools/commands/commands.h"
#include "tools/compare/folder_comparison.h"
#include "tools/rows/rows.h"
#include "tools/text/text.h"

namespace {

struct Group {
  OnDisk state;
  const char* heading;  // text
  const char* key;      // JSON
};

// In the order a person reads them: what was lost first.
const Group GROUPS[] = {
    {OnDisk::Missing, "missing in the folder", "missing"},
    {OnDisk::Changed, "changed", "changed"},
    {OnDisk::Damaged, "damaged in the backup, not compared", "damaged"},
    {OnDisk::NotCompared, "not compared", "notCompared"},
};

size_t CountOf(const FolderComparison& result, OnDisk state) {
  size_t count = 0;
  for (const ComparedRow& compared : result.rows) count += compared.state == state ? 1 : 0;
  return count;
}

int CodeOf(const FolderComparison& result, int code) {
  if (CountOf(result, OnDisk::NotCompared) > 0) code = ExitWorst(code, EXIT_TARGET_REFUSED);
  if (CountOf(result, OnDisk::Missing) + CountOf(result, OnDisk::Changed) + result.onlyOnDisk.size() > 0) {
    code = ExitWorst(code, EXIT_DIFFERENT);
  }
  return code;
}

void PrintText(const PackToolRequest& request, const FolderComparison& result) {
  Print(ShownPath(request.archive) + ": \"" + Shown(BackupPartText(result.part)) + "\" against the folder " +
        QuotedPath(request.comparedWith) + (result.folderMissing ? ", which is not there" : "") +
        (request.quick ? " (by size and content key)" : "") + "\n");
  for (const Group& group : GROUPS) {
    size_t count = CountOf(result, group.state);
    if (count == 0) continue;
    Print(std::string(group.heading) + " (" + std::to_string(count) + "):\n");
    for (const ComparedRow& compared : result.rows) {
      if (compared.state != group.state) continue;
      Print("  " + Shown(result.rowTexts[compared.row]) + (compared.why.empty() ? "" : "  (" + compared.why + ")") +
            "\n");
    }
  }
  if (!result.onlyOnDisk.empty()) {
    Print("only in the folder (" + std::to_string(result.onlyOnDisk.size()) + "):\n");
    for (const std::string& path : result.onlyOnDisk) Print("  " + ShownPath(path) + "\n");
  }
  Print(std::to_string(CountOf(result, OnDisk::Same)) + " same, " + std::to_string(CountOf(result, OnDisk::Changed)) +
        " changed, " + std::to_string(CountOf(result, OnDisk::Missing)) + " missing, " +
        std::to_string(result.onlyOnDisk.size()) + " only in the folder" +
        (CountOf(result, OnDisk::Damaged) > 0 ? ", " + std::to_string(CountOf(result, OnDisk::Damaged)) + " damaged"
                                              : "") +
        "\n");
}

void PrintJson(const PackToolRequest& request, const FolderComparison& result, int code) {
  JsonDocument document = {{"archive", JsonHostPath(request.archive)},
                           {"folder", JsonHostPath(request.comparedWith)},
                           {"part", Windows1252ToUtf8(BackupPartText(result.part))},
                           {"quick", request.quick},
                           {"same", CountOf(result, OnDisk::Same)}};
  for (const Group& group : GROUPS) {
    JsonDocument rows = JsonDocument::array();
    for (const ComparedRow& compared : result.rows) {
      if (compared.state != group.state) continue;
      JsonDocument row = {{"row", compared.row},
                          {"text", Windows1252ToUtf8(result.rowTexts[compared.row])},
                          {"path", compared.path.empty() ? JsonDocument() : JsonDocument(JsonHostPath(compared.path))}};
      if (!compared.why.empty()) row["reason"] = compared.why;
      rows.push_back(row);
    }
    document[group.key] = rows;
  }
  JsonDocument extras = JsonDocument::array();
  for (const std::string& path : result.onlyOnDisk) extras.push_back(JsonHostPath(path));
  document["onlyInFolder"] = extras;
  document["exitCode"] = code;
  PrintJsonDocument(document);
}

}  // namespace

int RunCompare(const PackToolRequest& request) {
  uint64_t size = 0;
  if (PlatformPathKind(request.comparedWith.c_str(), &size) == PlatformNameKind::File) {
    return RunCompareBackups(request);
  }
  FolderComparison result;
  int code = CompareWithFolder(request, CompareHow{}, &result);
  if (result.rowTexts.empty() && code != EXIT_OK && code != EXIT_DAMAGED) return code;
  code = CodeOf(result, code);
  if (request.format == ListFormat::Json) {
    PrintJson(request, result, code);
  } else if (!request.quiet) {
    PrintText(request, result);
  }
  return FinishOutput(code);
}
