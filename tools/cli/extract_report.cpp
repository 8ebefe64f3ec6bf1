#include "tools/cli/extract_report.h"

#include <cstdio>

#include "platform/platform.h"
#include "tools/cli/json_document.h"
#include "tools/cli/progress.h"
#include "tools/cli/report.h"
#include "tools/text/text.h"

namespace {

void Line(const std::string& text) {
  std::string line = text + "\n";
  fwrite(line.data(), 1, line.size(), stderr);
}

constexpr const char* GUESS = "guess";

// From how many files a run shows a progress line instead of a line per
// file: a screenful of lines goes by too fast to read anyway.
constexpr size_t PROGRESS_FROM_FILES = 200;

std::string Megabytes(uint64_t bytes) {
  char text[32];
  if (bytes < 1000000) {
    snprintf(text, sizeof text, "%.0f kB", double(bytes) / 1e3);
  } else {
    snprintf(text, sizeof text, "%.1f MB", double(bytes) / 1e6);
  }
  return text;
}

}  // namespace

ExtractReport::ExtractReport(bool lines, bool summary, bool json) : lines_(lines), summary_(summary), json_(json) {}
ExtractReport::~ExtractReport() = default;

void ExtractReport::Expect(size_t files, uint64_t bytes) {
  if (!lines_ || json_ || files < PROGRESS_FROM_FILES) return;
  // By bytes where they are known, else by files.
  progress_ = std::make_unique<Progress>("extracting", bytes > 0 ? bytes : files, 0, 0);
  expectedFiles_ = files;
  expectedBytes_ = bytes;
  started_ = PlatformMilliseconds();
  lines_ = false;
}

void ExtractReport::Advance(uint64_t size) {
  filesDone_++;
  bytesDone_ += size;
  if (progress_ == nullptr) return;
  uint64_t elapsed = PlatformMilliseconds() - started_;
  // No bar: the counts need the room.
  std::string note = ": " + std::to_string(filesDone_) + "/" + std::to_string(expectedFiles_) + " files";
  if (expectedBytes_ > 0) note += ", " + Megabytes(bytesDone_) + " of " + Megabytes(expectedBytes_);
  if (elapsed >= 1000) {
    double perSecond = double(bytesDone_) * 1000 / double(elapsed);
    note += ", " + Megabytes(uint64_t(perSecond)) + "/s";
    // Time left from the share done so far, by bytes where they are known.
    double done =
        expectedBytes_ > 0 ? double(bytesDone_) / double(expectedBytes_) : double(filesDone_) / double(expectedFiles_);
    if (done > 0 && done < 1)
      note += ", " + std::to_string(uint64_t(double(elapsed) / 1000 * (1 - done) / done)) + " s left";
  }
  progress_->Note(note);
  progress_->Update(expectedBytes_ > 0 ? bytesDone_ : filesDone_);
}

const char* ExtractReport::NameFromOf(uint32_t row) const {
  auto found = nameFrom_.find(row);
  return found == nameFrom_.end() ? "index" : found->second;
}

void ExtractReport::Written(uint32_t row, const std::string& rowText, uint64_t size, const std::string& target) {
  written_.push_back({row, rowText, target, size, "", true});
  bytes_ += size;
  Advance(size);
  if (lines_ && !json_) {
    bool guess = std::string(NameFromOf(row)) == GUESS;
    Line("row " + std::to_string(row) + "  " + std::to_string(size) + "  " + ShownPath(target) +
         (guess ? "  (its name is a guess)" : ""));
  }
}

void ExtractReport::Skipped(uint32_t row, const std::string& rowText, const std::string& target) {
  // The file kept is not of this run: no size is claimed for it.
  skipped_.push_back({row, rowText, target, 0, "the target exists", false});
  Advance(0);
  if (lines_ && !json_) Line("row " + std::to_string(row) + "  kept  " + ShownPath(target));
}

void ExtractReport::Refused(uint32_t row, const std::string& rowText, const std::string& reason) {
  refused_.push_back({row, rowText, "", 0, reason, true});
  Advance(0);
}

void ExtractReport::Damaged(uint32_t row, const std::string& rowText, const std::string& reason,
                            const std::string& target, uint64_t size) {
  damaged_.push_back({row, rowText, target, size, reason, true});
  Advance(target.empty() ? 0 : size);
  // A damaged entry written (--force) is a file written too.
  if (!target.empty()) {
    writtenDamaged_++;
    bytes_ += size;
  }
}

void ExtractReport::Failed(uint32_t row, const std::string& rowText, const std::string& reason) {
  failed_.push_back({row, rowText, "", 0, reason, true});
  Advance(0);
}

void ExtractReport::Finish(int code) {
  progress_.reset();
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
    size_t byOthers = 0;
    for (const Item& item : written_) byOthers += namedBy_.count(item.row);
    if (byOthers > 0)
      summary += "; " + Counted(byOthers, "file", "files") + " named by other backups (--json says how)";
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
      if (auto by = namedBy_.find(item.row); by != namedBy_.end()) entry["namedFrom"] = Windows1252ToUtf8(by->second);
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
