#include "build/source_date_epoch.hpp"

#include <gtest/gtest.h>

namespace srb {
namespace {

TEST(ParseSourceDateEpoch, AcceptsOnlyAnOptionalPlusAndDecimalDigits) {
  struct Case {
    std::string_view text;
    std::optional<std::uint64_t> expected;
  };
  const Case cases[] = {
      {"0", 0},
      {"17", 17},
      {"+17", 17},
      {"0017", 17},
      {"+0", 0},
      {"18446744073709551615", 18446744073709551615u},
      {"000018446744073709551615", 18446744073709551615u},
      {"", std::nullopt},
      {"+", std::nullopt},
      {"++17", std::nullopt},
      {"-1", std::nullopt},
      {"-0", std::nullopt},
      {" 17", std::nullopt},
      {"17 ", std::nullopt},
      {"1e9", std::nullopt},
      {"1_000", std::nullopt},
      {"0x10", std::nullopt},
      {"18446744073709551616", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {std::string_view("1\0", 2), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_source_date_epoch(c.text), c.expected);
  }
}

}  // namespace
}  // namespace srb
