#pragma once
// How wide help may be on a given output stream.

#include <cstddef>
#include <optional>

#include "cli/output.hpp"

namespace srb {

inline constexpr std::size_t kDefaultWidth = 80;

// The value of COLUMNS when it is a positive decimal number (capped at a size no terminal
// reaches); anything else, an absent variable included, gives nullopt.
std::optional<std::size_t> parse_columns(const char* value);

// The columns help may use on `output`: COLUMNS when usable, else the width of the terminal
// behind its descriptor, else 80. Layout only: nothing else depends on it.
std::size_t console_width(const Output& output);

}  // namespace srb
