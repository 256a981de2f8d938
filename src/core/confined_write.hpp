#pragma once
// Writing below a directory without ever leaving it. Everything is reached from an open
// descriptor of that directory, one name at a time and without following a symbolic link, so a
// link planted inside cannot send a write elsewhere; and a file is always created afresh, never
// opened for writing where it stands, so a hard link or a leftover file keeps its content.
//
// What is created here belongs to the process's effective group and is never group- or
// other-writable: a directory is made with 0755 before the umask, and a setgid directory above
// passes on neither its group nor, to a directory, its setgid bit. Otherwise that group could
// read a file written for the builder, or add files to a directory the builder vouches for.

#include <sys/stat.h>
#include <time.h>

#include <filesystem>
#include <optional>
#include <string_view>

#include "core/result.hpp"
#include "core/unique_fd.hpp"

namespace srb {

// Creates `directory` with its missing ancestors (0777 before the umask, the group as the system
// gives it); one that exists is fine. The path is the caller's own, so links in it are followed.
// Fails with Io.
Result<void> make_directories(const std::filesystem::path& directory);

// Creates `directory` with its missing ancestors and opens it. The path is the caller's own, so
// links in it are followed, except that a directory just created here is entered only as itself.
// Fails with Io.
Result<UniqueFd> make_and_open_directory(const std::filesystem::path& directory);

// Opens the directory `relative` ("lib/lib64") below the open directory `base`, creating each
// missing component. `relative` is made of plain names, never "." or
// "..". A symbolic link on the way fails with UnsafeDestination naming `shown_base` joined with
// the path up to that entry; any other entry that is not a directory with Io "Not a directory".
Result<UniqueFd> make_directories_below(int base, std::string_view relative,
                                        std::string_view shown_base);

// What stands at `name` in `directory`, seen without following a link: nothing, a regular file
// or a directory. A link, FIFO, socket or device fails with UnsafeDestination{shown}.
Result<std::optional<struct stat>> entry_to_write(int directory, const char* name,
                                                  const std::filesystem::path& shown);

// Creates `name` in `directory` with O_EXCL and `mode` (before the umask) and opens it for
// reading and writing. A regular file standing there is removed first; a directory fails with Io
// "Is a directory", and whatever entry_to_write refuses, as it does. Something that appears between
// the removal and the creation makes it fail with Io "File exists".
Result<UniqueFd> create_fresh_file(int directory, const char* name, mode_t mode,
                                   const std::filesystem::path& shown);

// Creates `name` in `directory` with O_EXCL and `mode` (before the umask) and opens it for
// reading and writing, or gives nothing when something stands there already. Fails with Io.
Result<std::optional<UniqueFd>> create_new_file(int directory, const char* name, mode_t mode);

// create_fresh_file for a caller that has already looked at `name` with entry_to_write and holds
// what it found in `existing`, so the entry is not looked at twice.
Result<UniqueFd> create_fresh_file_over(int directory, const char* name, mode_t mode,
                                        const std::optional<struct stat>& existing);

// Gives a file or directory the caller has just created through `fd` the process's effective
// group, where the directory it was created in gave it another, and returns its status as the
// descriptor shows it. Fails with Io.
Result<struct stat> take_into_own_group(int fd);
// The same with the process's effective group already known, for a caller creating many files.
Result<struct stat> take_into_group(int fd, gid_t group);

// When `time` is given, makes it the access and modification time of what `fd` is open on. The
// descriptor names the file, so no link can redirect it. Fails with Io.
Result<void> fix_times(int fd, const std::optional<struct timespec>& time);

// create_fresh_file and take_into_own_group, then the whole text written, `time` fixed when given
// and the file closed.
Result<void> write_fresh_file(int directory, const char* name, std::string_view text, mode_t mode,
                              const std::filesystem::path& shown,
                              const std::optional<struct timespec>& time = std::nullopt);

}  // namespace srb
