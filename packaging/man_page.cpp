#include "packaging/render_docs.hpp"

#include <algorithm>
#include <cstdio>

// The man page: a synopsis line and a section per command, both from the command tree, around
// the program's fixed prose (description, exit status, environment, files, examples). Help texts
// mark code with backticks, which the page sets in bold.

namespace srb {
namespace {

constexpr std::string_view kHeader =
    ".TH SARN-RUNTIME-BUNDLE 1 \"\" \"sarn-runtime-bundle @VERSION@\" \"User Commands\"\n"
    ".SH NAME\n"
    "sarn-runtime-bundle \\- build, verify and locate Sarn runtime bundles\n";

constexpr std::string_view kDescription =
    ".SH DESCRIPTION\n"
    ".B sarn-runtime-bundle\n"
    "builds, checks and locates runtime bundles.\n"
    "A runtime bundle is a directory holding a copy of a host's dynamic loader and its core\n"
    "C-runtime libraries, plus\n"
    ".IR bundle.toml ,\n"
    "which lists every file with its BLAKE3 digest, a root hash over that list and an optional\n"
    "Ed25519 signature of the publisher.\n"
    ".PP\n"
    "Results go to standard output; a failed command prints one line on standard error.\n";

constexpr std::string_view kTrailer =
    ".SH EXIT STATUS\n"
    ".TP\n.B 0\nThe command succeeded, or help was requested.\n"
    ".TP\n.B 1\nThe command ran and failed; one error line was printed.\n"
    "Memory that runs out and a file-size limit end a command so too, not with a signal.\n"
    ".TP\n.B 2\nThe command line was rejected; nothing was run.\n"
    ".SH ENVIRONMENT\n"
    ".TP\n.B SOURCE_DATE_EPOCH\n"
    "Seconds since the epoch that\n.B build\nrecords as the production time instead of the\n"
    "current time, for reproducible bundles.\n"
    ".TP\n.B SARN_RUNTIME_BUNDLE_DIR\n"
    "When set and not empty, the per-user bundle root, used as it is.\n"
    ".TP\n.B XDG_DATA_HOME\n"
    "Otherwise, when absolute, the per-user bundle root is\n"
    ".IR \\%$XDG_DATA_HOME/sarn\\-runtime .\n"
    ".TP\n.B HOME\n"
    "Otherwise the per-user bundle root is\n.IR \\%$HOME/.local/share/sarn\\-runtime .\n"
    ".SH FILES\n"
    ".TP\n.I DIR/bundle.toml\n"
    "The manifest of the bundle in\n.IR DIR .\n"
    ".TP\n.I /usr/lib/sarn\\-runtime/VERSION\n"
    "A bundle installed for the whole system.\n"
    ".SH NOTES\n"
    "With\n.B \\-\\-from\nnaming a directory other than\n.IR / ,\n.B build\n"
    "looks up each loader and library path it probes, and the loader cache, inside that root as\n"
    "the root's own system would: a symbolic link with an absolute target names a file of the\n"
    "root, and\n.I ..\\&\nnever climbs above the root, so no link leads to a file of the running\n"
    "system.\n"
    "A path that the root lacks, or that only a link out of the root would reach, is skipped.\n"
    "Links in the\n.B \\-\\-from\npath itself are followed.\n"
    ".PP\n"
    "Files named with\n.B \\-\\-include\nare files of the running system, as typed: an include\n"
    "that names a file inside the root follows its links on the running system.\n"
    ".PP\n"
    ".B key generate\n"
    "writes the identity into a new owner-only file in the directory of\n.B \\-\\-out\n"
    "and renames it over the old one, which is replaced whole or kept whole.\n"
    "That directory must be writable by the user and by nobody else: one that another user owns,\n"
    "or that others or a group with other members may write, is refused unless it is sticky.\n"
    "An interrupted run leaves no copy of the secret behind; a failure after the rename says\n"
    "that\n.B \\-\\-out\nnow holds the new identity.\n"
    ".SH EXAMPLES\n"
    "Build a signed bundle of this host, check it, and ask where version 1.0 is installed:\n"
    ".PP\n.nf\n.RS\n"
    "sarn\\-runtime\\-bundle key generate \\-\\-out id.json\n"
    "sarn\\-runtime\\-bundle build \\-\\-version 1.0 \\-\\-out /tmp/b \\-\\-identity id.json\n"
    "sarn\\-runtime\\-bundle verify /tmp/b \\-\\-require\\-signature\n"
    "sarn\\-runtime\\-bundle path \\-\\-version 1.0\n"
    ".RE\n.fi\n"
    ".SH SEE ALSO\n"
    "The bundle format, for writing another verifier:\n"
    ".I bundle-format.md\n"
    "in\n.IR share/doc/sarn\\-runtime\\-bundle/\n"
    "below the installation prefix.\n";

enum class Hyphen { hyphen, minus };

// Appends one UTF-8 sequence starting at text[i] as \[uXXXX]; returns its length.
std::size_t append_unicode_escape(std::string& out, std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  unsigned code = length == 1 ? 0xFFFD : lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k)
    code = i + k < text.size() ? (code << 6) | (byte(i + k) & 0x3F) : 0xFFFD;
  char escaped[16];
  std::snprintf(escaped, sizeof escaped, "\\[u%04X]", code);
  out += escaped;
  return std::min(length, text.size() - i);
}

// Appends the character at text[i], escaped; returns how many bytes it took.
std::size_t append_escaped(std::string& out, std::string_view text, std::size_t i, Hyphen hyphen) {
  const char c = text[i];
  if (static_cast<unsigned char>(c) >= 0x80) return append_unicode_escape(out, text, i);
  if (c == '\\') {
    out += "\\e";
  } else if (c == '-' && hyphen == Hyphen::minus) {
    out += "\\-";
  } else {
    out += c;
  }
  return 1;
}

// A name typed as it stands, such as an option: every hyphen is a minus sign.
std::string roff_literal(std::string_view name) {
  std::string out;
  for (std::size_t i = 0; i < name.size();)
    i += append_escaped(out, name, i, Hyphen::minus);
  return out;
}

// The synopsis line of one command: required arguments bare, optional ones in brackets.
std::string synopsis(const DocCommand& command) {
  std::string out = ".SY " + roff_literal("sarn-runtime-bundle") + "\n";
  if (!command.words.empty()) out += ".B " + roff_literal(command_path(command)) + "\n";
  for (const DocArgument& argument : command.arguments) {
    if (!argument.is_positional() && argument.names.front() == "-h") continue;
    const std::string name = argument.is_positional() ? "" : roff_literal(argument.names.back());
    const std::string value = roff_literal(argument.value_name);
    if (argument.is_positional()) {
      out += argument.presence == Presence::required ? ".I " + value : ".RI [ " + value + " ]";
    } else if (argument.presence == Presence::required) {
      out += ".BI " + name + " \" " + value + "\"";
    } else {
      out += ".OP " + name + (value.empty() ? "" : " " + value);
    }
    out += argument.repeat == Repeat::yes ? "\n\\&...\n" : "\n";
  }
  return out + ".YS\n";
}

std::string argument_tag(const DocArgument& argument) {
  if (argument.is_positional()) return ".I " + roff_literal(argument.value_name) + "\n";
  std::string names;
  for (const std::string& name : argument.names)
    names += (names.empty() ? "\\fB" : "\\fR, \\fB") + roff_literal(name);
  names += "\\fR";
  if (!argument.value_name.empty()) names += " \\fI" + roff_literal(argument.value_name) + "\\fR";
  return names + "\n";
}

std::string command_section(const DocCommand& command) {
  std::string out = ".SS \"" + roff_literal(command_path(command)) + "\"\n";
  out += roff_text(command.description) + ".\n";
  for (const DocArgument& argument : command.arguments) {
    out += ".TP\n" + argument_tag(argument);
    if (!argument.help.empty()) out += roff_text(argument.help) + "\n";
  }
  return out;
}

}  // namespace

