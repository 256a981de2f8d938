#include "verify/payload_listing.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <utility>
#include <vector>

#include "core/text.hpp"
#include "core/unique_fd.hpp"

// collect_payload walks the tree depth-first with an explicit stack of frames, so a hostile
// bundle nested thousands of levels deep cannot exhaust the call stack. Each directory is read
// whole as soon as it is opened: its other entries go straight into the listing, and the names
// of its subdirectories wait in its frame. A subdirectory is opened relative to its parent's
// descriptor, so the kernel never sees more than one name on the way down, whatever the depth.
// Only the innermost frames keep their directory open; an outer frame that still has
// subdirectories to visit when the walk climbs back to it is reopened from the root, in pieces
// shorter than PATH_MAX, so neither the descriptor table nor the path length limit the depth.

namespace srb {
namespace {

// How many of the innermost frames keep their directory open.
constexpr std::size_t kOpenFrames = 16;

enum class FollowLinks { no, yes };

// Owns one open directory stream (and with it, its descriptor).
class DirHandle {
 public:
  DirHandle() = default;
  explicit DirHandle(DIR* dir) : dir_(dir) {}
  DirHandle(DirHandle&& other) noexcept : dir_(std::exchange(other.dir_, nullptr)) {}
  DirHandle& operator=(DirHandle&& other) noexcept {
    reset();
    dir_ = std::exchange(other.dir_, nullptr);
    return *this;
  }
  DirHandle(const DirHandle&) = delete;
  DirHandle& operator=(const DirHandle&) = delete;
  ~DirHandle() { reset(); }

  DIR* get() const { return dir_; }
  int fd() const { return ::dirfd(dir_); }
  explicit operator bool() const { return dir_ != nullptr; }
  void reset() {
    if (dir_ != nullptr) ::closedir(dir_);
    dir_ = nullptr;
  }

 private:
  DIR* dir_ = nullptr;
};

// Opens `name` below the directory `base` as a directory stream.
Result<DirHandle> open_dir(int base, const char* name, FollowLinks follow) {
  const int flags =
      O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow == FollowLinks::no ? O_NOFOLLOW : 0);
  const int fd = ::openat(base, name, flags);
  if (fd < 0) return Io{last_os_error()};
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    const OsError error = last_os_error();
    ::close(fd);
    return Io{error};
  }
  return DirHandle(dir);
}

// True for a directory; asks the file system only when the entry does not carry its type.
Result<bool> is_directory(int dir_fd, const dirent& entry) {
  if (entry.d_type != DT_UNKNOWN) return entry.d_type == DT_DIR;
  struct stat status {};
  if (::fstatat(dir_fd, entry.d_name, &status, AT_SYMLINK_NOFOLLOW) != 0)
    return Io{last_os_error()};
  return S_ISDIR(status.st_mode);
}

std::string listing_key(std::string_view relative) {
  std::string key = lossy_utf8(relative);
  std::replace(key.begin(), key.end(), '\\', '/');
  return key;
}

// One directory on the walk's stack.
struct Frame {
  DirHandle dir;                     // empty once closed to save descriptors
  std::size_t rel_size = 0;          // this directory's relative path is rel_[0, rel_size)
  std::vector<std::string> subdirs;  // names of its subdirectories, in the order read
  std::size_t next = 0;              // the first subdirectory not yet visited
};

class Walker {
 public:
  explicit Walker(int root_fd) : root_fd_(root_fd) {}

  Result<PayloadListing> run();

 private:
  Result<void> push(DirHandle dir);
  Result<DirHandle> reopen(std::size_t rel_size) const;
  void add_entry(std::string_view name);

  int root_fd_;
  // The relative path of the directory being entered, each name followed by "/". Every frame's
  // path is a prefix of it, because the walk only ever cuts it back to the top frame's path.
  std::string rel_;
  std::vector<Frame> stack_;
  std::size_t first_open_ = 0;  // frames below this index are closed, the others open
  PayloadListing listing_;
};

Result<PayloadListing> Walker::run() {
  TRY_ASSIGN(DirHandle root_dir, reopen(0));
  TRY(push(std::move(root_dir)));
  while (!stack_.empty()) {
    Frame& top = stack_.back();
    if (top.next == top.subdirs.size()) {
      stack_.pop_back();
      first_open_ = std::min(first_open_, stack_.size());
      continue;
    }
    if (!top.dir) {
      TRY_ASSIGN(top.dir, reopen(top.rel_size));
      first_open_ = stack_.size() - 1;
    }
    const std::string& name = top.subdirs[top.next++];
    rel_.resize(top.rel_size);
    rel_ += name;
    rel_ += '/';
    TRY_ASSIGN(DirHandle child, open_dir(top.dir.fd(), name.c_str(), FollowLinks::no));
    TRY(push(std::move(child)));
  }
  // Sorting once at the end is cheaper than keeping a tree in order along the way.
  std::sort(listing_.begin(), listing_.end());
  listing_.erase(std::unique(listing_.begin(), listing_.end()), listing_.end());
  return std::move(listing_);
}

// Reads the whole directory `dir`, whose relative path is rel_, and puts its frame on the stack.
Result<void> Walker::push(DirHandle dir) {
  Frame frame{std::move(dir), rel_.size(), {}, 0};
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(frame.dir.get());
    if (entry == nullptr) {
      if (errno != 0) return Io{last_os_error()};
      break;
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    TRY_ASSIGN(const bool directory, is_directory(frame.dir.fd(), *entry));
    if (directory) {
      frame.subdirs.emplace_back(name);
    } else {
      add_entry(name);
    }
  }
  stack_.push_back(std::move(frame));
  if (stack_.size() - first_open_ > kOpenFrames) stack_[first_open_++].dir.reset();
  return {};
}

// Opens the directory rel_[0, rel_size) again, a piece of whole names at a time.
Result<DirHandle> Walker::reopen(std::size_t rel_size) const {
  constexpr std::size_t kPiece = PATH_MAX - 1;
  if (rel_size == 0) return open_dir(root_fd_, ".", FollowLinks::yes);
  // Without its final "/", which would make the kernel follow a link there.
  std::string_view rest(rel_.data(), rel_size - 1);
  UniqueFd piece_dir;
  const auto base = [&] { return piece_dir.is_open() ? piece_dir.get() : root_fd_; };
  while (rest.size() > kPiece) {
    // Names are at most NAME_MAX bytes, so the first PATH_MAX bytes hold a separator.
    const std::size_t cut = rest.rfind('/', kPiece);
    if (cut == std::string_view::npos) return Io{os_error(ENAMETOOLONG)};
    const std::string piece(rest.substr(0, cut));
    rest.remove_prefix(cut + 1);
    const int fd = ::openat(base(), piece.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return Io{last_os_error()};
    piece_dir.reset(fd);
  }
  return open_dir(base(), std::string(rest).c_str(), FollowLinks::no);
}

void Walker::add_entry(std::string_view name) {
  std::string relative = rel_;
  relative += name;
  listing_.push_back(listing_key(relative));
}

}  // namespace

Result<PayloadListing> collect_payload(const std::filesystem::path& root) {
  const UniqueFd root_fd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!root_fd.is_open()) return Io{last_os_error()};
  return collect_payload(root_fd.get());
}

Result<PayloadListing> collect_payload(int root_fd) {
  Walker walker(root_fd);
  return walker.run();
}

}  // namespace srb
