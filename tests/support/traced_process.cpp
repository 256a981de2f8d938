#include "tests/support/traced_process.hpp"

#include <fcntl.h>
#include <grp.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <stdexcept>
#include <string_view>

namespace srb::test {
namespace {

// The lower half of argument `arg` in seccomp's view of a call (both x86-64 and AArch64 are
// little-endian).
std::uint32_t argument_offset(unsigned arg) {
  return static_cast<std::uint32_t>(offsetof(seccomp_data, args) + 8 * arg);
}

// One block per refusal, each falling through to the next when it does not apply, then "allow".
std::vector<sock_filter> filter_for(const std::vector<Refusal>& refusals) {
  std::vector<sock_filter> program;
  for (const Refusal& refusal : refusals) {
    const auto refuse = static_cast<std::uint32_t>(SECCOMP_RET_ERRNO) |
                        static_cast<std::uint32_t>(refusal.error & SECCOMP_RET_DATA);
    const auto number = static_cast<std::uint32_t>(refusal.number);
    program.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
    if (refusal.mask == 0) {
      program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, number, 0, 1));
    } else {
      program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, number, 0, 4));
      program.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, argument_offset(refusal.arg)));
      program.push_back(BPF_STMT(BPF_ALU | BPF_AND | BPF_K, refusal.mask));
      program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, refusal.value, 0, 1));
    }
    program.push_back(BPF_STMT(BPF_RET | BPF_K, refuse));
  }
  program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  return program;
}

// Runs in the child between fork and exec; only async-signal-safe calls. Stops itself once set
// up, so that the tracer sees every call the program makes from its exec on.
[[noreturn]] void exec_traced(char* const* argv, char* const* envp, int out_fd, int err_fd,
                              const RunOptions& options, const sock_fprog* filter) {
  const int null_fd = ::open("/dev/null", O_RDONLY);
  ::dup2(null_fd, STDIN_FILENO);
  ::dup2(out_fd, STDOUT_FILENO);
  ::dup2(err_fd, STDERR_FILENO);
  if (options.cwd && ::chdir(options.cwd->c_str()) != 0) ::_exit(126);
  if (options.gid && (::setgroups(1, &*options.gid) != 0 || ::setgid(*options.gid) != 0))
    ::_exit(126);
  if (options.uid && ::setuid(*options.uid) != 0) ::_exit(126);
  if (filter != nullptr && (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
                            ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, filter) != 0))
    ::_exit(125);
  if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) ::_exit(124);
  ::raise(SIGSTOP);
  ::execve(argv[0], argv, envp);
  ::_exit(127);
}

int wait_for(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  }
  return status;
}

std::string read_all(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      ::close(fd);
      return text;
    }
  }
}

// Follows the stopped child to its end, calling `at_entry` at each system call it enters after
// its exec and passing on every signal it receives. Returns its final wait status.
int trace(pid_t pid, const AtSyscall& at_entry) {
  const long options = PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL;
  if (::ptrace(PTRACE_SETOPTIONS, pid, nullptr, options) != 0)
    throw std::runtime_error("PTRACE_SETOPTIONS failed");
  bool executed = false;
  std::size_t index = 0;
  int pass_on = 0;
  for (;;) {
    // ESRCH: a signal sent at the last stop has already ended it.
    ::ptrace(PTRACE_SYSCALL, pid, nullptr, pass_on);
    pass_on = 0;
    const int status = wait_for(pid);
    if (!WIFSTOPPED(status)) return status;
    const int signal = WSTOPSIG(status);
    if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXEC << 8))) {
      executed = true;
    } else if (signal == (SIGTRAP | 0x80)) {
      __ptrace_syscall_info info{};
      if (::ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof info, &info) <= 0)
        throw std::runtime_error("PTRACE_GET_SYSCALL_INFO failed");
      if (!executed || info.op != PTRACE_SYSCALL_INFO_ENTRY || !at_entry) continue;
      SyscallEntry entry{.index = index++, .number = static_cast<long>(info.entry.nr), .args = {}};
      for (std::size_t i = 0; i < entry.args.size(); ++i)
        entry.args[i] = info.entry.args[i];
      if (const int send = at_entry(entry); send != 0) ::kill(pid, send);
    } else {
      pass_on = signal;
    }
  }
}

// This process's environment with AddressSanitizer's leak check off: LeakSanitizer cannot stop
// the threads of a traced program, so a sanitizer build would end each traced run with a fatal
// error of its own. Other programs ignore the variable.
std::vector<std::string> traced_environment() {
  std::vector<std::string> environment;
  std::string asan_options = "ASAN_OPTIONS=detect_leaks=0";
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text = *entry;
    if (text.starts_with("ASAN_OPTIONS="))
      asan_options = std::string(text) + ":detect_leaks=0";
    else
      environment.emplace_back(text);
  }
  environment.push_back(asan_options);
  return environment;
}

}  // namespace

ProcessResult run_traced(const TracedRun& run) {
  std::vector<std::string> arg_copy = run.args;
  std::vector<char*> argv = c_strings(arg_copy);
  std::vector<std::string> env_copy = traced_environment();
  std::vector<char*> envp = c_strings(env_copy);
  std::vector<sock_filter> program = filter_for(run.refusals);
  const sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};

  int out_pipe[2], err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  int child_out = out_pipe[1];
  if (run.options.stdout_file) {
    child_out = ::open(run.options.stdout_file->c_str(), O_WRONLY | O_CLOEXEC);
    if (child_out < 0) throw std::runtime_error("cannot open " + run.options.stdout_file->string());
  }
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0)
    exec_traced(argv.data(), envp.data(), child_out, err_pipe[1], run.options,
                run.refusals.empty() ? nullptr : &filter);
  if (run.options.stdout_file) ::close(child_out);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);

  const int first = wait_for(pid);
  if (!WIFSTOPPED(first) || WSTOPSIG(first) != SIGSTOP) {
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    throw std::runtime_error("the traced child did not start (status " + std::to_string(first) +
                             ")");
  }
  const int status = trace(pid, run.at_entry);
  ProcessResult result;
  result.out = read_all(out_pipe[0]);
  result.err = read_all(err_pipe[0]);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

std::optional<std::string> tracing_unavailable() {
  TracedRun probe;
  probe.args = {"/bin/true"};
  probe.refusals = {Refusal{.number = -1, .error = EPERM}};
  try {
    const ProcessResult result = run_traced(probe);
    if (result.status == 0) return std::nullopt;
    return "a traced, filtered /bin/true ended with status " + std::to_string(result.status);
  } catch (const std::exception& error) {
    return error.what();
  }
}

}  // namespace srb::test
