#pragma once
// The payload listing: every entry below a bundle directory that is not a directory.

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

#include "core/result.hpp"

namespace srb {

// Key: the entry's location relative to the listed root, "/"-separated, as UTF-8 text (invalid
// bytes become U+FFFD, a backslash becomes "/"). Value: the root joined with the relative part,
// as the path's bytes: a std::filesystem::path would also hold every component apart, several
// hundred bytes per entry of a large bundle. std::map orders std::string keys byte-wise as
// unsigned bytes, so begin() is the smallest key.
using PayloadListing = std::map<std::string, std::string>;

// `root` joined with a relative path exactly as std::filesystem's operator/ joins them ("a" and
// "b" give "a/b", "a/" and "b" give "a/b", "" and "b" give "b"), without building a path object.
std::string join_relative(std::string_view root, std::string_view relative);

// Lists regular files, symbolic links (never followed, whatever they point to) and special files
// at any depth below `root`; directories themselves leave no entry. When two entries map to the
// same key, the one listed later wins. Works without recursion and with a bounded number of open
// descriptors, so any depth is handled. Fails with Io when a directory cannot be opened or read,
// or when an entry's type cannot be queried.
Result<PayloadListing> collect_payload(const std::filesystem::path& root);
// The same below `root_fd`, a descriptor of the directory `root` names (an O_PATH one will do),
// so that the listing is of the very directory the caller opened.
Result<PayloadListing> collect_payload(int root_fd, const std::filesystem::path& root);

}  // namespace srb
