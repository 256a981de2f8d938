#pragma once
// The host source tables: everything the program knows of an architecture, in one record per
// architecture. Its name as the manifests spell it, what an ELF header of its programs says, and
// the fixed and ordered list of absolute host paths a build probes (loaders first, then the C
// runtime libraries by directory). Build, the launch plan and the messages all read these records
// and nothing else, and every procedure that needs them takes the list as a parameter, so adding
// an architecture is adding one record.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.hpp"

namespace srb {

// What the ELF header of a program for an architecture says (e_ident's class and data, e_machine).
struct ElfMachine {
  unsigned char elf_class = 0;  // ELFCLASS64
  unsigned char data = 0;       // ELFDATA2LSB
  std::uint16_t machine = 0;    // EM_X86_64
  friend bool operator==(const ElfMachine&, const ElfMachine&) = default;
};

// One probed host path, and whether it is a dynamic loader (the launch plan's candidates) rather
// than a library (whose directory the loader searches).
struct HostEntry {
  std::string_view path;
  bool is_loader = false;
};

struct HostSourceTable {
  std::string_view arch;               // "x86_64" or "aarch64"
  ElfMachine elf;                      // of the architecture's programs
  std::span<const HostEntry> entries;  // in probing order
};

// The name of a machine that has no table, where the tool itself runs: it selects none, so a
// build there needs an explicit --arch.
inline constexpr std::string_view kUnknownArch = "unknown";

// The host's loader cache: probed under the root like a table entry, but stored at the bundle
// root and never named among the candidates.
inline constexpr std::string_view kLoaderCacheHostPath = "/etc/ld.so.cache";
inline constexpr std::string_view kLoaderCacheBundlePath = "etc/ld.so.cache";

// Every table the program ships, x86_64 first.
std::span<const HostSourceTable> host_source_tables();

// The table whose name equals `arch` byte for byte (no trimming, no case folding, no aliases).
// Fails with UnsupportedArch carrying `arch` unchanged and the names of `tables`.
Result<HostSourceTable> select_host_source_table(
    std::string_view arch, std::span<const HostSourceTable> tables = host_source_tables());

// The table of the machine this program was built for: the one whose ELF machine is that of the
// program's own ELF header. None on a machine without a table.
std::optional<HostSourceTable> own_machine_table(
    std::span<const HostSourceTable> tables = host_source_tables());

// The architecture a build takes without --arch: own_machine_table's name, else kUnknownArch.
std::string_view default_arch(std::span<const HostSourceTable> tables = host_source_tables());

// True when the ELF header at the start of `head` is that of a program of `elf`'s machine.
// Anything shorter than a header is not.
bool elf_header_matches(const ElfMachine& elf, std::string_view head);

// True when `root` names the running system's root directory, compared component by component:
// "/", "//", "/." and "/./" do; "", "/.." and "/srv" do not.
bool is_root_directory(const std::filesystem::path& root);

// The host path that names `entry` under `root`. A root that is the root directory gives the
// entry unchanged; otherwise the entry loses its leading slashes and is appended to the root with
// one "/" (none when the root already ends in "/"; an empty root gives the bare remainder).
// Nothing is canonicalised. Under the root directory this is the path a build opens; under any
// other root it only names the entry (a build opens it inside the root, see rooted_open.hpp).
std::filesystem::path resolve_under_root(const std::filesystem::path& root, std::string_view entry);

// True when the path's status can be queried, following symbolic links. Every failure, whatever
// its cause, counts as absent; the file type is not looked at. The presence test of entries
// under the root directory.
bool is_present(const std::filesystem::path& host_path);

// "lib/" followed by the entry without its leading slashes: the mirrored bundle path. It depends
// on the entry only, never on the root.
std::string bundle_path_for_entry(std::string_view entry);

// Every entry of the table resolved under the root, in table order, present or not.
std::vector<std::filesystem::path> candidate_paths(const HostSourceTable& table,
                                                   const std::filesystem::path& root);

}  // namespace srb
