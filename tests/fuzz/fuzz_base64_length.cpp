// Base64 credentials and Content-Length, as a client sends them.
// Properties: DecodeBase64 agrees with a plain reference of its rule (four
// places per group, "=" and foreign characters add no bits, the output cut
// at its first zero byte and at 255); ParseContentLength gives the value of
// a digits-only text within 0..2147483647 and the no-length mark for
// everything else, and never a valid length equal to the mark.
#include <string>

#include "server/httpparse.h"
#include "server/httprecords.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

int Sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

std::string ReferenceBase64(std::string_view in) {
  std::string out;
  for (std::size_t g = 0; g < in.size(); g += 4) {
    uint32_t v = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      int s = g + k < in.size() ? Sextet(in[g + k]) : -1;
      v = (v << 6) | static_cast<uint32_t>(s < 0 ? 0 : s);
    }
    out.push_back(static_cast<char>(v >> 16));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
    out.push_back(static_cast<char>(v & 0xFF));
  }
  std::size_t zero = out.find('\0');
  if (zero != std::string::npos) out.resize(zero);
  if (out.size() > 255) out.resize(255);
  return out;
}

int64_t ReferenceLength(std::string_view v) {
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
  while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
  if (v.empty()) return kContentLengthAbsent;
  bool over = false;
  unsigned __int128 n = 0;
  for (char c : v) {
    if (c < '0' || c > '9') return kContentLengthAbsent;
    n = n * 10 + static_cast<unsigned>(c - '0');
    if (n > static_cast<unsigned __int128>(kContentLengthMax)) {
      over = true;
      n = 0;
    }
  }
  return over ? kContentLengthAbsent : static_cast<int64_t>(n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  ShortString decoded = DecodeBase64(input);
  fuzz::Check(decoded.view() == ReferenceBase64(input));

  int64_t length = ParseContentLength(input);
  fuzz::Check(length == ReferenceLength(input));
  fuzz::Check(length == kContentLengthAbsent || (length >= 0 && length <= kContentLengthMax));
  // Every valid length reads back as itself, the largest too.
  int64_t probe = static_cast<int64_t>(size) * 2147483647 / 65536 % (kContentLengthMax + 1);
  fuzz::Check(ParseContentLength(std::to_string(probe)) == probe);
  return 0;
}
