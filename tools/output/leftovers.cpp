#include "tools/output/leftovers.h"

#include <algorithm>
#include <cstring>

#include "tools/cli/cli.h"
#include "tools/text/text.h"

namespace {

constexpr const char* STAGED_START = ".packtool-";
constexpr const char* STAGED_END = ".tmp";
constexpr size_t MACHINE_NAME_MAX = 32;

bool Digits(const std::string& text) {
  return !text.empty() && text.size() <= 10 && text.find_first_not_of("0123456789") == std::string::npos;
}

void AddName(const char* name, void* context) {
  static_cast<std::vector<std::string>*>(context)->emplace_back(name);
}

}  // namespace

const std::string& StagedPrefix() {
  static const std::string prefix = [] {
    char name[256];
    std::string machine;
    if (PlatformMachineName(name, sizeof name) != 0) machine = name;
    for (char& c : machine) {
      bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
      if (!plain) c = '_';
    }
    machine.resize(std::min(machine.size(), MACHINE_NAME_MAX));
    return std::string(STAGED_START) + (machine.empty() ? "_" : machine) + "-";
  }();
  return prefix;
}

bool LeftByEndedRun(const std::string& name) {
  const std::string& prefix = StagedPrefix();
  size_t end = name.size() - std::min(name.size(), strlen(STAGED_END));
  if (name.size() <= prefix.size() + strlen(STAGED_END) || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(end, std::string::npos, STAGED_END) != 0) {
    return false;
  }
  // "<process>-<n>" between them.
  std::string middle = name.substr(prefix.size(), end - prefix.size());
  size_t dash = middle.find('-');
  if (dash == std::string::npos || !Digits(middle.substr(0, dash)) || !Digits(middle.substr(dash + 1))) return false;
  uint64_t process = std::stoull(middle.substr(0, dash));
  if (process > UINT32_MAX || process == PlatformProcessId()) return false;
  return PlatformProcessGone(uint32_t(process));
}

void RemoveLeftovers(PlatformFolder folder, const std::string& path, std::vector<std::string>* removed) {
  std::vector<std::string> names;
  PlatformFolderNames(path.empty() ? "." : path.c_str(), AddName, &names);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (!LeftByEndedRun(name)) continue;
    // Below the open folder: a link in the name's place is removed as a name.
    if (PlatformFileDeleteBelow(folder, name.c_str()) != 0) removed->push_back(JoinPath(path, name));
  }
}

std::string LeftoversSaid(const std::vector<std::string>& removed) {
  if (removed.empty()) return "";
  std::string said =
      "removed " + Counted(removed.size(), "file", "files") + " that a run which ended early had left half written: ";
  for (size_t i = 0; i < removed.size() && i < 3; i++) said += (i == 0 ? "" : ", ") + QuotedPath(removed[i]);
  if (removed.size() > 3) said += " and " + std::to_string(removed.size() - 3) + " more";
  return said;
}
