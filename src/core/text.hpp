#pragma once
// Text forms shared by the console output and the error messages. Paths and environment values
// are byte strings; whatever reaches the terminal is valid UTF-8.

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace srb {

// U+FFFD, which stands for bytes that cannot be shown as they are.
inline constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

bool is_valid_utf8(std::string_view bytes);

// Walking text that is already valid UTF-8 (checked, or made so by lossy_utf8):
// the bytes of the character whose first byte is `lead`,
std::size_t utf8_sequence_length(unsigned char lead);
// the number of characters,
std::size_t utf8_length(std::string_view valid);
// the bytes taken by the first `count` characters (all of them when there are fewer),
std::size_t utf8_prefix_size(std::string_view valid, std::size_t count);
// and the code point of one character.
char32_t utf8_code_point(std::string_view character);

// A C0 control character, DEL, or a C1 control character (U+0080..U+009F).
bool is_control_character(char32_t c);

// The bytes with each maximal invalid UTF-8 subsequence replaced by U+FFFD.
std::string lossy_utf8(std::string_view bytes);

// A text as printed unquoted, so that it can neither move the cursor, start a terminal escape
// nor begin a line of its own: invalid sequences shown as U+FFFD, and tab, carriage return, line
// feed and NUL as \t \r \n \0, other control characters as \u{hex}, the way quoted_text writes
// them. Everything else, a backslash included, is left as it is, so ordinary text is unchanged.
std::string printable(std::string_view bytes);

// A path as printed: printable() of its bytes.
std::string display(const std::filesystem::path& path);

// A double-quoted form of a text: \" \\ \t \r \n \0 escaped, other control characters as
// \u{hex}. Invalid UTF-8 bytes, which only paths can hold, are written as \xHH.
std::string quoted_text(std::string_view bytes);

// The words with `separator` between each two: joined({"key", "generate"}, " ") is "key generate".
std::string joined(const std::vector<std::string>& words, std::string_view separator);

}  // namespace srb
