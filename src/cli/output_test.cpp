#include "cli/output.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "core/unique_fd.hpp"

namespace srb {
namespace {

std::string read_to_end(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read_some(fd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

// Help screens are written in pieces; whatever the sizes, a reader gets every byte in order,
// including text that passes the point where the output writes before being flushed.
TEST(Output, DescriptorGetsEveryPieceInOrder) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  UniqueFd read_end(ends[0]);
  std::string expected;
  {
    UniqueFd write_end(ends[1]);
    Output out(write_end.get());
    for (int i = 0; i < 3000; ++i) {
      const std::string piece = "line " + std::to_string(i);
      out << piece << '\n';
      expected += piece + '\n';
    }
    out.flush();
    EXPECT_EQ(out.failure(), std::nullopt);
  }
  EXPECT_GT(expected.size(), 16u * 1024);  // more than one buffer's worth
  EXPECT_EQ(read_to_end(read_end.get()), expected);
}

// The first failed write is the one reported; nothing written after it hides it.
TEST(Output, KeepsTheErrorOfTheFirstFailedWrite) {
  const struct {
    const char* name;
    int flags;
    int error;
  } cases[] = {
      {"/dev/full", O_WRONLY, ENOSPC},
      {"/dev/null", O_RDONLY, EBADF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UniqueFd fd(::open(c.name, c.flags | O_CLOEXEC));
    ASSERT_GE(fd.get(), 0);
    Output out(fd.get());
    out << "text";
    EXPECT_EQ(out.failure(), std::nullopt);  // nothing written yet
    out.flush();
    EXPECT_EQ(out.failure(), c.error);
    out << "more";
    out.flush();
    EXPECT_EQ(out.failure(), c.error);
  }
}

TEST(Output, StringTakesTextAsItComes) {
  std::string text = "kept ";
  Output out(text);
  out << "one" << ' ' << std::string("two");
  EXPECT_EQ(text, "kept one two");
  EXPECT_EQ(out.fd(), -1);
}

}  // namespace
}  // namespace srb
