#pragma once
// An upper bound on how deeply a TOML text nests, found without parsing it.

#include <cstddef>
#include <string_view>

namespace srb {

// At least the depth of the deepest table or array that a TOML parser builds from `text`, for
// any text it accepts, and for a text it refuses at least the depth reached before the error.
// Strings and comments do not count, so the dots of file names cost nothing.
std::size_t nesting_bound(std::string_view text);

}  // namespace srb
