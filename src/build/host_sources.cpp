#include "build/host_sources.hpp"

#include <elf.h>
#include <sys/stat.h>

#include <array>
#include <cstddef>
#include <cstring>

// A build does not read ELF headers or the loader cache to learn what to copy: it probes these
// fixed paths. Every present alternative is taken, so a host that has libc under both /lib64 and
// /lib/x86_64-linux-gnu yields two bundle files. Naming an entry under a root is plain text work;
// opening it under a root other than "/" is rooted_open's, which keeps its links inside the root.

// The ELF header of the program or library this code was linked into: the linker defines
// __ehdr_start at it.
extern "C" __attribute__((visibility("hidden"))) const Elf64_Ehdr __ehdr_start;

namespace srb {
namespace {

constexpr std::array<HostEntry, 19> kX86_64Entries = {{
    {"/lib64/ld-linux-x86-64.so.2", true},
    {"/lib/ld-linux-x86-64.so.2", true},
    {"/lib/ld-linux.so.2", true},
    {"/usr/lib64/ld-linux-x86-64.so.2", true},
    {"/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2", true},
    {"/lib64/libc.so.6", false},
    {"/lib64/libgcc_s.so.1", false},
    {"/lib64/libm.so.6", false},
    {"/lib64/libdl.so.2", false},
    {"/lib64/libpthread.so.0", false},
    {"/lib64/librt.so.1", false},
    {"/lib64/libutil.so.1", false},
    {"/lib/x86_64-linux-gnu/libc.so.6", false},
    {"/lib/x86_64-linux-gnu/libgcc_s.so.1", false},
    {"/lib/x86_64-linux-gnu/libm.so.6", false},
    {"/lib/x86_64-linux-gnu/libdl.so.2", false},
    {"/lib/x86_64-linux-gnu/libpthread.so.0", false},
    {"/lib/x86_64-linux-gnu/librt.so.1", false},
    {"/lib/x86_64-linux-gnu/libutil.so.1", false},
}};

constexpr std::array<HostEntry, 25> kAarch64Entries = {{
    {"/lib/ld-linux-aarch64.so.1", true},
    {"/lib64/ld-linux-aarch64.so.1", true},
    {"/usr/lib64/ld-linux-aarch64.so.1", true},
    {"/lib/aarch64-linux-gnu/ld-linux-aarch64.so.1", true},
    {"/lib64/libc.so.6", false},
    {"/lib64/libgcc_s.so.1", false},
    {"/lib64/libm.so.6", false},
    {"/lib64/libdl.so.2", false},
    {"/lib64/libpthread.so.0", false},
    {"/lib64/librt.so.1", false},
    {"/lib64/libutil.so.1", false},
    {"/usr/lib64/libc.so.6", false},
    {"/usr/lib64/libgcc_s.so.1", false},
    {"/usr/lib64/libm.so.6", false},
    {"/usr/lib64/libdl.so.2", false},
    {"/usr/lib64/libpthread.so.0", false},
    {"/usr/lib64/librt.so.1", false},
    {"/usr/lib64/libutil.so.1", false},
    {"/lib/aarch64-linux-gnu/libc.so.6", false},
    {"/lib/aarch64-linux-gnu/libgcc_s.so.1", false},
    {"/lib/aarch64-linux-gnu/libm.so.6", false},
    {"/lib/aarch64-linux-gnu/libdl.so.2", false},
    {"/lib/aarch64-linux-gnu/libpthread.so.0", false},
    {"/lib/aarch64-linux-gnu/librt.so.1", false},
    {"/lib/aarch64-linux-gnu/libutil.so.1", false},
}};

constexpr std::array<HostSourceTable, 2> kTables = {{
    {"x86_64", {ELFCLASS64, ELFDATA2LSB, EM_X86_64}, kX86_64Entries},
    {"aarch64", {ELFCLASS64, ELFDATA2LSB, EM_AARCH64}, kAarch64Entries},
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

Result<HostSourceTable> select_host_source_table(std::string_view arch,
                                                 std::span<const HostSourceTable> tables) {
  std::vector<std::string> supported;
  for (const HostSourceTable& table : tables) {
    if (table.arch == arch) return table;
    supported.emplace_back(table.arch);
  }
  return UnsupportedArch{std::string(arch), std::move(supported)};
}

bool elf_header_matches(const ElfMachine& elf, std::string_view head) {
  if (head.size() < sizeof(Elf64_Ehdr) ||
      head.substr(0, SELFMAG) != std::string_view(ELFMAG, SELFMAG))
    return false;
  const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(head[at]); };
  constexpr std::size_t kMachine = offsetof(Elf64_Ehdr, e_machine);
  const bool big_endian = byte(EI_DATA) == ELFDATA2MSB;
  const std::uint16_t machine =
      static_cast<std::uint16_t>(big_endian ? byte(kMachine) << 8 | byte(kMachine + 1)
                                            : byte(kMachine) | byte(kMachine + 1) << 8);
  return ElfMachine{byte(EI_CLASS), byte(EI_DATA), machine} == elf;
}

std::optional<HostSourceTable> own_machine_table(std::span<const HostSourceTable> tables) {
  const std::string_view own(reinterpret_cast<const char*>(&__ehdr_start), sizeof(Elf64_Ehdr));
  for (const HostSourceTable& table : tables)
    if (elf_header_matches(table.elf, own)) return table;
  return std::nullopt;
}

std::string_view default_arch(std::span<const HostSourceTable> tables) {
  const std::optional<HostSourceTable> own = own_machine_table(tables);
  return own ? own->arch : kUnknownArch;
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
  for (const HostEntry& entry : table.entries)
    candidates.push_back(resolve_under_root(root, entry.path));
  return candidates;
}

}  // namespace srb
