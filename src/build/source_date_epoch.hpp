#pragma once
// The production time recorded as produced_at: SOURCE_DATE_EPOCH when set, so that rebuilds are
// byte-identical, otherwise the real-time clock.

#include <time.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "core/result.hpp"

namespace srb {

// An optional single "+", then one or more ASCII digits (leading zeros allowed), no larger than
// 2^64 - 1. Anything else, the empty text included, gives nothing.
std::optional<std::uint64_t> parse_source_date_epoch(std::string_view text);

// SOURCE_DATE_EPOCH parsed as above, or the current time in whole seconds since the Unix epoch
// (0 for a clock set before it) when the variable is unset. Fails with InvalidSourceDateEpoch
// carrying the variable's raw text.
Result<std::uint64_t> produced_at_now();

// The time a build gives every file and directory it writes, so that two builds of the same inputs
// make the same tree: SOURCE_DATE_EPOCH when it is set, valid and within the range of file times.
// Nothing otherwise, and the files keep the time they were written at; an invalid value fails
// the build later, when produced_at is fixed, with its own message.
std::optional<struct timespec> tree_time_now();

}  // namespace srb
