#pragma once
// The payload listing: every entry below a bundle directory that is not a directory.

#include <filesystem>
#include <string>
#include <vector>

#include "core/result.hpp"

namespace srb {

// Each entry's location relative to the listed root, "/"-separated, as UTF-8 text (invalid bytes
// become U+FFFD, a backslash becomes "/"). Sorted byte-wise as unsigned bytes, as std::string
// compares, and each location once, so front() is the smallest.
using PayloadListing = std::vector<std::string>;

// Lists regular files, symbolic links (never followed, whatever they point to) and special files
// at any depth below `root`; directories themselves leave no entry. Two entries that map to the
// same location are listed once. Works without recursion and with a bounded number of open
// descriptors, so any depth is handled. Fails with Io when a directory cannot be opened or read,
// or when an entry's type cannot be queried.
Result<PayloadListing> collect_payload(const std::filesystem::path& root);
// The same below `root_fd`, a descriptor of a directory (an O_PATH one will do), so that the
// listing is of the very directory the caller opened.
Result<PayloadListing> collect_payload(int root_fd);

}  // namespace srb
