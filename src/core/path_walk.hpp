#pragma once
// The pieces every hand-made path resolution shares, whether it confines a path below a
// directory (verify) or re-roots it in a sysroot (build): openat2 with its retry, splitting a path
// into the components still to walk, and reading a link's text.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace srb {

// The kernel's own limit on links followed while resolving one path.
inline constexpr int kMaxLinks = 40;

// openat2 with `flags` (O_CLOEXEC added) and `resolve`. The kernel asks for a retry (EAGAIN) when
// a rename raced with the resolution of ".."; a path that keeps racing is reported rather than
// retried forever. Returns the descriptor, or -1 with errno set.
int openat2_retrying(int directory, const char* path, std::uint64_t flags, std::uint64_t resolve);

// Errors by which the kernel or a system-call filter refuses openat2 itself: an older kernel
// (ENOSYS), or a filter (EPERM, or EINVAL for an argument it does not know).
bool is_openat2_refused(int error);

// Pushes the components of `path` onto `pending`, the first one last, so that the back is what
// comes next. A path that ends in "/" must name a directory; a final "." keeps that demand.
void push_components(std::string_view path, std::vector<std::string>& pending);

// The target of the link `name` in `directory`, or the errno readlinkat gave (EINVAL: no link).
struct LinkRead {
  std::string target;
  int error = 0;
};
LinkRead read_link(int directory, const std::string& name);

}  // namespace srb
