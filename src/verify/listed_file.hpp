#pragma once
// Opening the files a manifest lists, inside the bundle only, each judged by what was opened
// rather than by an earlier look.

#include <sys/stat.h>

#include <string>

#include "core/result.hpp"
#include "core/unique_fd.hpp"

namespace srb {

// A listed file opened for reading, known to be a regular file, with its status as opened.
struct OpenedListedFile {
  UniqueFd fd;
  struct stat status {};
};

// Opens the listed `path` below the bundle directory `bundle` (a descriptor the caller keeps open)
// for reading, without following a final link, without waiting on a FIFO and without taking a
// terminal, and hands it over only when the descriptor is a regular file. Links among the parent
// directories are followed while they stay inside the bundle. Fails with MissingFromPayload when
// nothing is there or the path would leave the bundle (a dangling final link included); with
// NotRegularFile for a final link that leads somewhere, for a final link that leads out of the
// bundle (not followed to see) and for anything but a regular file; with Io for any other
// failure, a file that may not be read included.
Result<OpenedListedFile> open_listed_file(int bundle, const std::string& path);

}  // namespace srb
