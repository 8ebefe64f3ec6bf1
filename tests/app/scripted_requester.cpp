#include "tests/app/scripted_requester.h"

#include "requester/requester.h"

namespace {
String Answer(std::vector<RequesterCall>& calls, const String& title, const String& defaultFile,
              const String& pattern, int32_t position) {
  calls.push_back({title.Text(), defaultFile.Text(), pattern.Text(), position});
  if (Script().answers.empty()) return String("");
  std::string answer = Script().answers.front();
  Script().answers.pop_front();
  return String(answer.c_str());
}
}  // namespace

RequesterScript& Script() {
  static RequesterScript script;
  return script;
}

String RequestOpenFile(const String& title, const String& defaultFile, const String& pattern, int32_t position) {
  return Answer(Script().openCalls, title, defaultFile, pattern, position);
}

String RequestSaveFile(const String& title, const String& defaultFile, const String& pattern, int32_t position) {
  return Answer(Script().saveCalls, title, defaultFile, pattern, position);
}
