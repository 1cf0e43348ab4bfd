#include "platform/ui/convert.h"

#include <stdexcept>

namespace platform::ui {

bool ReadInt32(std::string_view text, int32_t& value, bool trailing_blanks) {
  std::size_t i = text.find_first_not_of(' ');
  if (i == std::string_view::npos) return false;
  std::size_t end = trailing_blanks ? text.find_last_not_of(' ') + 1 : text.size();
  bool negative = text[i] == '-';
  if (text[i] == '+' || text[i] == '-') ++i;
  if (i >= end) return false;
  int64_t v = 0;
  for (; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
    if (v > int64_t{INT32_MAX} + 1) return false;
  }
  if (negative) v = -v;
  if (v > INT32_MAX) return false;
  value = static_cast<int32_t>(v);
  return true;
}

int32_t StrToInt(const std::string& text, bool trailing_blanks) {
  int32_t value = 0;
  if (!ReadInt32(text, value, trailing_blanks)) throw std::runtime_error("'" + text + "' is not a valid integer value");
  return value;
}

}  // namespace platform::ui
