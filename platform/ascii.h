#pragma once

// ASCII case folding: only 'a'..'z' and 'A'..'Z' change; every other byte
// (UTF-8 and code-page letters included) stays as it is.

#include <cstddef>
#include <string>
#include <string_view>

namespace platform::ascii {

constexpr char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline void UpperInPlace(char* text, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) text[i] = Upper(text[i]);
}

inline std::string UpperCase(std::string_view text) {
  std::string s(text);
  UpperInPlace(s.data(), s.size());
  return s;
}

inline std::string LowerCase(std::string_view text) {
  std::string s(text);
  for (char& c : s) c = Lower(c);
  return s;
}

// Folded to lower case, so "_" sorts before letters; negative, 0 or positive
// like strcmp, bytes compared unsigned.
constexpr int CompareText(std::string_view a, std::string_view b) {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(Lower(a[i]));
    auto y = static_cast<unsigned char>(Lower(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

constexpr bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

constexpr bool StartsWithText(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

}  // namespace platform::ascii
