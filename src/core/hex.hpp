#pragma once
// Hexadecimal text of keys, signatures and digests: written in lower case, read in either case.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace srb {

std::string encode_hex(std::span<const unsigned char> bytes);

// Decodes hex text. On failure `error` holds "Odd number of digits" when the text has an odd
// number of characters (not bytes; checked before any character is looked at) or "Invalid
// character 'c' at position N" for the first bad character, N being the byte where it starts.
struct HexDecoded {
  std::vector<unsigned char> bytes;
  std::optional<std::string> error;
};
HexDecoded decode_hex(std::string_view text);

}  // namespace srb
