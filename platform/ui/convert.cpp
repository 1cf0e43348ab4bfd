#include "platform/ui/convert.h"

#include <algorithm>
#include <stdexcept>

namespace platform::ui {

namespace {

// Blanks, an optional sign and decimal digits; a value beyond 2^40 counts
// as 2^40 (with its sign), which no caller's bounds reach.
bool ReadWhole(std::string_view text, int64_t& value, bool trailing_blanks) {
  constexpr int64_t kCap = int64_t{1} << 40;
  std::size_t i = text.find_first_not_of(' ');
  if (i == std::string_view::npos) return false;
  std::size_t end = trailing_blanks ? text.find_last_not_of(' ') + 1 : text.size();
  bool negative = text[i] == '-';
  if (text[i] == '+' || text[i] == '-') ++i;
  if (i >= end) return false;
  int64_t v = 0;
  for (; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = std::min(v * 10 + (text[i] - '0'), kCap);
  }
  value = negative ? -v : v;
  return true;
}

}  // namespace

bool ReadInt32(std::string_view text, int32_t& value, bool trailing_blanks) {
  int64_t v = 0;
  if (!ReadWhole(text, v, trailing_blanks) || v < INT32_MIN || v > INT32_MAX) return false;
  value = static_cast<int32_t>(v);
  return true;
}

int32_t StrToInt(const std::string& text, bool trailing_blanks) {
  int32_t value = 0;
  if (!ReadInt32(text, value, trailing_blanks)) throw std::runtime_error("'" + text + "' is not a valid integer value");
  return value;
}

int32_t StrToIntRange(const std::string& text, int32_t min, int32_t max, const std::string& what,
                      bool trailing_blanks) {
  int64_t value = 0;
  if (!ReadWhole(text, value, trailing_blanks)) throw std::runtime_error("'" + text + "' is not a valid integer value");
  if (value < min || value > max)
    throw std::runtime_error("'" + text + "' is out of range for " + what + " (" + std::to_string(min) + " to " +
                             std::to_string(max) + ")");
  return static_cast<int32_t>(value);
}

}  // namespace platform::ui
