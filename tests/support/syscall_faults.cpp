#include "tests/support/syscall_faults.hpp"

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace srb::test {
namespace {

#if defined(__x86_64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_AARCH64;
#else
#error "no seccomp architecture for this machine"
#endif

void add(std::vector<sock_filter>& program, sock_filter instruction) {
  program.push_back(instruction);
}

}  // namespace

SyscallFilter::SyscallFilter(std::span<const SyscallFault> faults) {
  std::vector<sock_filter> program;
  // Calls of another architecture's numbering pass untouched.
  add(program, BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)));
  add(program, BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kAuditArch, 1, 0));
  add(program, BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  for (const SyscallFault& fault : faults) {
    const bool by_argument = fault.first_argument.has_value();
    add(program, BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
    // Past this rule's remaining instructions when the number differs.
    const unsigned char rest_of_rule = by_argument ? 3 : 1;
    add(program, BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(fault.number), 0,
                          rest_of_rule));
    if (by_argument) {
      add(program, BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])));
      add(program, BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K,
                            static_cast<std::uint32_t>(*fault.first_argument), 0, 1));
    }
    if (fault.path) {
      needs_supervisor_ = true;
      add(program, BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF));
    } else {
      add(program,
          BPF_STMT(BPF_RET | BPF_K,
                   SECCOMP_RET_ERRNO | (static_cast<std::uint32_t>(fault.error) & 0xffff)));
    }
  }
  add(program, BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
  program_.resize(program.size() * sizeof(sock_filter));
  std::memcpy(program_.data(), program.data(), program_.size());
}

int SyscallFilter::install() const {
  sock_fprog fprog{};
  fprog.len = static_cast<unsigned short>(program_.size() / sizeof(sock_filter));
  fprog.filter = reinterpret_cast<sock_filter*>(const_cast<unsigned char*>(program_.data()));
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return -1;
  const unsigned long flags = needs_supervisor_ ? SECCOMP_FILTER_FLAG_NEW_LISTENER : 0;
  const long listener = ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, flags, &fprog);
  if (listener < 0) return -1;
  return needs_supervisor_ ? static_cast<int>(listener) : 0;
}

FaultSupervisor::FaultSupervisor(std::span<const SyscallFault> faults, int listener, pid_t child)
    : faults_(faults.begin(), faults.end()),
      acted_(faults.size(), false),
      listener_(listener),
      child_(child) {}

FaultSupervisor::~FaultSupervisor() {
  if (listener_ >= 0) ::close(listener_);
}

// The NUL-terminated text at `address` in the child, read a page at a time: a read that crosses
// into a page the child has not mapped fails as a whole.
std::string FaultSupervisor::path_at(std::uint64_t address) const {
  constexpr std::uint64_t kPage = 4096;
  // Opened for each call: the file stands for the memory the child had when it was opened, and
  // exec gives the child new memory.
  const std::string memory_path = "/proc/" + std::to_string(child_) + "/mem";
  const int memory = ::open(memory_path.c_str(), O_RDONLY | O_CLOEXEC);
  std::string path;
  char buffer[kPage];
  while (path.size() < 2 * kPage) {
    const std::uint64_t count = kPage - address % kPage;
    const ssize_t n = ::pread(memory, buffer, count, static_cast<off_t>(address));
    if (n <= 0) break;
    const std::string_view read(buffer, static_cast<std::size_t>(n));
    const std::size_t end = read.find('\0');
    path += read.substr(0, end);
    if (end != std::string_view::npos) break;
    address += static_cast<std::uint64_t>(n);
  }
  if (memory >= 0) ::close(memory);
  return path;
}

bool FaultSupervisor::answer_one() {
  seccomp_notif call{};
  if (::ioctl(listener_, SECCOMP_IOCTL_NOTIF_RECV, &call) != 0) return errno == EINTR;
  seccomp_notif_resp answer{};
  answer.id = call.id;
  answer.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
  const std::string path = path_at(call.data.args[1]);
  for (std::size_t i = 0; i < faults_.size(); ++i) {
    const SyscallFault& fault = faults_[i];
    if (fault.number != call.data.nr || !fault.path) continue;
    const bool matches =
        fault.path->starts_with('/') ? path.ends_with(*fault.path) : path == *fault.path;
    if (!matches) continue;
    if (fault.before && !acted_[i]) {
      acted_[i] = true;
      fault.before();
      ++actions_run_;
    }
    if (fault.error == 0) break;
    answer.flags = 0;
    answer.error = -fault.error;
    ++injected_;
    break;
  }
  // A child killed meanwhile makes the answer fail; the next receive then says it is gone.
  ::ioctl(listener_, SECCOMP_IOCTL_NOTIF_SEND, &answer);
  return true;
}

std::string run_with_faults(std::span<const SyscallFault> faults,
                            const std::function<std::string()>& work) {
  const SyscallFilter filter(faults);
  int report[2];
  if (::pipe(report) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    ::close(report[0]);
    if (filter.needs_supervisor() || filter.install() < 0) ::_exit(125);
    const std::string result = work();
    for (std::size_t done = 0; done < result.size();) {
      const ssize_t n = ::write(report[1], result.data() + done, result.size() - done);
      if (n <= 0) ::_exit(124);
      done += static_cast<std::size_t>(n);
    }
    ::_exit(0);
  }
  ::close(report[1]);
  std::string result;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(report[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(report[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return "the child ended with status " + std::to_string(status);
  return result;
}

std::vector<std::string> run_with_openat2(Openat2 openat2,
                                          const std::function<std::vector<std::string>()>& work) {
  if (openat2 == Openat2::offered) return work();
  const SyscallFault refused[] = {{.number = SYS_openat2, .error = ENOSYS}};
  // The texts travel through the pipe separated by NUL, which none of them holds.
  const std::string joined = run_with_faults(refused, [&] {
    std::string all;
    for (const std::string& text : work()) {
      all += text;
      all += '\0';
    }
    return all;
  });
  std::vector<std::string> texts;
  for (std::size_t start = 0; start < joined.size();) {
    const std::size_t end = joined.find('\0', start);
    if (end == std::string::npos) return {joined};  // the child's complaint
    texts.push_back(joined.substr(start, end - start));
    start = end + 1;
  }
  return texts;
}

}  // namespace srb::test
