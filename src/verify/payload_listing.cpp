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

#include "core/confined_open.hpp"
#include "core/text.hpp"
#include "core/unique_fd.hpp"

// collect_payload walks the tree depth-first with an explicit stack of frames, so a hostile
// bundle nested thousands of levels deep cannot exhaust the call stack. Each directory is read
// whole as soon as it is opened: its other entries go straight into the listing, and the names
// of its subdirectories wait in its frame. A subdirectory is opened relative to its parent's
// descriptor, so the kernel never sees more than one name on the way down, whatever the depth.
// Only the innermost frames keep their directory open (fewer when the descriptor table is full);
// an outer frame that still has subdirectories to visit when the walk climbs back to it is
// reopened from the root, in pieces shorter than PATH_MAX, so neither the descriptor table nor the
// path length limit the depth. The reopening resolves each piece below the one before by the
// confined resolver, so a link swapped in for a directory on the way cannot lead it out of the
// bundle, and the directory it reaches must be the very one first opened (the same device and
// inode): otherwise the walk fails rather than list another directory's names.

namespace srb {
namespace {

// How many of the innermost frames keep their directory open.
constexpr std::size_t kOpenFrames = 16;

constexpr int kListFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

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

constexpr OsError kReplaced{0, OsError::Fixed::bundle_changed_while_listed};

// A directory the walk opened before and cannot find again where it was has been moved, removed
// or replaced by a link; only a failure of the system itself is reported as what it is.
Result<DirHandle> not_found_again(int error) {
  if (classify_open_failure(error) == OpenFailure::fault) return Io{os_error(error)};
  return Io{kReplaced};
}

// Takes `fd`, an open directory, as a directory stream, or fails with Io closing it.
Result<DirHandle> as_dir_handle(int fd) {
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
  struct stat status {};             // as first opened
};

class Walker {
 public:
  explicit Walker(int root_fd) : root_fd_(root_fd) {}

  Result<PayloadListing> run();

 private:
  Result<void> push(DirHandle dir);
  Result<DirHandle> open_child(const Frame& parent, const std::string& name);
  Result<DirHandle> reopen(const Frame& frame) const;
  bool close_outer_frame();
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
  const int root = ::openat(root_fd_, ".", kListFlags);
  if (root < 0) return Io{last_os_error()};
  TRY_ASSIGN(DirHandle root_dir, as_dir_handle(root));
  TRY(push(std::move(root_dir)));
  while (!stack_.empty()) {
    Frame& top = stack_.back();
    if (top.next == top.subdirs.size()) {
      stack_.pop_back();
      first_open_ = std::min(first_open_, stack_.size());
      continue;
    }
    if (!top.dir) {
      TRY_ASSIGN(top.dir, reopen(top));
      first_open_ = stack_.size() - 1;
    }
    const std::string& name = top.subdirs[top.next++];
    rel_.resize(top.rel_size);
    rel_ += name;
    rel_ += '/';
    TRY_ASSIGN(DirHandle child, open_child(top, name));
    TRY(push(std::move(child)));
  }
  // Sorting once at the end is cheaper than keeping a tree in order along the way.
  std::vector<std::string>& entries = listing_.entries;
  std::sort(entries.begin(), entries.end());
  entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
  return std::move(listing_);
}

// Reads the whole directory `dir`, whose relative path is rel_, and puts its frame on the stack.
Result<void> Walker::push(DirHandle dir) {
  Frame frame{std::move(dir), rel_.size(), {}, 0, {}};
  if (::fstat(frame.dir.fd(), &frame.status) != 0) return Io{last_os_error()};
  const std::string_view rel(rel_.data(), rel_.empty() ? 0 : rel_.size() - 1);
  listing_.directories.push_back({listing_key(rel), checked_status(frame.status)});
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

// Opens the subdirectory `name` of the open frame `parent`, which is read as the name shows it,
// never through a link. When the descriptor table is full, the outermost open frames are closed
// one by one to make room (they are reopened when the walk comes back to them).
Result<DirHandle> Walker::open_child(const Frame& parent, const std::string& name) {
  for (;;) {
    const int fd = ::openat(parent.dir.fd(), name.c_str(), kListFlags | O_NOFOLLOW);
    if (fd >= 0) return as_dir_handle(fd);
    if (errno != EMFILE || !close_outer_frame()) return Io{last_os_error()};
  }
}

// Closes the outermost open frame below the top; false when there is none.
bool Walker::close_outer_frame() {
  if (first_open_ + 1 >= stack_.size()) return false;
  stack_[first_open_++].dir.reset();
  return true;
}

// Opens the directory of `frame` again, a piece of whole names at a time, each piece resolved
// below the previous one without leaving it; it must be the directory first opened.
Result<DirHandle> Walker::reopen(const Frame& frame) const {
  constexpr std::size_t kPiece = PATH_MAX - 1;
  // Without its final "/", which names the same directory.
  std::string_view rest(rel_.data(), frame.rel_size == 0 ? 0 : frame.rel_size - 1);
  UniqueFd piece_dir;
  const auto base = [&] { return piece_dir.is_open() ? piece_dir.get() : root_fd_; };
  while (rest.size() > kPiece) {
    // Names are at most NAME_MAX bytes, so the first PATH_MAX bytes hold a separator.
    const std::size_t cut = rest.rfind('/', kPiece);
    if (cut == std::string_view::npos) return Io{os_error(ENAMETOOLONG)};
    const int fd =
        open_confined(base(), rest.substr(0, cut), O_PATH | O_DIRECTORY, Confinement::beneath);
    if (fd < 0) return not_found_again(errno);
    piece_dir.reset(fd);
    rest.remove_prefix(cut + 1);
  }
  const std::string last = rest.empty() ? "." : std::string(rest);
  const int fd = open_confined(base(), last, kListFlags, Confinement::beneath);
  if (fd < 0) return not_found_again(errno);
  TRY_ASSIGN(DirHandle dir, as_dir_handle(fd));
  struct stat status {};
  if (::fstat(dir.fd(), &status) != 0) return Io{last_os_error()};
  if (!is_same_file(status, frame.status)) return Io{kReplaced};
  return dir;
}

void Walker::add_entry(std::string_view name) {
  std::string relative = rel_;
  relative += name;
  listing_.entries.push_back(listing_key(relative));
}

}  // namespace

Result<PayloadListing> collect_payload(int root_fd) {
  Walker walker(root_fd);
  return walker.run();
}

}  // namespace srb
