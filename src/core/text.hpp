#pragma once
// Text forms shared by the console output and the error messages. Paths and environment values
// are byte strings; whatever reaches the terminal is valid UTF-8.

#include <string>
#include <string_view>

namespace srb {

bool is_valid_utf8(std::string_view bytes);

// The bytes with each maximal invalid UTF-8 subsequence replaced by U+FFFD.
std::string lossy_utf8(std::string_view bytes);

// A double-quoted form of a text: \" \\ \t \r \n \0 escaped, other control characters as
// \u{hex}. Invalid UTF-8 bytes, which only paths can hold, are written as \xHH.
std::string quoted_text(std::string_view bytes);

}  // namespace srb
