// %XX escape decoding of the request line, in place on a short string.
#pragma once

#include <cstddef>
#include <string_view>

#include "foundation/shortstring.h"

// The character for the two characters that follow a "%": empty when they
// are not two hexadecimal digits or give the value 0; "_" for 0x25 (an
// escaped percent sign never becomes a new escape); otherwise the character
// with that code, control characters included.
ShortString DecodeEscape(std::string_view two);

// Replaces each decodable %XX of text by its character, left to right. A
// replaced character is not examined again, a "%" among the last two
// characters is left alone, and an escape that decodes to nothing stays as
// it is. The text is kept within max_len characters (never more than 255).
void DecodeUrlEscapes(ShortString& text, std::size_t max_len = 255);
