// The class library's reading of a whole number from a field's text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/export.h"

namespace platform::ui {

// Blanks, an optional sign and decimal digits whose value fits in 32 bits;
// blanks after the digits only when trailing_blanks. False for anything
// else, value then unchanged.
HALV_EXPORT bool ReadInt32(std::string_view text, int32_t& value, bool trailing_blanks = false);

// The number ReadInt32 reads, or std::runtime_error
// "'<text>' is not a valid integer value".
HALV_EXPORT int32_t StrToInt(const std::string& text, bool trailing_blanks = false);

// The number StrToInt reads, within min..max: a text that is no whole
// number throws as StrToInt does; a whole number outside the bounds (however
// long) throws std::runtime_error
// "'<text>' is out of range for <what> (<min> to <max>)".
HALV_EXPORT int32_t StrToIntRange(const std::string& text, int32_t min, int32_t max, const std::string& what,
                                  bool trailing_blanks = false);

}  // namespace platform::ui
