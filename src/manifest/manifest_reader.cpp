#include "manifest/manifest_reader.hpp"

// Reads bundle.toml text into a BundleManifest. Text exactly in the writer's layout is read
// directly (written_layout.cpp); anything else goes through toml++. toml++ parses the whole
// document first, so a syntax error (a key given twice included) is found before any value is
// looked at. The root table is then mapped field by field in record order, each entry of `files`
// likewise, and the first problem is reported in the same shape as a syntax error: line and column
// of the value concerned (of the entry, or of the document start, for a missing field), the source
// line with a caret, and a reason such as "missing field `path`".
//
// toml++ keeps every value as a node of its own, some 70 bytes for a bare 0 in an array and 280
// for each part of a dotted key (a table and its entry), so a hostile document takes up to 140
// times its size in memory. Before toml++ sees a text, a scan of it (reading_bound.cpp) bounds what
// reading it would take: the tree, the parser's buffers and stack, and the record built from the
// tree. A text whose bound passes kReadingBudget is refused with a parse error at the place where
// it did, and nothing is built. The bound depends on the text alone, so other threads' allocations
// do not count against it. The costliest legitimate shape, 64 MiB of inline tables with the
// shortest paths and 64-digit hashes, is bounded at 682 MiB (it takes 627), so any text within
// the size limit of 64 MiB reads within 1 GiB; the writer's layout never gets here.

#include <pthread.h>
#include <toml++/toml.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <sstream>

#include "core/text.hpp"
#include "manifest/manifest.hpp"
#include "manifest/parse_error.hpp"
#include "manifest/reading_bound.hpp"
#include "manifest/written_layout.hpp"

namespace srb {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kEntrySequence = "a sequence of path, hash and size";
constexpr std::string_view kEntryShape = "a table or a sequence of path, hash and size";
constexpr TextPosition kDocumentStart{1, 1};

// toml++ skips one leading byte-order mark itself and counts columns without it, so only excerpts
// and the scan leave it out; a second mark stays an error.
std::string_view without_byte_order_mark(std::string_view text) {
  return text.starts_with(kByteOrderMark) ? text.substr(kByteOrderMark.size()) : text;
}

// The text being read, to quote it in failures.
struct Document {
  std::string_view text;

  ManifestParse fail(TextPosition where, std::string_view reason) const {
    return ManifestParse{describe_parse_error(text, where, reason)};
  }
  ManifestParse fail(const toml::node& at, std::string_view reason) const {
    const toml::source_position begin = at.source().begin;
    return fail(TextPosition{.line = begin.line, .column = begin.column}, reason);
  }
};

// A value as toml++ prints it: 1.5, inf, true, 1979-05-27T07:32:00Z.
std::string toml_text(const toml::node& node) {
  std::ostringstream out;
  node.visit([&out](const auto& value) { out << value; });
  return out.str();
}

// A string value quoted in a reason, cut after 64 characters so that a huge value cannot swell
// the message.
std::string quoted_value(std::string_view text) {
  constexpr std::size_t kLimit = 64;
  const std::size_t pos = utf8_prefix_size(text, kLimit);
  return pos < text.size() ? quoted_text(text.substr(0, pos)) + "..." : quoted_text(text);
}

// How a reason names a value it did not expect: string "x", integer `3`, table, ...
std::string describe_value(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::string:
      return "string " + quoted_value(**node.as_string());
    case toml::node_type::integer:
      return "integer `" + std::to_string(**node.as_integer()) + "`";
    case toml::node_type::floating_point:
      return "floating point `" + toml_text(node) + "`";
    case toml::node_type::boolean:
      return "boolean `" + toml_text(node) + "`";
    case toml::node_type::date:
      return "date `" + toml_text(node) + "`";
    case toml::node_type::time:
      return "time `" + toml_text(node) + "`";
    case toml::node_type::date_time:
      return "date-time `" + toml_text(node) + "`";
    case toml::node_type::array:
      return "sequence";
    default:
      return "table";
  }
}

