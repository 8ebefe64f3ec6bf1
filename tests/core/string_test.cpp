#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "core/string.h"

namespace {

TEST(String, NullReadsAsEmpty) {
  String never;
  EXPECT_TRUE(never.IsNull());
  EXPECT_STREQ(never.Text(), "");
  EXPECT_TRUE(StringEqual(never, ""));
  EXPECT_TRUE(StringEqual(nullptr, ""));
  String fromNull(static_cast<const char*>(nullptr));
  EXPECT_TRUE(StringEqual(fromNull, never));
}

TEST(String, AssigningEmptyGivesAnOwnEmptyBlock) {
  String path;
  StringAssign(path, "");
  EXPECT_FALSE(path.IsNull());
  EXPECT_TRUE(StringEqual(path, ""));
  String other;
  StringAssign(other, "");
  EXPECT_NE(path.Text(), other.Text());
}

TEST(String, EqualityIsByteExactAndCaseSensitive) {
  EXPECT_FALSE(StringEqual("Index.tmp", "index.tmp"));
  EXPECT_FALSE(StringEqual("abc", "abcd"));
  EXPECT_TRUE(StringEqual("Pr\xFC" "fung", "Pr\xFC" "fung"));
  EXPECT_FALSE(StringEqual("Pr\xFC" "fung", "Pr\xDC" "fung"));
}

TEST(String, VariablesNeverShareABlock) {
  String a("Sicherung");
  String b = a;
  EXPECT_NE(a.Text(), b.Text());
  String c;
  c = a;
  EXPECT_NE(c.Text(), a.Text());
  // The variable keeps no link to the value it was given.
  char value[] = "original";
  String d;
  StringAssign(d, value);
  value[0] = 'X';
  EXPECT_STREQ(d.Text(), "original");
}

TEST(String, MoveHandsOverTheBlock) {
  String a("text");
  const char* block = a.Text();
  String b = std::move(a);
  EXPECT_EQ(b.Text(), block);
  EXPECT_STREQ(a.Text(), "");  // NOLINT(bugprone-use-after-move): a moved-from string reads as ""
}

TEST(String, AssignFromItsOwnTextAndGrow) {
  String a("0123456789");
  StringAssign(a, a.Text() + 4);
  EXPECT_STREQ(a.Text(), "456789");
  EXPECT_EQ(a.Length(), 6u);
  String big(std::string(100000, 'z').c_str());
  EXPECT_EQ(big.Length(), 100000u);
  a = big;
  EXPECT_EQ(strlen(a.Text()), 100000u);
}

}  // namespace
