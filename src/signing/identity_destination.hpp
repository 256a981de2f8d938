#pragma once
// Where key generate may write a secret: never into a file another user could read it from, and
// never into an inode that existed before, except a device or one of the process's own streams.

#include <sys/stat.h>

#include <filesystem>
#include <variant>

#include "core/result.hpp"

namespace srb {

// How a stream's path is opened: by its own name, never through a link (the user's own links
// have been followed to it), or as /proc/self/fd/N, the process's own link to its standard
// stream N, which nobody else can change.
enum class StreamPath { by_name, own_descriptor };

// A terminal or another character device, or a pipe or socket that is one of this process's
// standard streams (what /dev/stdout names): written where it stands.
struct StreamDestination {
  std::filesystem::path path;
  StreamPath kind = StreamPath::by_name;
};

// Anything else: a fresh file replaces the entry at `path`, which may not exist yet. A link of
// the user's own at --out has been followed to its target, so the link stays.
struct FileDestination {
  std::filesystem::path path;
};

using IdentityDestination = std::variant<StreamDestination, FileDestination>;

// Judges `out` before anything is opened. Fails with ForeignSecretFile when a link on the way
// is owned by a user other than the effective user and root, or the entry is a regular file or
// FIFO owned by such a user. A regular file the effective user may not write fails with that
// Io error, and one it could not restrict (root's, for anyone but root) with Io "Operation not
// permitted"; a directory with Io "Is a directory"; any other failure to look with Io.
Result<IdentityDestination> judge_identity_destination(const std::filesystem::path& out);

// True for what StreamDestination stands for. `opened` is the descriptor `file` was opened as,
// if any: it is never counted as a standard stream itself, though it may have taken the number
// of one that was closed.
bool is_stream(const struct stat& file, int opened = -1);

// Fails, as judge_identity_destination does, for an entry at the destination that a fresh file
// must not replace; `out` is the path the error names.
Result<void> check_replaceable(const struct stat& entry, const std::filesystem::path& out);

// Fails with ForeignSecretFile{out} when someone besides the effective user and root could
// rename, remove or replace the new file in `directory` (its status): a directory another user
// owns, or one that others, or a group with members besides its owner, may write, unless it is
// sticky. Fails with Io when the group's members cannot be looked up. The user database is
// enumerated for the group's members, which is not safe beside another thread enumerating it.
Result<void> check_secret_directory(const struct stat& directory, const std::filesystem::path& out);

}  // namespace srb
