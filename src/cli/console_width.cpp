#include "cli/console_width.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>

namespace srb {
namespace {

constexpr std::size_t kMaxColumns = 100000;

std::optional<std::size_t> terminal_width(int fd) {
  winsize size{};
  if (fd < 0 || !isatty(fd) || ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0)
    return std::nullopt;
  return size.ws_col;
}

}  // namespace

std::optional<std::size_t> parse_columns(const char* value) {
  if (value == nullptr || *value == '\0') return std::nullopt;
  std::size_t columns = 0;
  for (const char* c = value; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return std::nullopt;
    columns = std::min(columns * 10 + static_cast<std::size_t>(*c - '0'), kMaxColumns);
  }
  if (columns == 0) return std::nullopt;
  return columns;
}

std::size_t console_width(const Output& output) {
  if (const std::optional<std::size_t> columns = parse_columns(std::getenv("COLUMNS")))
    return *columns;
  return terminal_width(output.fd()).value_or(kDefaultWidth);
}

}  // namespace srb
