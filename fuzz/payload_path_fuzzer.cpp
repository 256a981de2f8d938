// The payload-path rule decides which manifest paths verify may join to the bundle directory,
// so a wrong "true" lets a manifest point outside the bundle. is_valid_payload_path is compared
// with a naive reference that splits the text at every "/". A path the rule accepts must also
// stay inside the bundle when joined lexically.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.hpp"
#include "manifest/manifest.hpp"

namespace {

std::vector<std::string> split_at_slash(std::string_view path) {
  std::vector<std::string> parts(1);
  for (const char c : path) {
    if (c == '/')
      parts.emplace_back();
    else
      parts.back() += c;
  }
  return parts;
}

bool reference_valid(std::string_view path) {
  if (path.empty() || path == "bundle.toml") return false;
  for (const char c : path)
    if (c == '\\' || c == '\t' || c == '\n' || c == '\0') return false;
  for (const std::string& part : split_at_slash(path))
    if (part.empty() || part == "." || part == "..") return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view path(reinterpret_cast<const char*>(data), size);
  const bool valid = srb::is_valid_payload_path(path);
  FUZZ_CHECK(valid == reference_valid(path));
  if (valid) {
    const std::filesystem::path bundle = "/bundle";
    const std::filesystem::path joined = (bundle / std::string(path)).lexically_normal();
    const std::string text = joined.native();
    FUZZ_CHECK(text.compare(0, 8, "/bundle/") == 0);
    FUZZ_CHECK(joined != bundle / "bundle.toml");
  }
  return 0;
}
