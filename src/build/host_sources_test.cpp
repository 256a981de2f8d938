#include "build/host_sources.hpp"

#include <gtest/gtest.h>

#include <array>

#include "tests/support/temp_dir.hpp"

namespace srb {
namespace {

constexpr std::array<std::string_view, 7> kLibraryNames = {
    "libc.so.6",       "libgcc_s.so.1", "libm.so.6",   "libdl.so.2",
    "libpthread.so.0", "librt.so.1",    "libutil.so.1"};

// After the loaders, each library directory holds the same seven names in the same order.
void expect_library_groups(const HostSourceTable& table, std::size_t loaders,
                           std::initializer_list<std::string_view> directories) {
  ASSERT_EQ(table.entries.size(), loaders + kLibraryNames.size() * directories.size());
  std::size_t index = loaders;
  for (std::string_view directory : directories) {
    for (std::string_view name : kLibraryNames) {
      EXPECT_EQ(table.entries[index++], std::string(directory) + "/" + std::string(name));
    }
  }
}

TEST(HostSourceTables, X86_64HasFiveLoadersThenTwoLibraryDirectories) {
  const Result<HostSourceTable> table = select_host_source_table("x86_64");
  ASSERT_TRUE(table);
  EXPECT_EQ(table->arch, "x86_64");
  const std::vector<std::string_view> loaders(table->entries.begin(), table->entries.begin() + 5);
  EXPECT_EQ(loaders,
            (std::vector<std::string_view>{
                "/lib64/ld-linux-x86-64.so.2", "/lib/ld-linux-x86-64.so.2", "/lib/ld-linux.so.2",
                "/usr/lib64/ld-linux-x86-64.so.2", "/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2"}));
  expect_library_groups(*table, 5, {"/lib64", "/lib/x86_64-linux-gnu"});
  EXPECT_EQ(table->entries.back(), "/lib/x86_64-linux-gnu/libutil.so.1");
}

TEST(HostSourceTables, Aarch64HasFourLoadersThenThreeLibraryDirectories) {
  const Result<HostSourceTable> table = select_host_source_table("aarch64");
  ASSERT_TRUE(table);
  EXPECT_EQ(table->arch, "aarch64");
  const std::vector<std::string_view> loaders(table->entries.begin(), table->entries.begin() + 4);
  EXPECT_EQ(loaders, (std::vector<std::string_view>{
                         "/lib/ld-linux-aarch64.so.1", "/lib64/ld-linux-aarch64.so.1",
                         "/usr/lib64/ld-linux-aarch64.so.1",
                         "/lib/aarch64-linux-gnu/ld-linux-aarch64.so.1"}));
  expect_library_groups(*table, 4, {"/lib64", "/usr/lib64", "/lib/aarch64-linux-gnu"});
  EXPECT_EQ(table->entries.back(), "/lib/aarch64-linux-gnu/libutil.so.1");
}

TEST(HostSourceTables, TablesAreListedX86_64First) {
  ASSERT_EQ(host_source_tables().size(), 2u);
  EXPECT_EQ(host_source_tables()[0].arch, "x86_64");
  EXPECT_EQ(host_source_tables()[1].arch, "aarch64");
}

TEST(HostSourceTables, DefaultArchSelectsTheTableOfThisMachine) {
#if defined(__x86_64__)
  EXPECT_EQ(kDefaultArch, "x86_64");
#elif defined(__aarch64__)
  EXPECT_EQ(kDefaultArch, "aarch64");
#else
  EXPECT_FALSE(select_host_source_table(kDefaultArch));
#endif
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
