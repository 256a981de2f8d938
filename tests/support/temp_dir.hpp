#pragma once
// Scratch directories and files for tests that need a real file system.

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace srb::test {

// A fresh directory under the system's temporary directory, removed with all its content.
class TempDir {
 public:
  TempDir();
  // A fresh directory under `base` instead.
  explicit TempDir(const std::filesystem::path& base);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& relative) const {
    return path_ / relative;
  }

 private:
  std::filesystem::path path_;
};

// Writes `content` to `path`, creating missing parent directories, and sets `mode`.
void write_file(const std::filesystem::path& path, std::string_view content, mode_t mode = 0644);

// The whole content of a file; throws when it cannot be read.
std::string read_file(const std::filesystem::path& path);

// The whole content of a file, or nothing when it cannot be read: for a file that another
// process may be replacing at that moment.
std::optional<std::string> read_file_if_present(const std::filesystem::path& path);

// The names of the entries directly in `directory`, sorted; throws when it cannot be read.
std::vector<std::string> names_in(const std::filesystem::path& directory);

// Makes a character device node at `path` with the numbers of /dev/null (`major` 1, `minor` 3)
// or another memory device such as /dev/full (1, 7), mode 0666, owned by root: a private device
// that a test may write through without touching the system's own. False where device nodes
// cannot be made.
bool make_memory_device(const std::filesystem::path& path, unsigned minor = 3);

// The permission bits of `path` itself (setuid, setgid and sticky included; a link is not
// followed); throws when its status cannot be read.
mode_t permissions_of(const std::filesystem::path& path);

// Lays out a fake host root: each absolute host path (e.g. "/lib64/libc.so.6") becomes a file
// under `root` whose content names the path, so every file has distinct bytes.
void make_host_root(const std::filesystem::path& root,
                    std::initializer_list<std::string_view> host_paths);

}  // namespace srb::test
