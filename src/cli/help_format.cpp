#include "cli/help_format.hpp"

#include <algorithm>
#include <string_view>
#include <vector>

// The layout of help screens. Each entry (a subcommand, an argument, an option) has its name
// indented by two spaces and its text in a column shared by the whole screen, wrapped with a
// hanging indent. The column follows the longest name, but never passes half the width: a name
// too long for it keeps its own line and its text starts on the next. Texts are split at spaces
// only, so every word of a help text is shown as written.

namespace srb {
namespace {

constexpr std::size_t kIndent = 2;
constexpr std::size_t kGap = 2;  // between a name and its text

struct Entry {
  std::string name;
  std::string text;
};

std::vector<std::string> words_of(std::string_view text) {
  std::vector<std::string> words;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find(' ', start), text.size());
    if (end > start) words.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

// Appends `words` to `out`, whose last line already holds `column` characters, breaking before
// a word that would pass `width`; continuation lines are indented by `indent`. Ends with LF.
void append_wrapped(std::string& out, const std::vector<std::string>& words, std::size_t column,
                    std::size_t indent, std::size_t width) {
  bool line_has_words = false;
  for (const std::string& word : words) {
    if (line_has_words && column + 1 + word.size() > width) {
      out += '\n' + std::string(indent, ' ');
      column = indent;
      line_has_words = false;
    }
    if (line_has_words) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    line_has_words = true;
  }
  out += '\n';
}

// Where texts start: two past the longest name that leaves them at most half the width.
std::size_t text_column(const std::vector<std::vector<Entry>>& sections, std::size_t width) {
  const std::size_t limit = std::max<std::size_t>(width / 2, kIndent + kGap);
  std::size_t column = kIndent + kGap;
  for (const std::vector<Entry>& section : sections)
    for (const Entry& entry : section)
      if (kIndent + entry.name.size() + kGap <= limit)
        column = std::max(column, kIndent + entry.name.size() + kGap);
  return column;
}

void append_entry(std::string& out, const Entry& entry, std::size_t column, std::size_t width) {
  out += std::string(kIndent, ' ') + entry.name;
  const std::size_t used = kIndent + entry.name.size();
  const std::vector<std::string> words = words_of(entry.text);
  if (words.empty()) {
    out += '\n';
    return;
  }
  if (used + kGap > column) {
    out += '\n' + std::string(column, ' ');
  } else {
    out += std::string(column - used, ' ');
  }
  append_wrapped(out, words, column, column, width);
}

std::vector<Entry> command_entries(const CommandSpec& command) {
  std::vector<Entry> entries;
  for (const CommandSpec& sub : command.subcommands)
    entries.push_back({sub.name, sub.description});
  return entries;
}

std::vector<Entry> argument_entries(const CommandSpec& command, bool positional) {
  std::vector<Entry> entries;
  for (const ArgumentSpec& argument : command.arguments)
    if (argument.is_positional() == positional)
      entries.push_back({display_name(argument), argument.help});
  return entries;
}

// The options, with the help flag every command has last.
std::vector<Entry> option_entries(const CommandSpec& command) {
  std::vector<Entry> entries = argument_entries(command, false);
  entries.push_back({"-h, --help", kHelpFlagText});
  return entries;
}

}  // namespace

std::string command_path(const CommandSpec& command, std::string_view program) {
  if (command.parent == nullptr) return std::string(program);
  return command_path(*command.parent, program) + " " + command.name;
}

std::string render_usage(const CommandSpec& command, std::string_view program, std::size_t width) {
  // Every command has the optional help flag, so [OPTIONS] always stands.
  std::vector<std::string> words = {"Usage:", command_path(command, program), "[OPTIONS]"};
  for (const ArgumentSpec& argument : command.arguments)
    if (!argument.is_positional() && argument.presence == Presence::required)
      words.push_back(display_name(argument));
  for (const ArgumentSpec& argument : command.arguments)
    if (argument.is_positional()) words.push_back(display_name(argument));
  if (command.needs_subcommand()) words.push_back("<COMMAND>");
  std::string line;
  append_wrapped(line, words, 0, std::string_view("Usage: ").size(), width);
  return line;
}

std::string render_help(const CommandSpec& command, std::string_view program, std::size_t width) {
  std::string out;
  append_wrapped(out, words_of(command.description), 0, 0, width);
  out += '\n' + render_usage(command, program, width);
  const std::vector<std::string> headings = {"Commands:", "Arguments:", "Options:"};
  const std::vector<std::vector<Entry>> sections = {
      command_entries(command), argument_entries(command, true), option_entries(command)};
  const std::size_t column = text_column(sections, width);
  for (std::size_t i = 0; i < sections.size(); ++i) {
    if (sections[i].empty()) continue;
    out += '\n' + headings[i] + '\n';
    for (const Entry& entry : sections[i])
      append_entry(out, entry, column, width);
  }
  return out;
}

}  // namespace srb
