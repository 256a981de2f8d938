// End-to-end tests of the built binary under resource limits (prlimit(1)): a command that meets
// one fails with one error line and status 1, never by a signal.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/process.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb::test {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kIdentity =
    "{\"secret_key_hex\":\"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60\"}\n";

// The tool run by prlimit(1) with `limit` ("--as=4718592") set.
ProcessResult run_limited(const std::string& limit, const std::vector<std::string>& args) {
  std::vector<std::string> full{"prlimit", limit, tool_path().string()};
  full.insert(full.end(), args.begin(), args.end());
  return run_process(full);
}

// A small host root, an identity and a bundle built from them, in a scratch directory.
class LimitedRun : public ::testing::Test {
 protected:
  void SetUp() override {
    make_host_root(dir_ / "root", {"/lib64/ld-linux-x86-64.so.2", "/lib64/libc.so.6",
                                   "/etc/ld.so.cache", "/lib64/libm.so.6"});
    write_file(dir_ / "id.json", kIdentity, 0600);
    ASSERT_EQ(run_tool(build_args("bundle", true)).status, 0);
  }

  std::vector<std::string> build_args(const std::string& out, bool sign) const {
    std::vector<std::string> args{"build",
                                  "--version",
                                  "1.0",
                                  "--out",
                                  (dir_ / out).string(),
                                  "--from",
                                  (dir_ / "root").string(),
                                  "--arch",
                                  "x86_64"};
    if (sign) args.insert(args.end(), {"--identity", (dir_ / "id.json").string()});
    return args;
  }

  TempDir dir_;
};

// Past RLIMIT_FSIZE a write fails with EFBIG, where SIGXFSZ would have ended the process with
// nothing said; the old identity stays.
TEST_F(LimitedRun, WritesPastTheFileSizeLimitFailWithFileTooLarge) {
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {build_args("new", false), "sarn-runtime-bundle build: i/o: File too large (os error 27)\n"},
      {{"key", "generate", "--out", (dir_ / "id.json").string()},
       "sarn-runtime-bundle key generate: File too large (os error 27)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const ProcessResult result = run_limited("--fsize=10", c.args);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, c.err);
  }
  EXPECT_EQ(read_file(dir_ / "id.json"), kIdentity);
}

// From the least address space in which the dynamic loader can map the tool's libraries (below
// it the loader fails with status 127 before the tool runs) up to where every command has room
// enough, each command ends with status 0 or 1. Running out of memory is one error line, even
// before the C++ runtime has a reserve to report it with.
TEST_F(LimitedRun, EveryCommandEndsWithStatusZeroOrOneWhateverTheAddressSpace) {
  if (!kAddressLimitsWork)
    GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
  const std::vector<std::vector<std::string>> commands = {
      {"path", "--version", "1.0"},
      {"key", "generate", "--out", (dir_ / "new.json").string()},
      {"key", "pubkey", "--identity", (dir_ / "id.json").string()},
      build_args("again", true),
      {"verify", (dir_ / "bundle").string()},
      {"--help"},
  };
  int loader_failures = 0, ran = 0;
  for (long kib = 3 * 1024; kib <= 10 * 1024; kib += 128) {
    for (const std::vector<std::string>& args : commands) {
      SCOPED_TRACE(std::to_string(kib) + " KiB: " + args[0]);
      const ProcessResult result = run_limited("--as=" + std::to_string(kib * 1024), args);
      if (result.status == 127) {
        // The loader's own words: it could not map a library, or not even set up the thread.
        EXPECT_TRUE(result.err.find("error while loading shared libraries") != std::string::npos ||
                    result.err.find("cannot allocate TLS data structures") != std::string::npos)
            << result.err;
        ++loader_failures;
        continue;
      }
      ++ran;
      EXPECT_TRUE(result.status == 0 || result.status == 1) << result.status << " " << result.err;
      if (result.status == 1) {
        EXPECT_TRUE(result.err.starts_with("sarn-runtime-bundle")) << result.err;
        EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
      }
    }
  }
  // The range starts where the loader fails and reaches where commands run.
  EXPECT_GT(loader_failures, 0);
  EXPECT_GT(ran, 0);
}

}  // namespace
}  // namespace srb::test
