#include "cli/command_spec.hpp"

#include <gtest/gtest.h>

#include <set>

namespace srb {
namespace {

void collect_commands(const CommandSpec& command, std::vector<const CommandSpec*>& all) {
  all.push_back(&command);
  for (const CommandSpec& sub : command.subcommands)
    collect_commands(sub, all);
}

std::vector<const CommandSpec*> every_command() {
  std::vector<const CommandSpec*> all;
  collect_commands(command_spec(), all);
  return all;
}

// A command the scan can end on runs, so it needs an identifier, and an identifier on a command
// that leads to subcommands or prints help would never be reached. Each is used once, and
// command_spec(id) finds the command that carries it.
TEST(CommandSpec, ExactlyTheCommandsThatRunHaveIdentifiers) {
  std::set<CommandId> seen;
  for (const CommandSpec* command : every_command()) {
    SCOPED_TRACE(command->name);
    const bool runs = !command->needs_subcommand() && !command->is_help_command();
    ASSERT_EQ(command->id.has_value(), runs);
    if (!runs) continue;
    EXPECT_TRUE(seen.insert(*command->id).second);
    EXPECT_EQ(&command_spec(*command->id), command);
  }
  using enum CommandId;
  EXPECT_EQ(seen, (std::set<CommandId>{build, verify, path, key_generate, key_pubkey}));
}

// The values of a command are read by identifier, so two arguments of one command with the same
// identifier would leave the second unread, and two with the same name could not both be typed.
TEST(CommandSpec, ArgumentsOfACommandHaveDistinctIdentifiersAndNames) {
  for (const CommandSpec* command : every_command()) {
    SCOPED_TRACE(command->name);
    std::set<ArgumentId> ids;
    std::set<std::string> names;
    for (const ArgumentSpec& argument : command->arguments) {
      EXPECT_TRUE(ids.insert(argument.id).second) << identifier(argument.id);
      EXPECT_TRUE(names.insert(argument.name()).second) << argument.name();
    }
  }
}

}  // namespace
}  // namespace srb
