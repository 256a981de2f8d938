#pragma once
// Output: where the command line writes, standard output or standard error by descriptor, or a
// string for tests that call run() in process. The tool needs two streams of text and no
// formatting, which iostreams would have initialised (with their locale) at every start.

#include <optional>
#include <string>
#include <string_view>

namespace srb {

class Output {
 public:
  // Text kept in memory until flush() or until a few KiB have gathered, then written to `fd`.
  explicit Output(int fd) : fd_(fd) {}
  // Text appended to `text` as it comes; nothing fails.
  explicit Output(std::string& text) : text_(&text) {}
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  Output& operator<<(std::string_view text);
  Output& operator<<(char c) { return *this << std::string_view(&c, 1); }

  // Writes what is kept. After a failed write, the rest is dropped.
  void flush();
  // The error number of the first write that failed.
  std::optional<int> failure() const { return failure_; }
  // The descriptor written to, or -1 for a string.
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  std::string* text_ = nullptr;
  std::string pending_;
  std::optional<int> failure_;
};

}  // namespace srb
