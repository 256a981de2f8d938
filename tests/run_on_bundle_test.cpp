// A program run on a bundle of this host with the README's own command: what the process maps
// must be the bundle's loader and C library, not the host's.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "tests/support/mapped_files.hpp"
#include "tests/support/process.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb::test {
namespace {

namespace fs = std::filesystem;

// The first ```sh block after `heading` in the README, as a user would copy it.
std::string readme_block_after(const std::string& heading) {
  const std::string readme = read_file(fs::path(SRB_SOURCE_DIR) / "README.md");
  const std::size_t section = readme.find("\n" + heading + "\n");
  if (section == std::string::npos) return {};
  const std::string fence = "```sh\n";
  const std::size_t begin = readme.find(fence, section);
  const std::size_t end = readme.find("\n```\n", begin);
  if (begin == std::string::npos || end == std::string::npos) return {};
  return readme.substr(begin + fence.size(), end + 1 - begin - fence.size());
}

TEST(RunOnBundle, ReadmeCommandRunsTheBundlesLoaderAndLibc) {
#if !defined(__x86_64__)
  GTEST_SKIP() << "the README's command names the x86-64 loader";
#endif
  if (!fs::exists("/lib64/ld-linux-x86-64.so.2") || !fs::exists("/lib/x86_64-linux-gnu/libc.so.6"))
    GTEST_SKIP() << "the README's command names the loader and libc paths of a Debian host";
  const std::string command = readme_block_after("## Running a program on a bundle");
  ASSERT_NE(command, "") << "README.md has no command under that heading";

  // The README's command runs from a checkout where `make run` left its bundle in out/bundle.
  const TempDir dir;
  const fs::path bundle = fs::canonical(dir.path()) / "out/bundle";
  const ProcessResult built = run_tool({"build", "--version", "host", "--out", bundle.string()});
  ASSERT_EQ(built.status, 0) << built.err;

  RunOptions in_checkout;
  in_checkout.cwd = dir.path();
  const ProcessResult ran = run_process({"bash", "-euo", "pipefail", "-c", command}, in_checkout);
  ASSERT_EQ(ran.status, 0) << command << ran.err;
  EXPECT_EQ(ran.err, "");

  const std::set<std::string> files = mapped_files(ran.out);
  const fs::path loader = bundle / "lib/lib64/ld-linux-x86-64.so.2";
  const fs::path libc = bundle / "lib/lib/x86_64-linux-gnu/libc.so.6";
  EXPECT_TRUE(files.contains(loader.string())) << ran.out;
  EXPECT_TRUE(files.contains(libc.string())) << ran.out;
  for (const std::string& file : files) {
    if (is_loader_or_libc(file)) {
      EXPECT_TRUE(file.starts_with(bundle.string() + "/")) << file;
    }
  }
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// The README's script that binds the version with the tool alone: the bundle of its tag passes,
// the same signed bundle copied under another tag does not.
TEST(RunOnBundle, ReadmeScriptBindsTheVersion) {
  const std::string script = readme_block_after("### A launcher");
  ASSERT_NE(script.find("publisher=..."), std::string::npos) << script;
  const TempDir dir;
  const fs::path root = dir / "bundles";
  ASSERT_EQ(run_tool({"key", "generate", "--out", (dir / "id.json").string()}).status, 0);
  const ProcessResult built =
      run_tool({"build", "--version", "1.0", "--out", (root / "1.0").string(), "--identity",
                (dir / "id.json").string()});
  ASSERT_EQ(built.status, 0) << built.err;
  const ProcessResult key = run_tool({"key", "pubkey", "--identity", (dir / "id.json").string()});
  ASSERT_EQ(key.status, 0) << key.err;
  fs::copy(root / "1.0", root / "2.0", fs::copy_options::recursive);

  RunOptions options;
  options.env = {"PATH=" + tool_path().parent_path().string() + ":/usr/bin:/bin",
                 "SARN_RUNTIME_BUNDLE_DIR=" + root.string()};
  const std::string bound =
      replaced(script, "publisher=...", "publisher=" + key.out.substr(0, key.out.find('\n')));
  const ProcessResult same = run_process({"bash", "-eu", "-c", bound}, options);
  EXPECT_EQ(same.status, 0) << same.err;

  const std::string other_tag = replaced(bound, "tag=1.0", "tag=2.0");
  const ProcessResult copied = run_process({"bash", "-eu", "-c", other_tag}, options);
  EXPECT_EQ(copied.status, 1);
  EXPECT_EQ(copied.err, "the bundle in " + (root / "2.0").string() + " is version 1.0, not 2.0\n");
}

}  // namespace
}  // namespace srb::test
