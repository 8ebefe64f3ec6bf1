// The rows of a damaged index that can be paths: from the first that cannot,
// none is trusted.
#include "pack/row_plausible.h"

#include <gtest/gtest.h>

namespace {

TEST(RowPlausible, GarbageAfterAFlippedBitEndsTheTrustedRows) {
  const std::string path = "C:\\Daten\\brief.txt";
  struct Case {
    const char* what;
    std::vector<std::string> rows;
    size_t expected;
  } cases[] = {
      {"paths", {"C:\\Index.txt", path, path, path}, 4},
      {"a control byte", {"C:\\Index.txt", path, "C:\\Da\x01ten", path}, 2},
      {"far longer than the others", {"C:\\Index.txt", path, path, std::string(300, 'x'), path}, 3},
      {"no drive where the others have one", {"C:\\Index.txt", path, path, path, "ab\xe4q#", path}, 4},
      {"shares and drives mixed: no start is common", {"\\\\server\\a", "C:\\b", "\\\\server\\c", "D:\\d"}, 4},
      {"none", {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(PlausibleRowsFromStart(c.rows), c.expected);
  }
}

}  // namespace
