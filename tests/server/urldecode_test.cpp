#include "server/urldecode.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Decoded(const std::string& in, std::size_t max_len = 255) {
  ShortString s(in);
  DecodeUrlEscapes(s, max_len);
  return s.str();
}

TEST(DecodeEscape, HexDigitsInEitherCaseGiveTheirCharacter) {
  EXPECT_EQ(DecodeEscape("41").str(), "A");
  EXPECT_EQ(DecodeEscape("7e").str(), "~");
  EXPECT_EQ(DecodeEscape("7E").str(), "~");
  EXPECT_EQ(DecodeEscape("fF").str(), "\xff");
  EXPECT_EQ(DecodeEscape("0d").str(), "\r");
}

TEST(DecodeEscape, ZeroAndNonHexGiveNothing) {
  EXPECT_EQ(DecodeEscape("00").str(), "");
  EXPECT_EQ(DecodeEscape("zz").str(), "");
  EXPECT_EQ(DecodeEscape("4g").str(), "");
  EXPECT_EQ(DecodeEscape("%4").str(), "");
  EXPECT_EQ(DecodeEscape(" 4").str(), "");
  EXPECT_EQ(DecodeEscape("+4").str(), "");
  EXPECT_EQ(DecodeEscape("4").str(), "");
  EXPECT_EQ(DecodeEscape("").str(), "");
}

TEST(DecodeEscape, EscapedPercentBecomesUnderscore) { EXPECT_EQ(DecodeEscape("25").str(), "_"); }

struct Case {
  const char* in;
  std::string out;
};

TEST(DecodeUrlEscapes, TableOfEdgeCases) {
  const Case cases[] = {
      {"a%20b", "a b"},
      {"%41%42", "AB"},
      {"%2541", "_41"},
      {"%%41", "%A"},
      {"%00", "%00"},
      {"%zz", "%zz"},
      {"100%", "100%"},
      {"%4", "%4"},
      {"%", "%"},
      {"", ""},
      {"%0D%0A", "\r\n"},
      {"x%41", "xA"},
      {"ab%4", "ab%4"},
      {"a%41%", "aA%"},
      {"%41%4", "A%4"},
      {"%%%41", "%%A"},
      {"%7f%01", "\x7f\x01"},
  };
  for (const Case& c : cases) EXPECT_EQ(Decoded(c.in), c.out) << "input " << c.in;
}

TEST(DecodeUrlEscapes, ReplacedCharacterIsNotExaminedAgain) {
  // "%25" gives "_", never a "%" that could start a new escape; and a "%"
  // produced by %25 elsewhere cannot appear at all.
  EXPECT_EQ(Decoded("%2525"), "_25");
  // The character after a replacement is the next one looked at.
  EXPECT_EQ(Decoded("%41%41%41"), "AAA");
}

TEST(DecodeUrlEscapes, FullLengthTextDecodesToTheEnd) {
  std::string in;
  for (int i = 0; i < 85; ++i) in += "%41";  // 255 characters
  EXPECT_EQ(Decoded(in), std::string(85, 'A'));
}

TEST(DecodeUrlEscapes, ResultKeptWithinTheMaximum) {
  EXPECT_EQ(Decoded("abcdef", 4), "abcd");
  EXPECT_EQ(Decoded("%41bcdef", 4), "Abcd");
  EXPECT_EQ(Decoded("abc", 300), "abc");
}

}  // namespace
