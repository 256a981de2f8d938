#pragma once
// Opening a file the manifest lists, inside the bundle only, judged by what was opened rather
// than by an earlier look.

#include <string>

#include "core/result.hpp"
#include "core/unique_fd.hpp"

namespace srb {

// Opens the listed `path` below the bundle directory `bundle` for reading, without following a
// final link, without waiting on a FIFO and without taking a terminal, and hands it over only
// when the descriptor is a regular file. Links among the parent directories are followed while
// they stay inside the bundle. Fails with MissingFromPayload when nothing is there or the path
// would leave the bundle (a dangling final link included); with NotRegularFile for a final link
// that leads somewhere, for a final link that leads out of the bundle (not followed to see) and
// for anything but a regular file; with Io for any other failure, a file that may not be read
// included.
Result<UniqueFd> open_listed_file(int bundle, const std::string& path);

}  // namespace srb
