#include "tools/rows/row_targets.h"

#include "tools/rows/entry_texts.h"
#include "tools/rows/target_path.h"
#include "tools/text/text.h"

std::string RowTargets::Key(const std::string& path) const {
  if (!windowsNames_) return path;
  std::string key = path;
  for (char& c : key) c = static_cast<char>(RowMatchFold(static_cast<unsigned char>(c)));
  return key;
}

RowTarget RowTargets::Claim(uint32_t entry) {
  RowTarget target;
  if (entry >= rows_.size()) {
    target.name = UnnamedEntryFileName(entry);
  } else if (flat_) {
    TargetPath path;
    target.refusal = TargetFromRowName(rows_[entry], windowsNames_, &path.name);
    if (target.refusal == nullptr) target.refusal = FitTargetPath(&path, room_, nameAtLeast_, windowsNames_);
    target.name = FileNameText(path.name);
  } else {
    TargetPath path;
    target.refusal = TargetFromRowPath(rows_[entry], windowsNames_, &path);
    if (target.refusal == nullptr) target.refusal = FitTargetPath(&path, room_, nameAtLeast_, windowsNames_);
    for (const std::string& folder : path.folders) target.folders.push_back(FileNameText(folder));
    target.name = FileNameText(path.name);
  }
  if (target.refusal != nullptr) {
    target.clash = TargetClash::Unsafe;
    return target;
  }
  // The folders on the way, then the target itself. "/" joins them: no part
  // holds one.
  std::vector<std::string> ways;
  std::string path;
  for (const std::string& folder : target.folders) {
    path += folder;
    ways.push_back(Key(path));
    path += "/";
  }
  std::string key = Key(path + target.name);
  for (const std::string& way : ways) {
    auto file = files_.find(way);
    if (file == files_.end()) continue;
    target.clash = TargetClash::ThroughFile;
    target.other = file->second;
    return target;
  }
  auto file = files_.find(key);
  auto folder = folders_.find(key);
  if (file != files_.end() || folder != folders_.end()) {
    target.clash = file != files_.end() ? TargetClash::SamePath : TargetClash::IsFolder;
    target.other = file != files_.end() ? file->second : folder->second;
    return target;
  }
  files_.emplace(key, entry);
  for (const std::string& way : ways) folders_.emplace(way, entry);
  return target;
}

std::string TargetClashSaid(const RowTarget& target, const std::string& other) {
  switch (target.clash) {
    case TargetClash::Unsafe:
      return target.refusal;
    case TargetClash::SamePath:
      return "its target is the target of " + other + " as well";
    case TargetClash::ThroughFile:
      return "a folder of its path is the file of " + other;
    case TargetClash::IsFolder:
      return "its target is a folder of the path of " + other;
    case TargetClash::None:
      break;
  }
  return "";
}
