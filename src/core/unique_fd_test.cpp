#include "core/unique_fd.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <vector>

namespace srb {
namespace {

bool is_open(int fd) {
  return ::fcntl(fd, F_GETFD) != -1;
}

// `count` descriptors of /dev/null with consecutive numbers from `first`, well above those the
// test process already holds.
std::vector<int> open_null(int first, std::size_t count) {
  const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  std::vector<int> fds;
  for (std::size_t i = 0; i < count; ++i)
    fds.push_back(::dup3(null, first + static_cast<int>(i), O_CLOEXEC));
  ::close(null);
  return fds;
}

// The batch holds consecutive numbers with gaps between them that it does not own: what it
// closes with one range must stop at each gap.
TEST(ClosingBatch, ClosesWhatItHoldsAndNothingBetween) {
  const std::vector<int> fds = open_null(500, 7);
  std::vector<int> kept;
  {
    ClosingBatch batch;
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (i == 2 || i == 3 || i == 5) {
        kept.push_back(fds[i]);
      } else {
        batch.add(UniqueFd(fds[i]));
      }
    }
    for (const int fd : fds)
      EXPECT_TRUE(is_open(fd)) << fd;
    EXPECT_TRUE(batch.close_all());
    EXPECT_FALSE(batch.close_all());
  }
  for (std::size_t i = 0; i < fds.size(); ++i) {
    const bool should_be_open = i == 2 || i == 3 || i == 5;
    EXPECT_EQ(is_open(fds[i]), should_be_open) << "descriptor " << i;
  }
  for (const int fd : kept)
    ::close(fd);
}

TEST(ClosingBatch, ClosesWhenFullAndWhenDestroyed) {
  const std::vector<int> full = open_null(500, ClosingBatch::kSize);
  const std::vector<int> rest = open_null(600, 3);
  {
    ClosingBatch batch;
    for (const int fd : full)
      batch.add(UniqueFd(fd));
    for (const int fd : full)
      EXPECT_FALSE(is_open(fd)) << fd;
    for (const int fd : rest)
      batch.add(UniqueFd(fd));
    for (const int fd : rest)
      EXPECT_TRUE(is_open(fd)) << fd;
  }
  for (const int fd : rest)
    EXPECT_FALSE(is_open(fd)) << fd;
}

}  // namespace
}  // namespace srb
