#pragma once
// A direct reader for the one layout the writer produces. bundle.toml is nearly always exactly
// what build wrote, and reading that text line by line into the record costs a fraction of a
// general TOML parse and keeps no document model in memory. Any text that deviates from the
// layout in the smallest way (a comment, another key order, an escape, CRLF line ends, a byte
// order mark) is left to the general reader, so what a document means, and every error text,
// stays the general reader's.

#include <optional>
#include <string_view>

#include "manifest/manifest.hpp"

namespace srb {

// The record when `text` is exactly in the writer's layout; nullopt otherwise. On every text it
// accepts, the general TOML reader yields the same record.
std::optional<BundleManifest> read_written_layout(std::string_view text);

}  // namespace srb
