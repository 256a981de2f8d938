#include "build/host_sources.hpp"

#include <gtest/gtest.h>

#include <elf.h>

#include <array>
#include <vector>

#include "tests/support/bundle_fixture.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb {
namespace {

constexpr std::array<std::string_view, 7> kLibraryNames = {
    "libc.so.6",       "libgcc_s.so.1", "libm.so.6",   "libdl.so.2",
    "libpthread.so.0", "librt.so.1",    "libutil.so.1"};

// The entries' paths, and those marked as loaders.
std::vector<std::string_view> paths_of(const HostSourceTable& table, bool loaders_only) {
  std::vector<std::string_view> paths;
  for (const HostEntry& entry : table.entries)
    if (!loaders_only || entry.is_loader) paths.push_back(entry.path);
  return paths;
}

// After the loaders, each library directory holds the same seven names in the same order.
void expect_library_groups(const HostSourceTable& table, std::size_t loaders,
                           std::initializer_list<std::string_view> directories) {
  ASSERT_EQ(table.entries.size(), loaders + kLibraryNames.size() * directories.size());
  std::size_t index = loaders;
  for (std::string_view directory : directories) {
    for (std::string_view name : kLibraryNames) {
      EXPECT_EQ(table.entries[index++].path, std::string(directory) + "/" + std::string(name));
    }
  }
}

TEST(HostSourceTables, X86_64HasFiveLoadersThenTwoLibraryDirectories) {
  const Result<HostSourceTable> table = select_host_source_table("x86_64");
  ASSERT_TRUE(table);
  EXPECT_EQ(table->arch, "x86_64");
  EXPECT_EQ(paths_of(*table, true),
            (std::vector<std::string_view>{
                "/lib64/ld-linux-x86-64.so.2", "/lib/ld-linux-x86-64.so.2", "/lib/ld-linux.so.2",
                "/usr/lib64/ld-linux-x86-64.so.2", "/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2"}));
  expect_library_groups(*table, 5, {"/lib64", "/lib/x86_64-linux-gnu"});
  EXPECT_EQ(table->entries.back().path, "/lib/x86_64-linux-gnu/libutil.so.1");
  EXPECT_EQ(table->elf, (ElfMachine{ELFCLASS64, ELFDATA2LSB, EM_X86_64}));
}

TEST(HostSourceTables, Aarch64HasFourLoadersThenThreeLibraryDirectories) {
  const Result<HostSourceTable> table = select_host_source_table("aarch64");
  ASSERT_TRUE(table);
  EXPECT_EQ(table->arch, "aarch64");
  EXPECT_EQ(
      paths_of(*table, true),
      (std::vector<std::string_view>{"/lib/ld-linux-aarch64.so.1", "/lib64/ld-linux-aarch64.so.1",
                                     "/usr/lib64/ld-linux-aarch64.so.1",
                                     "/lib/aarch64-linux-gnu/ld-linux-aarch64.so.1"}));
  expect_library_groups(*table, 4, {"/lib64", "/usr/lib64", "/lib/aarch64-linux-gnu"});
  EXPECT_EQ(table->entries.back().path, "/lib/aarch64-linux-gnu/libutil.so.1");
  EXPECT_EQ(table->elf, (ElfMachine{ELFCLASS64, ELFDATA2LSB, EM_AARCH64}));
}

TEST(HostSourceTables, TablesAreListedX86_64First) {
  ASSERT_EQ(host_source_tables().size(), 2u);
  EXPECT_EQ(host_source_tables()[0].arch, "x86_64");
  EXPECT_EQ(host_source_tables()[1].arch, "aarch64");
}

// The machine the program was built for is read from its own ELF header, in the tables' terms.
TEST(HostSourceTables, DefaultArchSelectsTheTableOfThisMachine) {
#if defined(__x86_64__)
  EXPECT_EQ(default_arch(), "x86_64");
#elif defined(__aarch64__)
  EXPECT_EQ(default_arch(), "aarch64");
#else
  EXPECT_EQ(default_arch(), kUnknownArch);
#endif
  // Without a table for this machine, the build needs --arch.
  const HostSourceTable other[] = {{"other", {ELFCLASS64, ELFDATA2LSB, 0x1234}, {}}};
  EXPECT_EQ(default_arch(other), kUnknownArch);
}

TEST(HostSourceTables, ElfHeaderMatchesClassDataAndMachineOfTheTable) {
  const ElfMachine x86_64 = select_host_source_table("x86_64")->elf;
  const ElfMachine aarch64 = select_host_source_table("aarch64")->elf;
  const std::string x86_64_loader = test::elf_image(ELFCLASS64, ELFDATA2LSB, EM_X86_64);
  const std::string aarch64_loader = test::elf_image(ELFCLASS64, ELFDATA2LSB, EM_AARCH64);
  const struct {
    ElfMachine elf;
    std::string head;
    bool matches;
  } cases[] = {
      {x86_64, x86_64_loader, true},
      {aarch64, aarch64_loader, true},
      // the 32-bit loader an x86_64 host may also have
      {x86_64, test::elf_image(ELFCLASS32, ELFDATA2LSB, EM_386), false},
      {x86_64, test::elf_image(ELFCLASS32, ELFDATA2LSB, EM_X86_64), false},  // x32-style class
      {x86_64, aarch64_loader, false},
      {aarch64, x86_64_loader, false},
      {aarch64, test::elf_image(ELFCLASS64, ELFDATA2MSB, EM_AARCH64), false},  // big-endian
      {{ELFCLASS64, ELFDATA2MSB, EM_AARCH64},
       test::elf_image(ELFCLASS64, ELFDATA2MSB, EM_AARCH64),
       true},
      {x86_64, x86_64_loader.substr(0, sizeof(Elf64_Ehdr) - 1), false},  // cut short
      {x86_64, "#!/bin/sh\n" + std::string(100, ' '), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    EXPECT_EQ(elf_header_matches(c.elf, c.head), c.matches);
  }
}

TEST(HostSourceTables, OnlyExactNamesSelectATable) {
  for (std::string_view arch : {"AARCH64", "arm64", "amd64", "X86_64", "x86-64", " x86_64", ""}) {
    SCOPED_TRACE(arch);
    const Result<HostSourceTable> table = select_host_source_table(arch);
    ASSERT_FALSE(table);
    EXPECT_EQ(message(table.error()), "no host source table for arch " + std::string(arch) +
                                          " \xE2\x80\x94 supported: x86_64, aarch64");
  }
}

// Only the running system's root directory keeps plain path lookups; every other root is opened
// and its entries resolve inside it.
TEST(IsRootDirectory, ComparesComponentsNotText) {
  for (std::string_view root : {"/", "//", "/.", "/./", "/.//./"}) {
    SCOPED_TRACE(root);
    EXPECT_TRUE(is_root_directory(std::string(root)));
  }
  for (std::string_view root : {"", ".", "/..", "/./..", "/srv", "//srv", "/srv/.."}) {
    SCOPED_TRACE(root);
    EXPECT_FALSE(is_root_directory(std::string(root)));
  }
}

TEST(ResolveUnderRoot, JoinsEntryToRootByText) {
  struct Case {
    std::string_view root;
    std::string_view expected;
  };
  const Case cases[] = {
      {"/", "/lib64/libc.so.6"},
      {"//", "/lib64/libc.so.6"},
      {"/.", "/lib64/libc.so.6"},
      {"/./", "/lib64/libc.so.6"},
      {"/srv/sysroot", "/srv/sysroot/lib64/libc.so.6"},
      {"/srv/sysroot/", "/srv/sysroot/lib64/libc.so.6"},
      {"", "lib64/libc.so.6"},
      {"rel", "rel/lib64/libc.so.6"},
      // Not canonicalised: ".." is the operating system's business, and "/.." is no root.
      {"/srv/../sysroot", "/srv/../sysroot/lib64/libc.so.6"},
      {"/..", "/../lib64/libc.so.6"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.root);
    EXPECT_EQ(resolve_under_root(std::string(c.root), "/lib64/libc.so.6").native(), c.expected);
  }
  EXPECT_EQ(resolve_under_root("/srv", "//etc/ld.so.cache").native(), "/srv/etc/ld.so.cache");
}

TEST(BundlePathForEntry, MirrorsTheEntryUnderLib) {
  EXPECT_EQ(bundle_path_for_entry("/lib64/ld-linux-x86-64.so.2"), "lib/lib64/ld-linux-x86-64.so.2");
  EXPECT_EQ(bundle_path_for_entry("/lib/x86_64-linux-gnu/libc.so.6"),
            "lib/lib/x86_64-linux-gnu/libc.so.6");
  EXPECT_EQ(bundle_path_for_entry("/usr/lib64/ld-linux-aarch64.so.1"),
            "lib/usr/lib64/ld-linux-aarch64.so.1");
}

TEST(CandidatePaths, ListsEveryEntryUnderTheRootWithoutTheLoaderCache) {
  const Result<HostSourceTable> table = select_host_source_table("aarch64");
  ASSERT_TRUE(table);
  const std::vector<std::filesystem::path> candidates = candidate_paths(*table, "/srv/root/");
  ASSERT_EQ(candidates.size(), 25u);
  EXPECT_EQ(candidates.front(), "/srv/root/lib/ld-linux-aarch64.so.1");
  EXPECT_EQ(candidates.back(), "/srv/root/lib/aarch64-linux-gnu/libutil.so.1");
}

TEST(IsPresent, FollowsLinksAndTreatsEveryFailureAsAbsent) {
  test::TempDir dir;
  test::write_file(dir / "file", "x");
  std::filesystem::create_directory(dir / "directory");
  std::filesystem::create_symlink("file", dir / "link");
  std::filesystem::create_symlink("nowhere", dir / "dangling");
  EXPECT_TRUE(is_present(dir / "file"));
  EXPECT_TRUE(is_present(dir / "directory"));
  EXPECT_TRUE(is_present(dir / "link"));
  EXPECT_FALSE(is_present(dir / "dangling"));
  EXPECT_FALSE(is_present(dir / "missing"));
  EXPECT_FALSE(is_present(dir / "file" / "below"));  // ENOTDIR, not only ENOENT
}

}  // namespace
}  // namespace srb
