#include "platform/ui/convert.h"

#include <gtest/gtest.h>

#include <string>

namespace platform::ui {
namespace {

TEST(ReadInt32, BlanksSignDigitsAndThe32BitBounds) {
  struct Case {
    std::string text;
    bool trailing_blanks;
    bool ok;
    int32_t value;
  } cases[] = {
      {"42", false, true, 42},
      {"  -7", false, true, -7},
      {"+0012", false, true, 12},
      {"2147483647", false, true, INT32_MAX},
      {"-2147483648", false, true, INT32_MIN},
      {"2147483648", false, false, 0},
      {"-2147483649", false, false, 0},
      {"99999999999999999999", false, false, 0},
      {"5 ", false, false, 0},
      {"5  ", true, true, 5},
      {" - 5", true, false, 0},
      {"", false, false, 0},
      {"   ", true, false, 0},
      {"+", false, false, 0},
      {"8o", false, false, 0},
      {"0x10", false, false, 0},
  };
  for (const Case& c : cases) {
    int32_t value = 0;
    EXPECT_EQ(ReadInt32(c.text, value, c.trailing_blanks), c.ok) << "'" << c.text << "'";
    EXPECT_EQ(value, c.value) << "'" << c.text << "'";
  }
}

}  // namespace
}  // namespace platform::ui
