#include "build/host_sources.hpp"

#include <sys/stat.h>

#include <array>

// A build does not read ELF headers or the loader cache to learn what to copy: it probes these
// fixed paths. Every present alternative is taken, so a host that has libc under both /lib64 and
// /lib/x86_64-linux-gnu yields two bundle files. Naming an entry under a root is plain text work;
// opening it under a root other than "/" is rooted_open's, which keeps its links inside the root.

namespace srb {
namespace {

constexpr std::array<std::string_view, 19> kX86_64Entries = {
    "/lib64/ld-linux-x86-64.so.2",
    "/lib/ld-linux-x86-64.so.2",
    "/lib/ld-linux.so.2",
    "/usr/lib64/ld-linux-x86-64.so.2",
    "/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2",
    "/lib64/libc.so.6",
    "/lib64/libgcc_s.so.1",
    "/lib64/libm.so.6",
    "/lib64/libdl.so.2",
    "/lib64/libpthread.so.0",
    "/lib64/librt.so.1",
    "/lib64/libutil.so.1",
    "/lib/x86_64-linux-gnu/libc.so.6",
    "/lib/x86_64-linux-gnu/libgcc_s.so.1",
    "/lib/x86_64-linux-gnu/libm.so.6",
    "/lib/x86_64-linux-gnu/libdl.so.2",
    "/lib/x86_64-linux-gnu/libpthread.so.0",
    "/lib/x86_64-linux-gnu/librt.so.1",
    "/lib/x86_64-linux-gnu/libutil.so.1",
};

constexpr std::array<std::string_view, 25> kAarch64Entries = {
    "/lib/ld-linux-aarch64.so.1",
    "/lib64/ld-linux-aarch64.so.1",
    "/usr/lib64/ld-linux-aarch64.so.1",
    "/lib/aarch64-linux-gnu/ld-linux-aarch64.so.1",
    "/lib64/libc.so.6",
    "/lib64/libgcc_s.so.1",
    "/lib64/libm.so.6",
    "/lib64/libdl.so.2",
    "/lib64/libpthread.so.0",
    "/lib64/librt.so.1",
    "/lib64/libutil.so.1",
    "/usr/lib64/libc.so.6",
    "/usr/lib64/libgcc_s.so.1",
    "/usr/lib64/libm.so.6",
    "/usr/lib64/libdl.so.2",
    "/usr/lib64/libpthread.so.0",
    "/usr/lib64/librt.so.1",
    "/usr/lib64/libutil.so.1",
    "/lib/aarch64-linux-gnu/libc.so.6",
    "/lib/aarch64-linux-gnu/libgcc_s.so.1",
    "/lib/aarch64-linux-gnu/libm.so.6",
    "/lib/aarch64-linux-gnu/libdl.so.2",
    "/lib/aarch64-linux-gnu/libpthread.so.0",
    "/lib/aarch64-linux-gnu/librt.so.1",
    "/lib/aarch64-linux-gnu/libutil.so.1",
};

constexpr std::array<HostSourceTable, 2> kTables = {{
    {"x86_64", kX86_64Entries},
    {"aarch64", kAarch64Entries},
}};

std::string_view without_leading_slashes(std::string_view entry) {
  const std::size_t first = entry.find_first_not_of('/');
  return first == std::string_view::npos ? std::string_view{} : entry.substr(first);
}

}  // namespace

// A leading slash and then only empty and "." components.
bool is_root_directory(const std::filesystem::path& root_path) {
  const std::string_view root = root_path.native();
  if (root.empty() || root.front() != '/') return false;
  std::size_t start = 0;
  while (start < root.size()) {
    std::size_t end = root.find('/', start);
    if (end == std::string_view::npos) end = root.size();
    const std::string_view component = root.substr(start, end - start);
    if (!component.empty() && component != ".") return false;
    start = end + 1;
  }
  return true;
}

std::span<const HostSourceTable> host_source_tables() {
  return kTables;
}

Result<HostSourceTable> select_host_source_table(std::string_view arch) {
  for (const HostSourceTable& table : kTables) {
    if (table.arch == arch) return table;
  }
  return UnsupportedArch{std::string(arch)};
}

std::filesystem::path resolve_under_root(const std::filesystem::path& root,
                                         std::string_view entry) {
  const std::string& root_text = root.native();
  if (is_root_directory(root)) return std::filesystem::path(std::string(entry));
  const std::string_view remainder = without_leading_slashes(entry);
  std::string resolved = root_text;
  if (!resolved.empty() && resolved.back() != '/') resolved += '/';
  resolved += remainder;
  return std::filesystem::path(std::move(resolved));
}

bool is_present(const std::filesystem::path& host_path) {
  struct stat status;
  return ::stat(host_path.c_str(), &status) == 0;
}

std::string bundle_path_for_entry(std::string_view entry) {
  return "lib/" + std::string(without_leading_slashes(entry));
}

std::vector<std::filesystem::path> candidate_paths(const HostSourceTable& table,
                                                   const std::filesystem::path& root) {
  std::vector<std::filesystem::path> candidates;
  candidates.reserve(table.entries.size());
  for (std::string_view entry : table.entries)
    candidates.push_back(resolve_under_root(root, entry));
  return candidates;
}

}  // namespace srb
