#pragma once
// The payload listing: every entry below a bundle directory that is not a directory.

#include <string>
#include <vector>

#include "core/result.hpp"
#include "verify/checked.hpp"

namespace srb {

struct PayloadListing {
  // Each entry's location relative to the listed root, "/"-separated, as UTF-8 text (invalid
  // bytes become U+FFFD, a backslash becomes "/"). Sorted byte-wise as unsigned bytes, as
  // std::string compares, and each location once, so front() is the smallest.
  std::vector<std::string> entries;
  // Every directory walked, the root first, each as it was when first opened.
  std::vector<CheckedDirectory> directories;
};

// Lists regular files, symbolic links (never followed, whatever they point to) and special files
// at any depth below `root_fd`, a descriptor of a directory (an O_PATH one will do), so that the
// listing is of the very directory the caller opened; directories themselves leave no entry. Two
// entries that map to the same location are listed once. Works without recursion and with a
// bounded number of open descriptors (fewer when the process runs short of them), so any depth is
// handled. Nothing outside the root is ever opened: a directory the walk has to open again is
// found below the root by the confined resolver and must be the one first opened. Fails with Io
// when a directory cannot be opened or read, when an entry's type cannot be queried, or when a
// directory was replaced during the walk.
Result<PayloadListing> collect_payload(int root_fd);

}  // namespace srb
