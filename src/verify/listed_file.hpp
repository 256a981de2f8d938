#pragma once
// Opening the files a manifest lists, inside the bundle only, each judged by what was opened
// rather than by an earlier look.

#include <sys/stat.h>

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "core/result.hpp"
#include "core/unique_fd.hpp"

namespace srb {

// A listed file opened for reading, known to be a regular file, with its status as opened.
struct OpenedListedFile {
  UniqueFd fd;
  struct stat status {};
};

// Opens listed files below the bundle directory `bundle` (a descriptor the caller keeps open).
// The parent directories of the last few files stay open: build lists files sorted by path, so
// the files of one directory follow each other and each directory is resolved once per run of
// them, whatever the manifest's order. When the process runs out of descriptors, the opener lets
// go of everything it keeps but the directory in use and tries again.
class ListedFileOpener {
 public:
  explicit ListedFileOpener(int bundle) : bundle_(bundle) {}

  // Opens the listed `path` for reading, without following a final link, without waiting on a
  // FIFO and without taking a terminal, and hands it over only when the descriptor is a regular
  // file. Links among the parent directories are followed while they stay inside the bundle.
  // Fails with MissingFromPayload when nothing is there or the path would leave the bundle (a
  // dangling final link included); with NotRegularFile for a final link that leads somewhere,
  // for a final link that leads out of the bundle (not followed to see) and for anything but a
  // regular file; with Io for any other failure, a file that may not be read included.
  Result<OpenedListedFile> open(const std::string& path);

 private:
  static constexpr std::size_t kCachedParents = 8;
  struct Parent {
    std::string path;
    UniqueFd dir;
  };

  // The parent directory's descriptor, or -1 with errno set.
  int parent_dir(std::string_view parent);
  // What `open_file()` returns, tried again after make_room when the descriptor table was full.
  template <typename OpenFile>
  int with_room(OpenFile open_file, int keep);
  // Closes every cached parent but `keep`; false when nothing was open.
  bool make_room(int keep);

  int bundle_;
  std::array<Parent, kCachedParents> parents_;
  std::size_t last_used_ = 0;  // looked at first: a sorted list asks for it again and again
  std::size_t next_slot_ = 0;  // where the next directory opened goes
};

}  // namespace srb
