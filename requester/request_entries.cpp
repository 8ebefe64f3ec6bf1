// The two entries alone in their file, so that a test can link a scripted
// stand-in for them instead (see CMakeLists.txt).
#include "requester/request_file.h"
#include "requester/requester.h"

String RequestOpenFile(const String& title, const String& defaultFile, const String& pattern, int32_t patternPosition) {
  return RequestFile(title, defaultFile, pattern, patternPosition, false);
}

String RequestSaveFile(const String& title, const String& defaultFile, const String& pattern, int32_t patternPosition) {
  return RequestFile(title, defaultFile, pattern, patternPosition, true);
}
