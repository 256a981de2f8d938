#pragma once
// Root file systems of another system, fabricated for builds with --from: their table entries
// reach the files through links of every kind, some of which name files outside the root.

#include <filesystem>

namespace srb::test {

// Lays out under `dir` the root dir/"linked" and, beside it, files only the host has. In the
// root, made with make_host_root's "content of {path}" files:
// - usr/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2, usr/lib/x86_64-linux-gnu/libc.so.6, secret
//   and etc/ld.so.cache are files;
// - lib -> /usr/lib is a directory link with an absolute target;
// - lib64/ld-linux-x86-64.so.2 -> /lib/x86_64-linux-gnu/ld-linux-x86-64.so.2 goes through it;
// - lib64/libc.so.6 -> /usr/lib/x86_64-linux-gnu/libc.so.6 is absolute, inside the root;
// - lib64/libm.so.6 -> {dir}/host-only/libm.so.6 is absolute, to a file only the host has;
// - lib64/libdl.so.2 -> ../../secret climbs above the root, where dir/secret is a host file;
// - lib64/libutil.so.1 -> /../../etc/hostname climbs above the root from an absolute target;
// - lib64/libpthread.so.0 -> loop -> /lib64/libpthread.so.0 is a loop.
// Returns the root.
std::filesystem::path make_linked_root(const std::filesystem::path& dir);

// Lays out a root shaped like a merged-/usr Debian x86-64 system at `root`: lib -> usr/lib,
// lib64 -> usr/lib64, the loader, libc and libm as files in usr/lib/x86_64-linux-gnu, the loader
// links lib64/ld-linux-x86-64.so.2 and usr/lib64/ld-linux-x86-64.so.2 with the absolute target
// /lib/x86_64-linux-gnu/ld-linux-x86-64.so.2, and etc/ld.so.cache.
void make_debian_like_root(const std::filesystem::path& root);

}  // namespace srb::test
