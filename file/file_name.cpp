#include "file/file_name.h"

#include <cstring>

int FileNameIsValid(const char* name) {
  if (name == nullptr || name[0] == '\0') return 0;
  for (const unsigned char* at = reinterpret_cast<const unsigned char*>(name); *at != 0; at++) {
    if (*at < 0x20 || strchr("\"*/:<>?\\|", *at) != nullptr) return 0;
  }
  return 1;
}
