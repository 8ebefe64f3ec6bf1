#include "file/file_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(FileNameIsValid, RefusesEmptyControlAndReservedBytes) {
  EXPECT_EQ(FileNameIsValid(nullptr), 0);
  EXPECT_EQ(FileNameIsValid(""), 0);
  EXPECT_EQ(FileNameIsValid("a\tb"), 0);
  EXPECT_EQ(FileNameIsValid("\x1f"), 0);
  for (char reserved : std::string("\"*/:<>?\\|")) {
    std::string name = std::string("ab") + reserved + "c";
    EXPECT_EQ(FileNameIsValid(name.c_str()), 0) << name;
  }
}

TEST(FileNameIsValid, AllowsSpacesDotsAndHighBytes) {
  EXPECT_EQ(FileNameIsValid("Pr\xFC"
                            "fung.txt"),
            1);
  EXPECT_EQ(FileNameIsValid(" "), 1);
  EXPECT_EQ(FileNameIsValid(".."), 1);
  EXPECT_EQ(FileNameIsValid("\x80\xFF"), 1);
}

}  // namespace
