// The text operations behind the message builder and the printed columns.
#include "errors/text.h"

#include <gtest/gtest.h>

#include <string>

namespace vesk1 {
namespace {

TEST(IntegerToText, Values_RightJustifiedWithOverflowCount) {
  const struct {
    int32_t value;
    size_t width;
    std::string field;
    int32_t status;
  } cases[] = {
      {0, 4, "   0", 0},
      {42, 4, "  42", 0},
      {-42, 3, "-42", 0},
      {-42, 2, "42", 1},
      {123456, 6, "123456", 0},
      {1234567, 6, "234567", 1},
      {-2147483647 - 1, 11, "-2147483648", 0},
      {-2147483647 - 1, 12, " -2147483648", 0},
      {7, 0, "", -1},
  };
  for (const auto& c : cases) {
    std::string field(c.width, '?');
    EXPECT_EQ(IntegerToText(c.value, field), c.status) << c.value << " in " << c.width;
    if (c.status >= 0) {
      EXPECT_EQ(field, c.field) << c.value << " in " << c.width;
    }
  }
  std::string field(6, '?');
  FormatColumn(-123456, field);
  EXPECT_EQ(field, "******");
}

TEST(FindNoCase, Patterns_FirstPositionIgnoringCase) {
  EXPECT_EQ(FindNoCase("abc%/def%/", "%/"), 4);
  EXPECT_EQ(FindNoCase("Hello World", "WORLD"), 7);
  EXPECT_EQ(FindNoCase("Hello", "hello!"), 0);
  EXPECT_EQ(FindNoCase("Hello", ""), 0);
  EXPECT_EQ(FindNoCase("", "a"), 0);
  EXPECT_EQ(FindNoCase("a[b", "A{B"), 0);  // only letters fold
}

TEST(CopyIntoField, Ranges_CopyCutOrPad) {
  const struct {
    int32_t i1, i2, j1, j2;
    std::string target;
    int32_t status;
  } cases[] = {
      {2, 4, 1, 3, "bcd.....", 0},  {2, 4, 2, 7, ".bcd   .", 0},  {1, 6, 3, 4, "..ab....", -4},
      {0, 2, 1, 2, "........", -2}, {3, 2, 1, 2, "........", -2}, {1, 7, 1, 2, "........", -2},
      {1, 2, 0, 2, "........", -2}, {1, 2, 3, 2, "........", -2}, {1, 2, 7, 9, "........", -1},
  };
  for (const auto& c : cases) {
    std::string target(8, '.');
    EXPECT_EQ(CopyIntoField("abcdef", c.i1, c.i2, target, c.j1, c.j2), c.status)
        << c.i1 << ":" << c.i2 << " -> " << c.j1 << ":" << c.j2;
    EXPECT_EQ(target, c.target) << c.i1 << ":" << c.i2 << " -> " << c.j1 << ":" << c.j2;
  }
}

TEST(TextToInteger, Texts_ValueAndWhereTheNumberEnds) {
  const struct {
    std::string text;
    int32_t value;
    int32_t status;
  } cases[] = {
      {"42", 42, 0},         {"  -17", -17, 0},
      {"+8%rest", 8, 3},     {"255%", 255, 4},
      {"", 0, -1},           {"2147483647", 2147483647, 0},
      {"2147483648", 0, -2}, {"-2147483648", 0, -2},
  };
  for (const auto& c : cases) {
    int32_t value = -1;
    EXPECT_EQ(TextToInteger(c.text, value), c.status) << '"' << c.text << '"';
    if (c.status >= 0) {
      EXPECT_EQ(value, c.value) << '"' << c.text << '"';
    }
  }
}

}  // namespace
}  // namespace vesk1