ManifestParse invalid_type(const Document& doc, const toml::node& node, std::string_view expected) {
  return doc.fail(node,
                  "invalid type: " + describe_value(node) + ", expected " + std::string(expected));
}

Result<std::string> read_string(const Document& doc, const toml::node& node) {
  if (const toml::value<std::string>* text = node.as_string()) return **text;
  return invalid_type(doc, node, "a string");
}

// A TOML integer is signed 64-bit; the record keeps it unsigned, so negatives are refused.
Result<std::uint64_t> read_u64(const Document& doc, const toml::node& node) {
  const toml::value<std::int64_t>* integer = node.as_integer();
  if (integer == nullptr) return invalid_type(doc, node, "u64");
  if (**integer < 0)
    return doc.fail(node, "invalid value: " + describe_value(node) + ", expected u64");
  return static_cast<std::uint64_t>(**integer);
}

// The node under `key`, or a "missing field" failure placed at `owner`.
Result<const toml::node*> required(const Document& doc, const toml::table& table,
                                   std::string_view key, TextPosition owner) {
  if (const toml::node* node = table.get(key)) return node;
  return doc.fail(owner, "missing field `" + std::string(key) + "`");
}

Result<std::string> required_string(const Document& doc, const toml::table& table,
                                    std::string_view key, TextPosition owner) {
  TRY_ASSIGN(const toml::node* node, required(doc, table, key, owner));
  return read_string(doc, *node);
}

Result<BundleFile> read_entry_table(const Document& doc, const toml::table& entry) {
  const toml::source_position begin = entry.source().begin;
  const TextPosition at{begin.line, begin.column};
  BundleFile file;
  TRY_ASSIGN(file.path, required_string(doc, entry, "path", at));
  TRY_ASSIGN(file.hash, required_string(doc, entry, "hash", at));
  TRY_ASSIGN(const toml::node* size, required(doc, entry, "size", at));
  TRY_ASSIGN(file.size, read_u64(doc, *size));
  return file;
}

// An entry written as [path, hash, size].
Result<BundleFile> read_entry_array(const Document& doc, const toml::array& entry) {
  if (entry.size() != 3) {
    return doc.fail(entry, "invalid length " + std::to_string(entry.size()) + ", expected " +
                               std::string(kEntrySequence));
  }
  BundleFile file;
  TRY_ASSIGN(file.path, read_string(doc, entry[0]));
  TRY_ASSIGN(file.hash, read_string(doc, entry[1]));
  TRY_ASSIGN(file.size, read_u64(doc, entry[2]));
  return file;
}

Result<BundleFile> read_entry(const Document& doc, const toml::node& entry) {
  if (const toml::table* table = entry.as_table()) return read_entry_table(doc, *table);
  if (const toml::array* array = entry.as_array()) return read_entry_array(doc, *array);
  return invalid_type(doc, entry, kEntryShape);
}

Result<std::vector<BundleFile>> read_files(const Document& doc, const toml::node& node) {
  const toml::array* entries = node.as_array();
  if (entries == nullptr) return invalid_type(doc, node, "a sequence");
  std::vector<BundleFile> files;
  files.reserve(entries->size());
  for (const toml::node& entry : *entries) {
    TRY_ASSIGN(BundleFile file, read_entry(doc, entry));
    files.push_back(std::move(file));
  }
  return files;
}

Result<std::optional<std::string>> optional_string(const Document& doc, const toml::table& root,
                                                   std::string_view key) {
  const toml::node* node = root.get(key);
  if (node == nullptr) return std::optional<std::string>();
  TRY_ASSIGN(std::string text, read_string(doc, *node));
  return std::optional<std::string>(std::move(text));
}

