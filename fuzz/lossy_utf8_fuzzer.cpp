// Path and value rendering: lossy_utf8 must turn any bytes into valid UTF-8, leave valid UTF-8
// alone, and replace each maximal invalid subpart by exactly one U+FFFD. Both it and
// is_valid_utf8 are compared with a reference written from the table of well-formed byte
// sequences, independent of the decoder under test. quoted_text must stay valid UTF-8 too.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/text.hpp"
#include "fuzz_check.hpp"

namespace {

// The allowed range of the byte at `index` (0 = lead) of a well-formed sequence starting with
// `lead`, or false when `lead` starts none or the sequence is shorter.
bool byte_range(unsigned char lead, std::size_t index, unsigned char& low, unsigned char& high) {
  struct Row {
    unsigned char lead_low, lead_high, second_low, second_high;
    std::size_t length;
  };
  static constexpr Row kRows[] = {
      {0x00, 0x7F, 0, 0, 1},       {0xC2, 0xDF, 0x80, 0xBF, 2}, {0xE0, 0xE0, 0xA0, 0xBF, 3},
      {0xE1, 0xEC, 0x80, 0xBF, 3}, {0xED, 0xED, 0x80, 0x9F, 3}, {0xEE, 0xEF, 0x80, 0xBF, 3},
      {0xF0, 0xF0, 0x90, 0xBF, 4}, {0xF1, 0xF3, 0x80, 0xBF, 4}, {0xF4, 0xF4, 0x80, 0x8F, 4},
  };
  for (const Row& row : kRows) {
    if (lead < row.lead_low || lead > row.lead_high) continue;
    if (index >= row.length) return false;
    if (index == 0)
      low = row.lead_low, high = row.lead_high;
    else if (index == 1)
      low = row.second_low, high = row.second_high;
    else
      low = 0x80, high = 0xBF;
    return true;
  }
  return false;
}

// Length of the well-formed sequence at `pos`, or 0; `prefix` gets the length of the longest
// prefix of one (at least 1), which is what one U+FFFD replaces.
std::size_t sequence_at(std::string_view bytes, std::size_t pos, std::size_t& prefix) {
  const auto lead = static_cast<unsigned char>(bytes[pos]);
  std::size_t length = 0;
  unsigned char low = 0, high = 0;
  while (pos + length < bytes.size() && byte_range(lead, length, low, high)) {
    const auto byte = static_cast<unsigned char>(bytes[pos + length]);
    if (byte < low || byte > high) break;
    ++length;
  }
  prefix = length == 0 ? 1 : length;
  const bool complete = !byte_range(lead, length, low, high) && length > 0;
  return complete ? length : 0;
}

std::string reference_lossy(std::string_view bytes, bool& valid) {
  std::string out;
  valid = true;
  for (std::size_t pos = 0; pos < bytes.size();) {
    std::size_t prefix = 0;
    const std::size_t length = sequence_at(bytes, pos, prefix);
    if (length > 0) {
      out += bytes.substr(pos, length);
      pos += length;
    } else {
      out += "\xEF\xBF\xBD";
      valid = false;
      pos += prefix;
    }
  }
  return out;
}

bool reference_valid(std::string_view bytes) {
  bool valid = false;
  reference_lossy(bytes, valid);
  return valid;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  bool valid = false;
  const std::string expected = reference_lossy(bytes, valid);
  const std::string lossy = srb::lossy_utf8(bytes);

  FUZZ_CHECK(srb::is_valid_utf8(bytes) == valid);
  FUZZ_CHECK(lossy == expected);
  FUZZ_CHECK(!valid || lossy == bytes);
  FUZZ_CHECK(srb::is_valid_utf8(lossy));

  const std::string quoted = srb::quoted_text(bytes);
  FUZZ_CHECK(reference_valid(quoted));
  FUZZ_CHECK(quoted.size() >= 2 && quoted.front() == '"' && quoted.back() == '"');
  return 0;
}
