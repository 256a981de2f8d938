// The command-line parser on argument vectors cut from the input at NUL bytes (the program
// name first). Whatever the words, parsing ends in a Cli or in status 0 (help on standard
// output) or 2 (usage error on standard error); a Cli holds UTF-8 texts and non-empty paths.
// No handler runs.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cli/command_line.hpp"
#include "core/text.hpp"
#include "fuzz_check.hpp"

namespace {

constexpr std::size_t kMaxArgs = 24;

std::vector<std::string> split_args(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args{"sarn-runtime-bundle"};
  std::string word;
  for (std::size_t i = 0; i < size && args.size() < kMaxArgs; ++i) {
    if (data[i] == 0) {
      args.push_back(word);
      word.clear();
    } else {
      word += static_cast<char>(data[i]);
    }
  }
  if (size > 0 && args.size() < kMaxArgs) args.push_back(word);
  return args;
}

bool is_text(const std::string& value) {
  return srb::is_valid_utf8(value);
}
bool is_text(const std::optional<std::string>& value) {
  return !value || is_text(*value);
}
bool is_path(const std::filesystem::path& value) {
  return !value.empty();
}
bool is_path(const std::optional<std::filesystem::path>& value) {
  return !value || is_path(*value);
}

struct CheckFields {
  void operator()(const srb::Build& b) const {
    FUZZ_CHECK(is_text(b.version) && is_text(b.arch));
    FUZZ_CHECK(is_path(b.out) && is_path(b.from) && is_path(b.identity));
    for (const std::string& include : b.include)
      FUZZ_CHECK(is_path(std::filesystem::path(include)));
  }
  void operator()(const srb::Verify& v) const {
    FUZZ_CHECK(is_path(v.dir) && is_text(v.require_publisher) && is_text(v.require_arch));
  }
  void operator()(const srb::Path& p) const { FUZZ_CHECK(is_text(p.version)); }
  void operator()(const srb::Key& k) const {
    if (const auto* generate = std::get_if<srb::Generate>(&k.command))
      FUZZ_CHECK(is_path(generate->out));
    else
      FUZZ_CHECK(is_path(std::get<srb::Pubkey>(k.command).identity));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> args = split_args(data, size);
  std::string out_text, err_text;
  srb::Output out(out_text), err(err_text);
  const auto parsed = srb::parse_command_line(args, out, err);
  if (const auto* exit = std::get_if<srb::ParseExit>(&parsed)) {
    FUZZ_CHECK(exit->status == 0 || exit->status == 2);
    if (exit->status == 0) FUZZ_CHECK(!out_text.empty() && err_text.empty());
    if (exit->status == 2) FUZZ_CHECK(!err_text.empty() && out_text.empty());
  } else {
    FUZZ_CHECK(out_text.empty() && err_text.empty());
    std::visit(CheckFields{}, std::get<srb::Cli>(parsed).command);
  }
  return 0;
}
