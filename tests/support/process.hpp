#pragma once
// Runs a program as a child process and captures its status, stdout and stderr as bytes.

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/syscall_faults.hpp"

namespace srb::test {

struct ProcessResult {
  int status = -1;  // exit status, or 128 + signal number when killed by a signal
  std::string out;
  std::string err;
  int faults_injected = 0;  // calls failed by the faults judged by their path
  int actions_run = 0;      // their `before` actions that ran
  // The child's peak resident size in KiB, counted from the fork: what the test process held
  // then, shared with the child, and anything the child added.
  long peak_kib = 0;
};

struct RunOptions {
  // The child's whole environment as "NAME=value" entries; absent: inherit ours.
  std::optional<std::vector<std::string>> env;
  std::optional<std::filesystem::path> cwd;
  std::optional<mode_t> umask;
  // Drop to this user and group before exec (the test runs as root in CI); the group also
  // replaces root's supplementary groups, so group 0 grants the child nothing.
  std::optional<uid_t> uid;
  std::optional<gid_t> gid;
  // Redirect stdout to this file (e.g. /dev/full) instead of capturing it.
  std::optional<std::filesystem::path> stdout_file;
  // Or to this descriptor of the caller's, such as the write end of a pipe whose reader is gone.
  std::optional<int> stdout_fd;
  // System calls that fail in the child, from its exec on (a seccomp filter).
  std::vector<SyscallFault> faults;
  // The child's soft and hard limit on open descriptors.
  std::optional<unsigned> descriptor_limit;
};

// Runs `args[0]` (searched in PATH when it has no "/") with `args` as argv; arguments are raw
// bytes.
ProcessResult run_process(const std::vector<std::string>& args, const RunOptions& options = {});

// Runs `body` in a forked child of this process, with stdout and stderr captured and `body`'s
// return value as the exit status (an exception escaping it is status 125). The child must not
// rely on other threads of this process, which do not exist in it.
ProcessResult run_forked(const std::function<int()>& body);

// Runs the built sarn-runtime-bundle binary (as tool_path_for(options) names it); `args` exclude
// the program name.
ProcessResult run_tool(const std::vector<std::string>& args, const RunOptions& options = {});

// Whether everything, the tests and the tool they run included, was built with AddressSanitizer
// and UndefinedBehaviorSanitizer (SRB_SANITIZE). Such a build installs instrumented code that an
// outside program cannot link without the same flags, so installing, linking against the
// installation and packaging are checked in the plain build.
#ifdef __SANITIZE_ADDRESS__
inline constexpr bool kSanitizerBuild = true;
#else
inline constexpr bool kSanitizerBuild = false;
#endif
// AddressSanitizer reserves terabytes of address space for its shadow memory, so a binary built
// with it cannot start under an address-space limit at all.
inline constexpr bool kAddressLimitsWork = !kSanitizerBuild;
// Its redzones and quarantine of freed blocks count in a child's peak, which then says little
// about what the code itself takes.
inline constexpr bool kPeakIsTheCodes = !kSanitizerBuild;

// The user and group that tests needing an ordinary user run as ("nobody").
inline constexpr uid_t kOtherUser = 65534;

// Options that run a child as `uid` and `gid`, in "/", which every user may enter.
RunOptions as_other_user(uid_t uid = kOtherUser, gid_t gid = kOtherUser);

// Creates the directory "nobody" below `scratch`, owned by the other user, and lets everyone
// search `scratch` so they can reach it: a place they prepared, into which root then writes.
std::filesystem::path make_other_users_directory(const std::filesystem::path& scratch);

// Runs `action` in this process (which must be root) with the file-system user and group `uid`
// and `gid`: what it creates is theirs, and it may open, rename or remove only what they could.
// An attacker's single step at a chosen moment, without a child process.
void with_file_rights_of(uid_t uid, gid_t gid, const std::function<void()>& action);

// Pointers to the strings, then a null pointer: an argv or envp for exec, valid while `strings`
// is neither changed nor destroyed.
std::vector<char*> c_strings(std::vector<std::string>& strings);

// A small environment with PATH only, for tests that control every variable.
std::vector<std::string> minimal_env();

// The path of the built binary.
std::filesystem::path tool_path();

// The binary to run under `options`: the built one, or, for a child that drops to another user,
// a copy that user can reach. The build tree may lie in a private home (mode 0700), so such a
// child could not even execute the built file.
std::filesystem::path tool_path_for(const RunOptions& options);

}  // namespace srb::test
