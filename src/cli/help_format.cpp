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

bool is_flag(const CLI::Option& option) {
  return option.get_items_expected_max() == 0;
}

std::vector<const CLI::Option*> positionals(const CLI::App& command) {
  return command.get_options([](const CLI::Option* opt) { return opt->get_positional(); });
}

std::vector<const CLI::Option*> named_options(const CLI::App& command) {
  return command.get_options([](const CLI::Option* opt) { return opt->nonpositional(); });
}

std::vector<const CLI::App*> subcommands(const CLI::App& command) {
  return command.get_subcommands([](const CLI::App*) { return true; });
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

std::vector<Entry> command_entries(const CLI::App& command) {
  std::vector<Entry> entries;
  for (const CLI::App* sub : subcommands(command))
    entries.push_back({sub->get_name(), sub->get_description()});
  return entries;
}

std::vector<Entry> option_entries(const std::vector<const CLI::Option*>& options) {
  std::vector<Entry> entries;
  for (const CLI::Option* option : options)
    entries.push_back({display_name(*option), option->get_description()});
  return entries;
}

}  // namespace

std::string command_path(const CLI::App& command) {
  if (command.get_parent() == nullptr) return command.get_name();
  return command_path(*command.get_parent()) + " " + command.get_name();
}

std::string display_name(const CLI::Option& option) {
  if (option.get_positional()) {
    if (option.get_required()) return "<" + option.get_name() + ">";
    return "[" + option.get_name() + "]...";
  }
  std::string names;
  for (const std::string& name : option.get_snames())
    names += (names.empty() ? "-" : ", -") + name;
  for (const std::string& name : option.get_lnames())
    names += (names.empty() ? "--" : ", --") + name;
  if (is_flag(option)) return names;
  return names + " <" + option.get_type_name() + ">";
}

std::string render_usage(const CLI::App& command, std::size_t width) {
  std::vector<std::string> words = {"Usage:", command_path(command)};
  const std::vector<const CLI::Option*> options = named_options(command);
  if (std::any_of(options.begin(), options.end(),
                  [](const CLI::Option* opt) { return !opt->get_required(); }))
    words.push_back("[OPTIONS]");
  for (const CLI::Option* option : options)
    if (option->get_required()) words.push_back(display_name(*option));
  for (const CLI::Option* option : positionals(command))
    words.push_back(display_name(*option));
  if (!subcommands(command).empty()) words.push_back("<COMMAND>");
  std::string line;
  append_wrapped(line, words, 0, std::string_view("Usage: ").size(), width);
  return line;
}

std::string render_help(const CLI::App& command, std::size_t width) {
  std::string out;
  append_wrapped(out, words_of(command.get_description()), 0, 0, width);
  out += '\n' + render_usage(command, width);
  const std::vector<std::string> headings = {"Commands:", "Arguments:", "Options:"};
  const std::vector<std::vector<Entry>> sections = {command_entries(command),
                                                    option_entries(positionals(command)),
                                                    option_entries(named_options(command))};
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
