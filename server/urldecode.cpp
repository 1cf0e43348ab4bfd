#include "server/urldecode.h"

#include <cstring>

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

ShortString DecodeEscape(std::string_view two) {
  ShortString out{};
  if (two.size() != 2) return out;
  int hi = HexDigit(two[0]);
  int lo = HexDigit(two[1]);
  if (hi < 0 || lo < 0) return out;
  int value = hi * 16 + lo;
  if (value == 0) return out;
  char c = value == 0x25 ? '_' : static_cast<char>(value);
  out.assign(std::string_view(&c, 1));
  return out;
}

void DecodeUrlEscapes(ShortString& text, std::size_t max_len) {
  if (max_len > ShortString::kMax) max_len = ShortString::kMax;
  // 0-based i here; the loop runs while two characters follow position i.
  // Each replacement shortens the text by two, so the length is read anew
  // for every test.
  for (std::size_t i = 0; i + 2 < text.size(); ++i) {
    if (text.data[i] != '%') continue;
    ShortString r = DecodeEscape(std::string_view(text.data + i + 1, 2));
    if (r.empty()) continue;
    text.data[i] = r.data[0];
    std::memmove(text.data + i + 1, text.data + i + 3, text.size() - i - 3);
    text.len = static_cast<std::uint8_t>(text.len - 2);
  }
  if (text.size() > max_len) text.len = static_cast<std::uint8_t>(max_len);
}
