#pragma once
// Cli: the parsed command line, one variant per command. Paths hold the raw bytes as typed;
// text fields are valid UTF-8.

#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace srb {

struct Build {
  std::string version;
  std::filesystem::path out;
  std::optional<std::filesystem::path> from;
  std::optional<std::string> arch;
  std::optional<std::filesystem::path> identity;
  std::vector<std::string> include;
};

struct Verify {
  std::filesystem::path dir;
  std::optional<std::string> require_publisher;
  bool require_signature = false;
  std::optional<std::string> require_arch;
};

struct Path {
  std::string version;
  bool system = false;
};

struct Generate {
  std::filesystem::path out;
};

struct Pubkey {
  std::filesystem::path identity;
};

struct Key {
  std::variant<Generate, Pubkey> command;
};

struct Cli {
  std::variant<Build, Verify, Path, Key> command;
};

}  // namespace srb
