// packtool's name handling: a row's text (untrusted, from the archive) to the
// path below the folder the user chose. The first byte picks whether Windows
// device names are refused too; the rest is the row text. Whatever it says,
// an accepted path stays inside the folder: no part is empty, "." or "..",
// none holds a separator, a drive colon or a control character, and the file
// name alone is the path's last part.
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_target.h"
#include "tools/rows/target_path.h"

namespace {

void RequireSafePart(const std::string& part) {
  Require(!part.empty() && part != "." && part != "..");
  Require(part.find_first_not_of(". ") != std::string::npos);
  for (char c : part) Require(static_cast<unsigned char>(c) >= 0x20 && c != '\\' && c != '/' && c != ':');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  bool windowsNames = (data[0] & 1) != 0;
  std::string_view row(reinterpret_cast<const char*>(data + 1), size - 1);

  std::string name;
  const char* nameRefusal = TargetFromRowName(row, windowsNames, &name);
  if (nameRefusal == nullptr) RequireSafePart(name);

  TargetPath path;
  const char* pathRefusal = TargetFromRowPath(row, windowsNames, &path);
  if (pathRefusal != nullptr) return 0;
  Require(path.folders.size() <= row.size() / 2);
  std::string joined;
  for (const std::string& folder : path.folders) {
    RequireSafePart(folder);
    joined += folder + "\\";
  }
  RequireSafePart(path.name);
  // The whole path and the name alone agree on the file name.
  Require(nameRefusal == nullptr && name == path.name);
  // Made relative once, a path stays what it is.
  TargetPath again;
  Require(TargetFromRowPath(joined + path.name, windowsNames, &again) == nullptr);
  Require(again.folders == path.folders && again.name == path.name);
  return 0;
}
