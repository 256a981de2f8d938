#include "tests/support/process.hpp"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "tests/support/temp_dir.hpp"

extern char** environ;

namespace srb::test {
namespace {

// One byte with room for one descriptor beside it: what passes a descriptor over a socket.
struct DescriptorMessage {
  char byte = 0;
  iovec data{&byte, 1};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};

  DescriptorMessage() {
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
  }
  DescriptorMessage(const DescriptorMessage&) = delete;
  DescriptorMessage& operator=(const DescriptorMessage&) = delete;
};

// Hands the descriptor `fd` to the other end of the socket `channel`.
void send_descriptor(int channel, int fd) {
  DescriptorMessage sent;
  cmsghdr* header = CMSG_FIRSTHDR(&sent.message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(header), &fd, sizeof(int));
  ::sendmsg(channel, &sent.message, 0);
}

// The descriptor sent through `channel`, or -1 when the other end closed without sending one.
int receive_descriptor(int channel) {
  DescriptorMessage received;
  if (::recvmsg(channel, &received.message, MSG_CMSG_CLOEXEC) <= 0) return -1;
  const cmsghdr* header = CMSG_FIRSTHDR(&received.message);
  if (header == nullptr || header->cmsg_type != SCM_RIGHTS) return -1;
  int fd = -1;
  std::memcpy(&fd, CMSG_DATA(header), sizeof(int));
  return fd;
}

// Runs in the child just after fork; only async-signal-safe calls. The child's peak resident size
// starts as this process's peak so far; it is set back to what the child holds now (the pages it
// shares with this process), so that peak_kib says what the child itself took.
void start_child(int out_fd, int err_fd) {
  const int peak = ::open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
  if (peak >= 0) {
    (void)!::write(peak, "5", 1);
    ::close(peak);
  }
  const int null_fd = ::open("/dev/null", O_RDONLY);
  ::dup2(null_fd, STDIN_FILENO);
  ::dup2(out_fd, STDOUT_FILENO);
  ::dup2(err_fd, STDERR_FILENO);
}

// Runs in the child between fork and exec; only async-signal-safe calls.
[[noreturn]] void exec_child(std::vector<char*>& argv, std::vector<char*>* envp, int out_fd,
                             int err_fd, const RunOptions& options, const SyscallFilter& filter,
                             int supervisor_channel) {
  start_child(out_fd, err_fd);
  if (options.cwd && ::chdir(options.cwd->c_str()) != 0) ::_exit(126);
  if (options.umask) ::umask(*options.umask);
  if (options.gid && (::setgroups(1, &*options.gid) != 0 || ::setgid(*options.gid) != 0))
    ::_exit(126);
  if (options.uid && ::setuid(*options.uid) != 0) ::_exit(126);
  if (!options.faults.empty()) {
    const int listener = filter.install();
    if (listener < 0) ::_exit(126);
    if (filter.needs_supervisor()) {
      send_descriptor(supervisor_channel, listener);
      ::close(listener);
    }
  }
  if (options.descriptor_limit) {
    // Only the standard three stay open, whatever the test runner passed down, so that the limit
    // leaves the program the room the test means.
    ::syscall(SYS_close_range, 3U, ~0U, 0U);
    const rlimit limit{*options.descriptor_limit, *options.descriptor_limit};
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(126);
  }
  if (envp) {
    ::execve(argv[0], argv.data(), envp->data());
    if (errno == ENOENT && std::string_view(argv[0]).find('/') == std::string_view::npos) {
      environ = envp->data();
      ::execvp(argv[0], argv.data());
    }
  } else {
    ::execvp(argv[0], argv.data());
  }
  ::_exit(127);
}

// Reads the child's output until both pipes close, answering its supervised calls meanwhile.
void drain(int out_fd, int err_fd, ProcessResult& result, FaultSupervisor* supervisor) {
  pollfd fds[3] = {{out_fd, POLLIN, 0},
                   {err_fd, POLLIN, 0},
                   {supervisor != nullptr ? supervisor->listener() : -1, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = (out_fd >= 0) + (err_fd >= 0);
  char buffer[65536];
  while (open_count > 0) {
    if (::poll(fds, 3, -1) < 0 && errno != EINTR) throw std::runtime_error("poll failed");
    if (fds[2].fd >= 0 && fds[2].revents != 0 && !supervisor->answer_one()) fds[2].fd = -1;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
}

// A root directory that other users may not search shuts them out of everything, the system's
// own programs included. No installed system has one, but a chroot unpacked into a mktemp
// directory does (mode 0700): there the fixture lets others search "/" (not list it), as every
// real root directory does, once, before the first child drops to another user.
void let_others_search_root_directory() {
  static const bool done = [] {
    struct stat info {};
    if (::stat("/", &info) == 0 && (info.st_mode & S_IXOTH) == 0 && ::geteuid() == 0)
      ::chmod("/", (info.st_mode & 07777) | S_IXOTH);
    return true;
  }();
  (void)done;
}

// What a child is handed: the write ends of its output pipes, and the socket through which it
// passes its filter's listener when its faults need a supervisor (-1 otherwise).
using ChildBody = std::function<void(int out_fd, int err_fd, int supervisor_channel)>;

// Where a child's standard output goes instead of the pipe: a descriptor, closed here once the
// child has it when `owned`.
struct OutputTarget {
  int fd = -1;
  bool owned = false;
};

// Forks, runs `child` (which must not return), and collects what it writes, its status and its
// peak memory, answering the system calls its filter hands over to `faults`' supervisor.
ProcessResult run_child(const ChildBody& child, OutputTarget out,
                        const SyscallFilter* filter = nullptr,
                        std::span<const SyscallFault> faults = {}) {
  int out_pipe[2], err_pipe[2];
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  const bool supervised = filter != nullptr && filter->needs_supervisor();
  int channel[2] = {-1, -1};
  if (supervised && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0)
    throw std::runtime_error("socketpair failed");
  const int child_out = out.fd >= 0 ? out.fd : out_pipe[1];
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    child(child_out, err_pipe[1], channel[1]);
    ::_exit(127);
  }

  if (out.owned) ::close(out.fd);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  std::optional<FaultSupervisor> supervisor;
  if (supervised) {
    ::close(channel[1]);
    const int listener = receive_descriptor(channel[0]);
    ::close(channel[0]);
    if (listener >= 0) supervisor.emplace(faults, listener, pid);
  }
  ProcessResult result;
  drain(out_pipe[0], err_pipe[0], result, supervisor ? &*supervisor : nullptr);
  int wait_status = 0;
  struct rusage usage {};
  while (::wait4(pid, &wait_status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  result.peak_kib = usage.ru_maxrss;
  if (supervisor) {
    result.faults_injected = supervisor->injected();
    result.actions_run = supervisor->actions_run();
  }
  return result;
}

}  // namespace

std::vector<char*> c_strings(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings)
    pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

ProcessResult run_process(const std::vector<std::string>& args, const RunOptions& options) {
  if (options.uid && *options.uid != ::geteuid()) let_others_search_root_directory();
  std::vector<std::string> arg_copy = args;
  std::vector<char*> argv = c_strings(arg_copy);
  std::vector<std::string> env_copy = options.env.value_or(std::vector<std::string>{});
  std::vector<char*> envp = c_strings(env_copy);

  OutputTarget out;
  if (options.stdout_fd) out.fd = *options.stdout_fd;
  if (options.stdout_file) {
    out = {::open(options.stdout_file->c_str(), O_WRONLY | O_CLOEXEC), true};
    if (out.fd < 0) throw std::runtime_error("cannot open " + options.stdout_file->string());
  }
  const SyscallFilter filter(options.faults);
  return run_child(
      [&](int child_out, int child_err, int channel) {
        exec_child(argv, options.env ? &envp : nullptr, child_out, child_err, options, filter,
                   channel);
      },
      out, &filter, options.faults);
}

ProcessResult run_forked(const std::function<int()>& body) {
  return run_child(
      [&](int child_out, int child_err, int) {
        start_child(child_out, child_err);
        int status = 125;
        try {
          status = body();
        } catch (...) {
        }
        std::fflush(nullptr);
        ::_exit(status);
      },
      OutputTarget{});
}

namespace {

// `dir` and every directory above it must let others search it, or the copy is as unreachable as
// the build tree: say so instead of letting each test fail with exec's status 127.
void require_searchable_by_others(const std::filesystem::path& dir) {
  let_others_search_root_directory();
  for (std::filesystem::path at = dir;; at = at.parent_path()) {
    struct stat info {};
    if (::stat(at.c_str(), &info) != 0 || (info.st_mode & S_IXOTH) == 0)
      throw std::runtime_error(at.string() + " cannot be entered by other users, who then " +
                               "cannot run the tool; point TMPDIR at a directory they can reach");
    if (at == at.root_path()) break;
  }
}

// Made once per test program and removed when it exits.
const std::filesystem::path& tool_copy_for_other_users() {
  static const TempDir dir;
  static const std::filesystem::path copy = [] {
    ::chmod(dir.path().c_str(), 0755);
    require_searchable_by_others(dir.path());
    const std::filesystem::path copy = dir / tool_path().filename();
    std::filesystem::copy_file(tool_path(), copy);
    std::filesystem::permissions(copy, std::filesystem::perms(0755));
    return copy;
  }();
  return copy;
}

}  // namespace

std::filesystem::path tool_path() {
  return SRB_BINARY;
}

std::filesystem::path tool_path_for(const RunOptions& options) {
  return options.uid && *options.uid != ::geteuid() ? tool_copy_for_other_users() : tool_path();
}

RunOptions as_other_user(uid_t uid, gid_t gid) {
  RunOptions options;
  options.uid = uid;
  options.gid = gid;
  options.cwd = "/";
  return options;
}

ProcessResult run_tool(const std::vector<std::string>& args, const RunOptions& options) {
  std::vector<std::string> full{tool_path_for(options).string()};
  full.insert(full.end(), args.begin(), args.end());
  return run_process(full, options);
}

std::filesystem::path make_other_users_directory(const std::filesystem::path& scratch) {
  std::filesystem::permissions(scratch, std::filesystem::perms(0755));
  const std::filesystem::path theirs = scratch / "nobody";
  std::filesystem::create_directory(theirs);
  if (::chown(theirs.c_str(), kOtherUser, kOtherUser) != 0)
    throw std::runtime_error("cannot give " + theirs.string() + " to the other user");
  return theirs;
}

void with_file_rights_of(uid_t uid, gid_t gid, const std::function<void()>& action) {
  if (uid != ::geteuid()) let_others_search_root_directory();
  const gid_t old_gid = static_cast<gid_t>(::setfsgid(gid));
  const uid_t old_uid = static_cast<uid_t>(::setfsuid(uid));
  action();
  ::setfsuid(old_uid);
  ::setfsgid(old_gid);
}

std::vector<std::string> minimal_env() {
  return {"PATH=/usr/local/bin:/usr/bin:/bin"};
}

}  // namespace srb::test
