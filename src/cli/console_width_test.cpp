#include "cli/console_width.hpp"

#include <gtest/gtest.h>

namespace srb {
namespace {

TEST(ParseColumns, TakesOnlyAPositiveNumber) {
  const struct {
    const char* value;
    std::optional<std::size_t> columns;
  } cases[] = {
      {"120", 120},
      {"1", 1},
      {"0080", 80},
      {"99999999999999999999999", 100000},  // no overflow into a small width
      {nullptr, std::nullopt},
      {"", std::nullopt},
      {"0", std::nullopt},
      {"-80", std::nullopt},
      {"+80", std::nullopt},
      {" 80", std::nullopt},
      {"80 ", std::nullopt},
      {"80x", std::nullopt},
      {"wide", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value == nullptr ? "(unset)" : c.value);
    EXPECT_EQ(parse_columns(c.value), c.columns);
  }
}

}  // namespace
}  // namespace srb
