#pragma once
// Failing chosen system calls in a child process with a seccomp filter, so a test can show what
// the code does when the system fails, without any hook in the code under test.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace srb::test {

// The calls of system call `number` fail with `error`: every one, or with `first_argument` only
// those whose first argument (its low 32 bits) is that value, such as AT_FDCWD for the *at calls;
// or with `path` only those whose path, the second argument (as for openat2, openat and
// newfstatat), ends with that text. A path is judged by the test while the child waits, which a
// filter in the child alone cannot do (seccomp's user notification), so such faults only work
// through run_process. There, `before` runs the first time such a call is made, while the child
// waits for it; with `error` 0 the call then goes on as it is: another party's change made at
// that very moment.
struct SyscallFault {
  long number = -1;
  int error = 0;
  std::optional<std::int64_t> first_argument{};
  std::optional<std::string> path{};
  std::function<void()> before{};
};

// The filter for `faults`, prepared before a fork so that the child only has to install it.
class SyscallFilter {
 public:
  explicit SyscallFilter(std::span<const SyscallFault> faults);
  // True when some fault is judged by its path, so that a supervisor must answer the child.
  bool needs_supervisor() const { return needs_supervisor_; }
  // Installs the filter in the calling process, for good; async-signal-safe, for a child between
  // fork and exec. Returns the listener descriptor the supervisor reads when one is needed, 0 when
  // none is, -1 with errno set when the kernel refuses the filter.
  int install() const;

 private:
  std::vector<unsigned char> program_;  // struct sock_filter entries
  bool needs_supervisor_ = false;
};

// Answers the calls a child's filter hands over: fails those whose path matches a fault, lets the
// others run as they are.
class FaultSupervisor {
 public:
  FaultSupervisor(std::span<const SyscallFault> faults, int listener, pid_t child);
  FaultSupervisor(const FaultSupervisor&) = delete;
  FaultSupervisor& operator=(const FaultSupervisor&) = delete;
  ~FaultSupervisor();

  int listener() const { return listener_; }
  // Receives one call and answers it; false once the child is gone.
  bool answer_one();
  // How many calls were made to fail, and how many `before` actions ran.
  int injected() const { return injected_; }
  int actions_run() const { return actions_run_; }

 private:
  std::string path_at(std::uint64_t address) const;

  std::vector<SyscallFault> faults_;
  std::vector<bool> acted_;  // by fault: its `before` has run
  int listener_;
  pid_t child_;
  int injected_ = 0;
  int actions_run_ = 0;
};

// Runs `work` in a forked child with `faults` installed and returns what it returned. The child
// reports through a pipe; a child that crashes or cannot install the filter gives a text saying
// so, which no expectation matches.
std::string run_with_faults(std::span<const SyscallFault> faults,
                            const std::function<std::string()>& work);

// How a test reaches the code that opens paths below a directory: through openat2 as this
// kernel offers it, or in a child whose openat2 a filter refuses as an older kernel would
// (ENOSYS), so that the code falls back to resolving by hand.
enum class Openat2 { offered, refused };

inline void PrintTo(Openat2 openat2, std::ostream* out) {
  *out << (openat2 == Openat2::offered ? "openat2 offered" : "openat2 refused");
}

// The texts `work` returns, computed here or in such a child.
std::vector<std::string> run_with_openat2(Openat2 openat2,
                                          const std::function<std::vector<std::string>()>& work);

}  // namespace srb::test
