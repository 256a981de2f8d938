#pragma once
// Suggestions for mistyped subcommand and option names.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace srb {

// The candidate `word` most likely stands for. A word of two or more characters that begins or
// ends a candidate names it ("gen" for "generate", "publisher" for "require-publisher"); failing
// that, the closest candidate by edit distance (a swap of two neighbours counts as one edit) when
// it is close enough to be a typo: at most one edit per three characters of the candidate, and
// always one. Ties go to the earlier candidate; nothing close gives nullopt.
std::optional<std::string> closest_name(std::string_view word,
                                        const std::vector<std::string>& candidates);

}  // namespace srb
