#include "tools/cli/extract_report.h"

#include <cstdio>

#include "tools/cli/json_document.h"
#include "tools/cli/report.h"
#include "tools/text/text.h"

namespace {

void Line(const std::string& text) {
  std::string line = text + "\n";
  fwrite(line.data(), 1, line.size(), stderr);
}

constexpr const char* GUESS = "guess";

}  // namespace

const char* ExtractReport::NameFromOf(uint32_t row) const {
  auto found = nameFrom_.find(row);
  return found == nameFrom_.end() ? "index" : found->second;
}

void ExtractReport::Written(uint32_t row, const std::string& rowText, uint64_t size, const std::string& target) {
  written_.push_back({row, rowText, target, size, "", true});
  bytes_ += size;
  if (lines_ && !json_) {
    bool guess = std::string(NameFromOf(row)) == GUESS;
    Line("row " + std::to_string(row) + "  " + std::to_string(size) + "  " + ShownPath(target) +
         (guess ? "  (its name is a guess)" : ""));
  }
}

void ExtractReport::Skipped(uint32_t row, const std::string& rowText, const std::string& target) {
  // The file kept is not of this run: no size is claimed for it.
  skipped_.push_back({row, rowText, target, 0, "the target exists", false});
  if (lines_ && !json_) Line("row " + std::to_string(row) + "  kept  " + ShownPath(target));
}

void ExtractReport::Refused(uint32_t row, const std::string& rowText, const std::string& reason) {
  refused_.push_back({row, rowText, "", 0, reason, true});
}

void ExtractReport::Damaged(uint32_t row, const std::string& rowText, const std::string& reason,
                            const std::string& target, uint64_t size) {
  damaged_.push_back({row, rowText, target, size, reason, true});
  // A damaged entry written (--force) is a file written too.
  if (!target.empty()) {
    writtenDamaged_++;
    bytes_ += size;
  }
}

void ExtractReport::Failed(uint32_t row, const std::string& rowText, const std::string& reason) {
  failed_.push_back({row, rowText, "", 0, reason, true});
}

void ExtractReport::Finish(int code) {
  if (!json_) {
    if (!summary_) return;
    std::string summary = "packtool: " + Counted(written_.size() + writtenDamaged_, "file", "files") + " written (" +
                          Counted(bytes_, "byte", "bytes") + ")";
    if (!skipped_.empty()) summary += ", " + std::to_string(skipped_.size()) + " skipped (kept as they were)";
    if (!refused_.empty()) summary += ", " + std::to_string(refused_.size()) + " refused";
    if (!damaged_.empty()) {
      summary += ", " + std::to_string(damaged_.size()) + " damaged";
      if (writtenDamaged_ > 0)
        summary += " (" + std::to_string(writtenDamaged_) + " of them written as far as decoded)";
    }
    if (!failed_.empty()) summary += ", " + std::to_string(failed_.size()) + " failed";
    size_t guessed = 0;
    for (const Item& item : written_) guessed += std::string(NameFromOf(item.row)) == GUESS ? 1 : 0;
    for (const Item& item : damaged_) guessed += !item.target.empty() && std::string(NameFromOf(item.row)) == GUESS;
    if (guessed > 0) summary += "; " + Counted(guessed, "file", "files") + " of them under names that are guesses";
    Line(summary);
    return;
  }
  auto list = [this](const std::vector<Item>& items) {
    JsonDocument json = JsonDocument::array();
    for (const Item& item : items) {
      JsonDocument& entry = json.emplace_back(JsonDocument{
          {"row", item.row}, {"text", Windows1252ToUtf8(item.rowText)}, {"nameFrom", NameFromOf(item.row)}});
      if (!item.target.empty()) {
        entry["target"] = JsonHostPath(item.target);
        if (item.sized) entry["size"] = item.size;
      }
      if (!item.reason.empty()) entry["reason"] = Windows1252ToUtf8(item.reason);
    }
    return json;
  };
  PrintJsonDocument({{"written", list(written_)},
                     {"kept", list(skipped_)},
                     {"refused", list(refused_)},
                     {"damaged", list(damaged_)},
                     {"failed", list(failed_)},
                     {"exitCode", code}});
}
