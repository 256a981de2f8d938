#pragma once
// Upper bounds on what reading a TOML text into the manifest record takes, found without parsing
// it: how deeply the document nests, and how much memory the document tree, the parser's buffers
// and stack, and the record built from the tree may take at most beyond the text itself.

#include <cstddef>
#include <string_view>

namespace srb {

// What reading one manifest text may take beyond the text itself: with a text of 64 MiB, the
// most bundle.toml may hold, under 1 GiB in all.
inline constexpr std::size_t kReadingBudget = std::size_t{768} << 20;

struct ReadingBound {
  // At least the depth of the deepest table or array that the parser builds from the text, for
  // any text it accepts, and for a text it refuses at least the depth reached before the error.
  std::size_t levels = 0;
  // At least the peak memory of reading the text (or, once over the budget, of the part read).
  std::size_t bytes = 0;
  // Where `bytes` first passed the budget: the byte offset of the key, value or bracket that took
  // it over; npos when the whole text stays within it.
  std::size_t passed_at = std::string_view::npos;
};

// Scans `text` (without a byte-order mark) and stops where the memory bound passes `budget`.
// Strings and comments count only for the bytes they hold, so the dots of file names nest nothing.
ReadingBound bound_reading(std::string_view text, std::size_t budget);

}  // namespace srb
