#include "cli/suggest.hpp"

#include <algorithm>

namespace srb {
namespace {

// Optimal string alignment distance: insertions, deletions, substitutions and swaps of adjacent
// characters each cost one, so "biuld" is one edit away from "build".
std::size_t edit_distance(std::string_view a, std::string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i)
    d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j)
    d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

// A shortened name: the start or the end of a longer one. One character says too little.
bool is_part_of(std::string_view word, std::string_view candidate) {
  return word.size() >= 2 && word.size() < candidate.size() &&
         (candidate.starts_with(word) || candidate.ends_with(word));
}

}  // namespace

std::optional<std::string> closest_name(std::string_view word,
                                        const std::vector<std::string>& candidates) {
  for (const std::string& candidate : candidates) {
    if (is_part_of(word, candidate)) return candidate;
  }
  std::optional<std::string> best;
  std::size_t best_distance = 0;
  for (const std::string& candidate : candidates) {
    const std::size_t distance = edit_distance(word, candidate);
    const std::size_t allowed = std::max<std::size_t>(1, candidate.size() / 3);
    if (distance > allowed || (best && distance >= best_distance)) continue;
    best = candidate;
    best_distance = distance;
  }
  return best;
}

}  // namespace srb
