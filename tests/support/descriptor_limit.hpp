#pragma once
// Lowering the soft limit on open descriptors for one scope.

#include <sys/resource.h>

#include <filesystem>

namespace srb::test {

class DescriptorLimit {
 public:
  explicit DescriptorLimit(rlim_t soft) {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit lowered = saved_;
    lowered.rlim_cur = soft;
    ::setrlimit(RLIMIT_NOFILE, &lowered);
  }
  DescriptorLimit(const DescriptorLimit&) = delete;
  DescriptorLimit& operator=(const DescriptorLimit&) = delete;
  ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &saved_); }

  // How many descriptors the process has open now.
  static rlim_t open_now() {
    rlim_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
      ++count;
    return count;
  }

 private:
  rlimit saved_{};
};

}  // namespace srb::test