Result<BundleManifest> read_manifest(const Document& doc, const toml::table& root) {
  BundleManifest manifest;
  TRY_ASSIGN(manifest.version, required_string(doc, root, "version", kDocumentStart));
  TRY_ASSIGN(manifest.arch, required_string(doc, root, "arch", kDocumentStart));
  TRY_ASSIGN(manifest.root_hash, required_string(doc, root, "root_hash", kDocumentStart));
  if (const toml::node* files = root.get("files")) {
    TRY_ASSIGN(manifest.files, read_files(doc, *files));
  }
  if (const toml::node* produced_at = root.get("produced_at")) {
    TRY_ASSIGN(manifest.produced_at, read_u64(doc, *produced_at));
  }
  TRY_ASSIGN(manifest.publisher_hex, optional_string(doc, root, "publisher_hex"));
  TRY_ASSIGN(manifest.signature_hex, optional_string(doc, root, "signature_hex"));
  return manifest;
}

// The line and column (in characters) of a byte offset.
TextPosition position_of(std::string_view text, std::size_t offset) {
  const std::string_view before = text.substr(0, offset);
  const std::size_t line_start = before.rfind('\n') + 1;  // npos + 1 is 0
  const std::string_view line = before.substr(line_start);
  return TextPosition{
      .line = static_cast<std::uint32_t>(std::count(before.begin(), before.end(), '\n') + 1),
      .column = static_cast<std::uint32_t>(utf8_length(line) + 1)};
}

// The document tree and the reasons above, all inside the one function that calls toml++.
Result<BundleManifest> parse_document(std::string_view text) {
  const Document doc{without_byte_order_mark(text)};
  toml::table root;
  try {
    root = toml::parse(text);
  } catch (const toml::parse_error& error) {
    const toml::source_position begin = error.source().begin;
    return doc.fail(TextPosition{.line = begin.line, .column = begin.column}, error.description());
  }
  return read_manifest(doc, root);
}

// toml++ walks nested tables recursively, while parsing and again when the tree is freed, so a
// key of 150,000 dotted parts overflowed the stack. A text whose nesting bound is small is read
// on the caller's stack, any other on a thread whose stack has room for that many levels.
constexpr std::size_t kLevelsOnCallerStack = 16384;
constexpr std::size_t kThreadStackPerLevel = 512;  // freeing a level takes about 60 bytes
constexpr std::size_t kThreadStackBase = std::size_t{8} << 20;

Result<BundleManifest> parse_on_large_stack(std::string_view text, std::size_t levels) {
  struct Job {
    std::string_view text;
    std::optional<Result<BundleManifest>> result;
  } job{text, std::nullopt};
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kThreadStackBase + levels * kThreadStackPerLevel);
  pthread_t thread;
  const int failure = pthread_create(
      &thread, &attributes,
      [](void* data) -> void* {
        Job& job = *static_cast<Job*>(data);
        // An exception may not leave a thread; the caller's thread reports it.
        try {
          job.result.emplace(parse_document(job.text));
        } catch (const std::bad_alloc&) {
          job.result.emplace(Io{os_error(ENOMEM)});
        }
        return nullptr;
      },
      &job);
  pthread_attr_destroy(&attributes);
  if (failure != 0) return Io{os_error(failure)};
  pthread_join(thread, nullptr);
  return std::move(*job.result);
}

}  // namespace

Result<BundleManifest> parse_manifest(std::string_view text) {
  if (std::optional<BundleManifest> manifest = read_written_layout(text)) {
    return std::move(*manifest);
  }
  return parse_toml_manifest(text);
}

Result<BundleManifest> parse_toml_manifest(std::string_view text) {
  const std::string_view body = without_byte_order_mark(text);
  const ReadingBound bound = bound_reading(body, kReadingBudget);
  if (bound.passed_at != std::string_view::npos) {
    return Document{body}.fail(position_of(body, bound.passed_at),
                               "document too large to read: its values would take more than " +
                                   std::to_string(kReadingBudget >> 20) + " MiB");
  }
  if (bound.levels <= kLevelsOnCallerStack) return parse_document(text);
  return parse_on_large_stack(text, bound.levels);
}

}  // namespace srb