std::string roff_text(std::string_view text) {
  // A line starting with "." or "'" would be read as a request.
  std::string out = text.starts_with('.') || text.starts_with('\'') ? "\\&" : "";
  std::size_t word_start = out.size();
  bool in_code = false;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == '`') {
      // \% at the start of a word keeps groff from hyphenating it; code stays whole.
      if (!in_code && out.compare(word_start, 2, "\\%") != 0) out.insert(word_start, "\\%");
      out += in_code ? "\\fR" : "\\fB";
      in_code = !in_code;
      ++i;
    } else if (text[i] == ' ') {
      out += in_code ? " \\%" : " ";
      word_start = out.size() - (in_code ? 2 : 0);
      ++i;
    } else {
      i += append_escaped(out, text, i, in_code ? Hyphen::minus : Hyphen::hyphen);
    }
  }
  if (in_code) out += "\\fR";
  return out;
}

std::string render_man_page(const std::vector<DocCommand>& commands, std::string_view version) {
  std::string page(kHeader);
  page.replace(page.find("@VERSION@"), 9, version);
  page += ".SH SYNOPSIS\n";
  for (const DocCommand& command : commands)
    if (command.subcommands.empty()) page += synopsis(command);
  page += kDescription;
  page += ".SH COMMANDS\n";
  for (const DocCommand& command : commands)
    if (!command.words.empty()) page += command_section(command);
  page += kTrailer;
  return page;
}

}  // namespace srb
