#include "manifest/reading_bound.hpp"

#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <limits>
#include <string>

#include "manifest/manifest_reader.hpp"
#include "tests/support/process.hpp"

namespace srb {
namespace {

constexpr std::size_t kNoBudget = std::numeric_limits<std::size_t>::max();

std::size_t levels_of(std::string_view text) {
  return bound_reading(text, kNoBudget).levels;
}

// Each text nests `depth` levels deep; the bound may be larger, never smaller.
TEST(ReadingBound, LevelsCoverEveryWayToNest) {
  const struct {
    std::string text;
    std::size_t depth;
  } cases[] = {
      {"k.k.k.k = 1\n", 4},
      {"[a.b.c]\nx.y.z = 1\n", 6},
      {"[[a.b]]\n[[a.b]]\nc.d = 1\n", 4},
      // Each part of a header may be an array of tables holding the table below it.
      {"[[a]]\n[[a.b]]\n[[a.b.c]]\nd.e = 1\n", 8},
      {"x = [[[[1]]]]\n", 5},
      {"x = {a.b = {c.d = 1}}\n", 5},
      // An inline table continues over lines inside a multi-line array.
      {"x = {a.b.c = [\n{d.e.f = [\n{g.h.i = 1}]}]}\n", 13},
      // Closing brackets inside strings and comments do not close anything.
      {"x = [[[\"]]]]\", ''']]]''', [[[1]]]]]] # ]]]]\n", 7},
      // A one-line string ends at the line feed, where the parser stops reading it as well.
      {"x = \"a\ny = [[[[1]]]]\n", 5},
      // Up to two quotes before the closing three belong to a multi-line string.
      {"x = ['''a'''', {a.b.c.d = 1}]\n", 6},
      {"x = [\"\"\"a\\\"\"\"\"\", {a.b.c.d = 1}]\n", 6},
  };
  for (const auto& c : cases)
    EXPECT_GE(levels_of(c.text), c.depth) << c.text;
}

// File names hold dots and hashes are long, but inside strings neither nests anything: a manifest
// of any length is bounded like one of a single entry.
TEST(ReadingBound, LevelsIgnoreStringsAndComments) {
  const std::string entry =
      "{ path = \"lib/x86_64-linux-gnu/libc.so.6\", hash = 'a.b.c', size = 1 }, # v1.2.3\n";
  std::string many = "files = [\n";
  for (int i = 0; i < 10000; ++i)
    many += entry;
  many += "]\n";
  EXPECT_EQ(levels_of(many), levels_of("files = [\n" + entry + "]\n"));
  EXPECT_LT(levels_of(many), 10u);
}

// `head`, then `piece(i)` for i = 0, 1, ... while the text stays within `size` bytes with `tail`.
std::string repeated(const std::string& head, const std::function<std::string(std::size_t)>& piece,
                     const std::string& tail, std::size_t size) {
  std::string text = head;
  for (std::size_t i = 0;; ++i) {
    const std::string next = piece(i);
    if (text.size() + next.size() + tail.size() > size) break;
    text += next;
  }
  return text + tail;
}

std::function<std::string(std::size_t)> same(std::string piece) {
  return [piece = std::move(piece)](std::size_t) { return piece; };
}

// The text with `format` filled in with i, for i = 0, 1, ...
std::function<std::string(std::size_t)> numbered(std::string format) {
  return [format = std::move(format)](std::size_t i) {
    char text[256];
    std::snprintf(text, sizeof text, format.c_str(), i, i);
    return std::string(text);
  };
}

const std::string kHash(64, 'e');

struct Shape {
  const char* name;
  std::string text;
};

// Texts of every way of building a tree, each about 2 MiB and bounded at several times that.
std::vector<Shape> shapes() {
  constexpr std::size_t kSize = std::size_t{2} << 20;
  const std::string entry =
      "{path=\"lib/x86_64-linux-gnu/l%zu.so\",hash=\"" + kHash + "\",size=0},\n";
  return {
      {"dotted key", repeated("x", same(".a"), " = 1\n", kSize / 8)},
      {"dotted header", repeated("[x", same(".a"), "]\n", kSize / 8)},
      {"dotted array-of-tables header", repeated("[[x", same(".a"), "]]\n", kSize / 8)},
      {"dotted keys in inline tables", repeated("x=[", same("{a.b.c=0},"), "]\n", kSize)},
      {"zeros", repeated("x=[", same("0,"), "]\n", kSize)},
      {"floats", repeated("x=[\n", same("0.5,1e3,\n"), "]\n", kSize)},
      {"dates", repeated("x=[", same("1979-05-27T07:32:00.5Z,1979-05-27 07:32:00,"), "]\n", kSize)},
      {"booleans", repeated("x=[", same("true,false,"), "]\n", kSize)},
      {"empty inline tables", repeated("x=[", same("{},"), "]\n", kSize)},
      {"empty arrays", repeated("x=[", same("[],"), "]\n", kSize)},
      {"nested arrays", repeated("x=[", same("[[0]],"), "]\n", kSize)},
      {"empty strings", repeated("x=[", same("'',"), "]\n", kSize)},
      {"strings past the in-place buffer",
       repeated("x=[", same("\"0123456789abcdefg\","), "]\n", kSize)},
      {"one long string", "x = \"" + std::string(kSize, 's') + "\"\n"},
      {"one long multi-line string", "x = '''\n" + std::string(kSize, 's') + "'''\n"},
      {"one long quoted key", "'" + std::string(kSize, 'k') + "' = 1\n"},
      {"short keys", repeated("", numbered("k%zu=0\n"), "", kSize)},
      {"quoted dotted keys", repeated("", numbered("\"a%zu\" . 'b' = 0\n"), "", kSize)},
      {"headers", repeated("", numbered("[t%zu]\n"), "", kSize)},
      {"arrays of tables", repeated("", same("[[a]]\n"), "", kSize)},
      {"alternating arrays of tables", repeated("", same("[[a]]\n[[b]]\n"), "", kSize)},
      {"arrays of tables with subtables", repeated("", numbered("[[a]]\n[a.b%zu]\n"), "", kSize)},
      {"inline entries", repeated("files=[\n", numbered(entry), "]\n", kSize)},
      {"entry tables",
       repeated("", numbered("[[files]]\nsize=1\nhash='" + kHash + "'\npath='l%zu'\n"), "", kSize)},
      {"entry sequences",
       repeated("files=[\n", numbered("['l%zu','" + kHash + "',1],\n"), "]\n", kSize)},
      {"line ends with CR",
       repeated("files=[\r\n", numbered("['l%zu','" + kHash + "',1],\r\n"), "]\r\n", kSize)},
  };
}

// What the bound promises, checked against what reading takes: each text is read in a child
// process whose peak resident size, less what it held before reading, must be within the bound.
// Pages of code the child runs for the first time count against the bound too, hence the slack.
TEST(ReadingBound, CoversThePeakOfReading) {
  if (!test::kPeakIsTheCodes)
    GTEST_SKIP() << "AddressSanitizer's shadow memory and redzones count in the peak measured";
  constexpr long kSlackKib = 4096;
  for (const Shape& shape : shapes()) {
    SCOPED_TRACE(shape.name);
    const ReadingBound bound = bound_reading(shape.text, kNoBudget);
    const test::ProcessResult child = test::run_forked([&] {
      // Free memory this process kept would be reused unseen: give it back first, then count the
      // peak from here.
      ::malloc_trim(0);
      std::ofstream("/proc/self/clear_refs") << "5";
      std::ifstream status("/proc/self/status");
      for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmRSS:")) std::printf("%s\n", line.substr(6).c_str());
      const Result<BundleManifest> manifest = parse_toml_manifest(shape.text);
      return manifest ? 0 : 1;
    });
    ASSERT_EQ(child.status, 1) << child.err;  // read whole, then: missing field `version`
    const long start_kib = std::stol(child.out);
    EXPECT_LE(child.peak_kib - start_kib, static_cast<long>(bound.bytes >> 10) + kSlackKib)
        << "bound " << (bound.bytes >> 20) << " MiB";
    EXPECT_LT(bound.bytes, kReadingBudget);  // else the reader would have refused it unread
  }
}

// The scan stops at the word, bracket or dot that takes the bound over the budget, later in the
// text the larger the budget, and not at all with a budget of the whole text's bound.
TEST(ReadingBound, StopsWhereTheBudgetIsPassed) {
  for (const Shape& shape : shapes()) {
    SCOPED_TRACE(shape.name);
    const std::size_t whole = bound_reading(shape.text, kNoBudget).bytes;
    std::size_t last_stop = 0;
    for (const std::size_t budget : {whole / 4, whole / 2, whole / 4 * 3, whole - 1}) {
      const ReadingBound bound = bound_reading(shape.text, budget);
      ASSERT_NE(bound.passed_at, std::string_view::npos);
      EXPECT_GT(bound.bytes, budget);
      EXPECT_LE(bound.bytes, whole);
      EXPECT_GE(bound.passed_at, last_stop);
      EXPECT_EQ(std::string_view(" \t\r\n#").find(shape.text[bound.passed_at]), std::string::npos);
      last_stop = bound.passed_at;
    }
    const ReadingBound within = bound_reading(shape.text, whole);
    EXPECT_EQ(within.passed_at, std::string_view::npos);
    EXPECT_EQ(within.bytes, whole);
  }
}

}  // namespace
}  // namespace srb
