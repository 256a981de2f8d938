#pragma once
// What a process maps, as /proc/<pid>/maps tells it: the check that a program ran on a bundle's
// loader and C library rather than the host's.

#include <filesystem>
#include <set>
#include <string>

namespace srb::test {

// The files mapped into the process whose /proc/<pid>/maps is `maps`.
std::set<std::string> mapped_files(const std::string& maps);

// True for a dynamic loader or a C library by its file name (ld-linux*, libc.so*, libc-*).
bool is_loader_or_libc(const std::filesystem::path& file);

}  // namespace srb::test
