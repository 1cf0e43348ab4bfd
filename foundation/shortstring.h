// The system's short string: at most N bytes of text behind a length byte,
// one fixed block with no terminator. Records shared with the interface
// library and handed to outside code hold these in place, so the type is
// standard-layout and trivially copyable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

template <std::size_t N = 255>
struct ShortStr {
  static_assert(N >= 1 && N <= 255, "a short string holds 1 to 255 bytes");
  static constexpr std::size_t kMax = N;

  std::uint8_t len;
  char data[N];

  ShortStr() = default;  // trivial: zero it where a record is created
  ShortStr(std::string_view s) { assign(s); }  // NOLINT: used like a string

  // Copies at most N bytes of s; a longer text is cut.
  void assign(std::string_view s) {
    std::size_t n = s.size() < N ? s.size() : N;
    if (n) std::memmove(data, s.data(), n);
    len = static_cast<std::uint8_t>(n);
  }
  ShortStr& operator=(std::string_view s) {
    assign(s);
    return *this;
  }
  void clear() { len = 0; }

  std::size_t size() const { return len; }
  bool empty() const { return len == 0; }
  std::string_view view() const { return std::string_view(data, len); }
  std::string str() const { return std::string(data, len); }
  operator std::string_view() const { return view(); }  // NOLINT

  // Appends what fits; returns false when s had to be cut.
  bool append(std::string_view s) {
    std::size_t room = N - len;
    std::size_t n = s.size() < room ? s.size() : room;
    if (n) std::memcpy(data + len, s.data(), n);
    len = static_cast<std::uint8_t>(len + n);
    return n == s.size();
  }

  friend bool operator==(const ShortStr& a, std::string_view b) { return a.view() == b; }
};

using ShortString = ShortStr<255>;

static_assert(sizeof(ShortString) == 256);
