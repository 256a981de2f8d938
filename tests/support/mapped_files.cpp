#include "tests/support/mapped_files.hpp"

#include <sstream>

namespace srb::test {

std::set<std::string> mapped_files(const std::string& maps) {
  std::set<std::string> files;
  std::istringstream in(maps);
  for (std::string line; std::getline(in, line);) {
    const std::size_t slash = line.find(" /");
    if (slash != std::string::npos) files.insert(line.substr(slash + 1));
  }
  return files;
}

bool is_loader_or_libc(const std::filesystem::path& file) {
  const std::string name = file.filename().string();
  return name.starts_with("ld-linux") || name.starts_with("libc.so") || name.starts_with("libc-");
}

}  // namespace srb::test
