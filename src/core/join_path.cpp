#include "core/join_path.hpp"

// The one join rule for bundle roots, data directories and version tags. It works on bytes, not
// on std::filesystem::path, whose operator/ would treat an empty right side differently.

namespace srb {

std::string join_path(std::string_view left, std::string_view right) {
  if (right.starts_with('/')) return std::string(right);
  std::string joined(left);
  if (!joined.empty() && !joined.ends_with('/')) joined += '/';
  joined += right;
  return joined;
}

}  // namespace srb
