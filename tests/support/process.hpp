#pragma once
// Runs a program as a child process and captures its status, stdout and stderr as bytes.

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace srb::test {

struct ProcessResult {
  int status = -1;  // exit status, or 128 + signal number when killed by a signal
  std::string out;
  std::string err;
};

struct RunOptions {
  // The child's whole environment as "NAME=value" entries; absent: inherit ours.
  std::optional<std::vector<std::string>> env;
  std::optional<std::filesystem::path> cwd;
  std::optional<mode_t> umask;
  // Drop to this user and group before exec (the test runs as root in CI).
  std::optional<uid_t> uid;
  std::optional<gid_t> gid;
  // Redirect stdout to this file (e.g. /dev/full) instead of capturing it.
  std::optional<std::filesystem::path> stdout_file;
};

// Runs `args[0]` (searched in PATH when it has no "/") with `args` as argv; arguments are raw bytes.
ProcessResult run_process(const std::vector<std::string>& args, const RunOptions& options = {});

// Runs the built sarn-runtime-bundle binary; `args` exclude the program name.
ProcessResult run_tool(const std::vector<std::string>& args, const RunOptions& options = {});

// A small environment with PATH only, for tests that control every variable.
std::vector<std::string> minimal_env();

// The path of the built binary.
std::filesystem::path tool_path();

}  // namespace srb::test
