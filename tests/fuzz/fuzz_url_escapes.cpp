// Checks DecodeUrlEscapes on arbitrary text against a plain reference of the
// same rule written over std::string.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "server/urldecode.h"

namespace {

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string Reference(std::string s) {
  for (std::size_t i = 0; i + 2 < s.size(); ++i) {
    if (s[i] != '%') continue;
    int hi = Hex(s[i + 1]), lo = Hex(s[i + 2]);
    if (hi < 0 || lo < 0 || hi * 16 + lo == 0) continue;
    int v = hi * 16 + lo;
    s.replace(i, 3, 1, v == 0x25 ? '_' : static_cast<char>(v));
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  ShortString text(input);  // cut to 255
  std::string expected = Reference(text.str());
  DecodeUrlEscapes(text, 255);
  if (text.view() != expected) std::abort();

  // Decoding twice, as the request-line split does, stays within the string.
  DecodeUrlEscapes(text, 255);
  if (text.size() > expected.size()) std::abort();

  ShortString one = DecodeEscape(input.substr(0, 2));
  if (one.size() > 1) std::abort();
  return 0;
}
