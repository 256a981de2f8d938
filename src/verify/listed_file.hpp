#pragma once
// Opening a file the manifest lists, judged by what was opened rather than by an earlier look.

#include <string>

#include "core/result.hpp"
#include "core/unique_fd.hpp"

namespace srb {

// Opens `full` (a payload entry's full path; `path` is its manifest text, named in failures)
// for reading without following a final link, without waiting on a FIFO and without taking a
// terminal, and keeps it in `file` only when the descriptor is a regular file. A link there
// (ELOOP) or anything but a regular file fails with NotRegularFile, an absent entry with
// MissingFromPayload, any other failure with Io. Links among the parent directories are followed.
Result<void> open_listed_file(const std::string& full, const std::string& path, UniqueFd& file);

}  // namespace srb
