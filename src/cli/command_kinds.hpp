#pragma once
// What the command tree records about an argument beyond CLI11's own model. Kept apart from
// command_tree.hpp so that code describing the commands without parsing them (the man page and
// the completions) compiles without CLI11, the heaviest header of the project.

namespace srb {

enum class ValueKind { text, path, flag };
enum class Presence { optional, required };
enum class Repeat { no, yes };

}  // namespace srb
