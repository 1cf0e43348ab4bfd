#include "platform/ascii.h"

#include <gtest/gtest.h>

namespace ascii = platform::ascii;

// Only the 26 ASCII letters fold; bytes above 127 (UTF-8 or code-page
// letters) and the neighbours of the letter ranges stay as they are.
TEST(AsciiTest, FoldsOnlyAsciiLetters) {
  EXPECT_EQ(ascii::UpperCase("az@[`{AZ\xe4\xc3\xa9"), "AZ@[`{AZ\xe4\xc3\xa9");
  EXPECT_EQ(ascii::LowerCase("AZ@[`{az\xc4"), "az@[`{az\xc4");
  char text[] = "mixed Case";
  ascii::UpperInPlace(text, 5);
  EXPECT_STREQ(text, "MIXED Case");
}

TEST(AsciiTest, ComparesWithoutCase) {
  struct {
    const char* a;
    const char* b;
    int order;
  } cases[] = {
      {"Index.HTML", "index.html", 0}, {"a_b", "aAb", -1},  // "_" before letters: folded to lower case
      {"abc", "ab", 1},  {"", "", 0},  {"\xe4", "\xc4", 1},  // bytes above 127 compare unsigned, unfolded
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ascii::CompareText(c.a, c.b), c.order) << c.a << " / " << c.b;
    EXPECT_EQ(ascii::CompareText(c.b, c.a), -c.order) << c.b << " / " << c.a;
    EXPECT_EQ(ascii::SameText(c.a, c.b), c.order == 0) << c.a << " / " << c.b;
  }
  EXPECT_TRUE(ascii::StartsWithText("Multipart/Form-Data; x", "multipart/form-data"));
  EXPECT_FALSE(ascii::StartsWithText("multi", "multipart"));
}
