#include "tools/extract_report.h"

#include <cstdio>

#include "tools/report.h"
#include "tools/row_match.h"
#include "tools/text_encoding.h"

namespace {

#ifdef _WIN32
// A path of this machine is 1252 on Windows.
std::string JsonPath(const std::string& path) {
  return JsonString(path);
}
#else
// A path here is UTF-8 already (names made from rows always are).
std::string JsonPath(const std::string& path) {
  std::string out = "\"";
  for (unsigned char byte : path) {
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += static_cast<char>(byte);
    } else if (byte < 0x20) {
      char escaped[7];
      snprintf(escaped, sizeof escaped, "\\u%04X", byte);
      out += escaped;
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out + "\"";
}
#endif

void Line(const std::string& text) {
  std::string line = text + "\n";
  fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace

int64_t ExtractReport::Claim(const std::string& target, uint32_t row, bool windowsNames) {
  std::string key = target;
  if (windowsNames) {
    for (char& c : key) c = static_cast<char>(RowMatchFold(static_cast<unsigned char>(c)));
  }
  auto [at, fresh] = claimed_.emplace(key, row);
  return fresh ? -1 : int64_t(at->second);
}

void ExtractReport::Written(uint32_t row, const std::string& rowText, uint64_t size, const std::string& target) {
  written_.push_back({row, rowText, target, size, ""});
  bytes_ += size;
  if (lines_ && !json_) Line("row " + std::to_string(row) + "  " + std::to_string(size) + "  " + ShownPath(target));
}

void ExtractReport::Refused(uint32_t row, const std::string& rowText, const std::string& reason) {
  refused_.push_back({row, rowText, "", 0, reason});
}

void ExtractReport::Damaged(uint32_t row, const std::string& rowText, const std::string& reason,
                            const std::string& target, uint64_t size) {
  damaged_.push_back({row, rowText, target, size, reason});
}

void ExtractReport::Failed(uint32_t row, const std::string& rowText, const std::string& reason) {
  failed_.push_back({row, rowText, "", 0, reason});
}

void ExtractReport::Finish(int code) {
  if (!json_) {
    if (!summary_) return;
    std::string summary = "packtool: " + Counted(written_.size(), "file", "files") + " written (" +
                          Counted(bytes_, "byte", "bytes") + ")";
    if (!refused_.empty()) summary += ", " + std::to_string(refused_.size()) + " refused";
    if (!damaged_.empty()) summary += ", " + std::to_string(damaged_.size()) + " damaged";
    if (!failed_.empty()) summary += ", " + std::to_string(failed_.size()) + " failed";
    Line(summary);
    return;
  }
  auto list = [](const char* name, const std::vector<Item>& items, bool last) {
    std::string text = std::string("  \"") + name + "\": [";
    for (size_t i = 0; i < items.size(); i++) {
      const Item& item = items[i];
      text += std::string(i == 0 ? "\n" : ",\n") + "    {\"row\": " + std::to_string(item.row) +
              ", \"text\": " + JsonString(item.rowText);
      if (!item.target.empty()) {
        text += ", \"target\": " + JsonPath(item.target) + ", \"size\": " + std::to_string(item.size);
      }
      if (!item.reason.empty()) text += ", \"reason\": " + JsonString(item.reason);
      text += "}";
    }
    text += items.empty() ? "]" : "\n  ]";
    return text + (last ? "\n" : ",\n");
  };
  Print("{\n" + list("written", written_, false) + list("refused", refused_, false) + list("damaged", damaged_, false) +
        list("failed", failed_, false) + "  \"exitCode\": " + std::to_string(code) + "\n}\n");
}
