#include "build/source_date_epoch.hpp"

#include <chrono>
#include <cstdlib>
#include <limits>
#include <string>

// The grammar is deliberately narrow: no spaces, no "-", no exponent, no separators. A value that
// fits 64 bits but not a TOML integer passes here and is refused later, when the manifest is
// rendered.

namespace srb {
namespace {

std::uint64_t seconds_since_epoch() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since).count();
  return seconds < 0 ? 0 : static_cast<std::uint64_t>(seconds);
}

}  // namespace

std::optional<std::uint64_t> parse_source_date_epoch(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (kMax - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

Result<std::uint64_t> produced_at_now() {
  const char* raw = std::getenv("SOURCE_DATE_EPOCH");
  if (raw == nullptr) return seconds_since_epoch();
  const std::optional<std::uint64_t> value = parse_source_date_epoch(raw);
  if (!value) return InvalidSourceDateEpoch{std::string(raw)};
  return *value;
}

std::optional<struct timespec> tree_time_now() {
  const char* raw = std::getenv("SOURCE_DATE_EPOCH");
  if (raw == nullptr) return std::nullopt;
  const std::optional<std::uint64_t> value = parse_source_date_epoch(raw);
  if (!value || *value > static_cast<std::uint64_t>(std::numeric_limits<time_t>::max()))
    return std::nullopt;
  struct timespec time {};
  time.tv_sec = static_cast<time_t>(*value);
  return time;
}

}  // namespace srb
