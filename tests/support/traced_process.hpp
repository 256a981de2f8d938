#pragma once
// Runs a program under ptrace(2), stopped at the entry of each of its system calls, so that a
// test can act at an exact point of it instead of at a moment: send it a signal there, or change
// a file while it waits. A seccomp filter can make chosen calls fail the way a file system or an
// older kernel would. Nothing in the program knows it is watched.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/process.hpp"

namespace srb::test {

// A system call the program is about to make.
struct SyscallEntry {
  std::size_t index = 0;  // counted from the first call after exec, from 0
  long number = -1;       // SYS_*
  std::array<std::uint64_t, 6> args{};
};

// Calls the program is made to fail with `error`, before the kernel runs them: those of
// `number` whose argument `arg` (its lower 32 bits) masked with `mask` equals `value`, or every
// one when `mask` is 0.
struct Refusal {
  long number = -1;
  int error = 0;
  unsigned arg = 0;
  std::uint32_t mask = 0;
  std::uint32_t value = 0;
};

// What a test does at each entry: returns the signal to send the program there, or 0.
using AtSyscall = std::function<int(const SyscallEntry&)>;

struct TracedRun {
  std::vector<std::string> args;  // the program (a path) and its arguments
  RunOptions options;             // cwd, uid, gid and stdout_file are honoured
  std::vector<Refusal> refusals;
  AtSyscall at_entry;
};

// Runs it to its end. Standard output and error are captured (at most a pipe's worth each, which
// is all these programs print); the status is as run_process gives it. Throws when the program
// cannot be traced or started.
ProcessResult run_traced(const TracedRun& run);

// Why this process may not trace a child or filter its system calls (a container that forbids
// ptrace or seccomp), or nothing when it may.
std::optional<std::string> tracing_unavailable();

}  // namespace srb::test
