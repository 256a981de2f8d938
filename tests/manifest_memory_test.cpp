// The memory that reading one bundle.toml takes, measured as the peak resident size of a child
// process: the tool running verify, or a fork of this process calling load_manifest. The general
// TOML reader keeps every key, table and value as a node of its own, so each hostile shape below
// costs many times its size. At the 64 MiB size limit each is refused or read within 1 GiB, and
// so is the largest text of that shape that the reader still reads (the rest of the 64 MiB a
// comment); a dotted key of 8 MiB stays within 256 MiB.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>

#include "core/result.hpp"
#include "manifest/manifest.hpp"
#include "manifest/reading_bound.hpp"
#include "tests/support/process.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb::test {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kManifestLimit = std::size_t{64} << 20;
constexpr long kGibibyteKib = 1 << 20;
constexpr std::string_view kVerifyParseError =
    "sarn-runtime-bundle verify: bundle.toml parse error: ";
constexpr std::string_view kTooLarge =
    "\ndocument too large to read: its values would take more than 768 MiB\n";
constexpr std::string_view kRead = "\nmissing field `version`\n";

// One piece repeated between a head and a tail.
struct Shape {
  const char* name;  // a test name
  std::string head, piece, tail;

  std::string text(std::size_t pieces) const {
    std::string body = pieces > 0 ? piece : "";
    body.reserve(pieces * piece.size());
    while (body.size() < pieces * piece.size())  // doubled, since the piece may be one byte
      body.append(body, 0, std::min(body.size(), pieces * piece.size() - body.size()));
    return head + body + tail;
  }

  // As many pieces as fit in `size` bytes.
  std::string text_of_size(std::size_t size) const {
    return text((size - head.size() - tail.size()) / piece.size());
  }

  // The largest text of this shape that the reader reads, filled up to the size limit with a
  // comment. The reader's bound passes its budget at a piece, or, for a shape of one long word,
  // at the word's start, where the count of pieces is searched for. The search ends the one text
  // early with the tail in place, as page faults make building 64 MiB texts anew slow.
  std::string largest_read() const {
    std::size_t pieces = (kManifestLimit - head.size() - tail.size()) / piece.size();
    std::string out = text(pieces);
    const auto cut = [&](std::size_t count, auto&& use) {
      const std::size_t end = head.size() + count * piece.size();
      const std::string saved = out.substr(end, tail.size());
      out.replace(end, tail.size(), tail);
      use(std::string_view(out).substr(0, end + tail.size()));
      out.replace(end, tail.size(), saved);
    };
    const std::size_t passed_at = bound_reading(out, kReadingBudget).passed_at;
    if (passed_at != std::string_view::npos && passed_at > head.size()) {
      pieces = (passed_at - head.size()) / piece.size();
    } else if (passed_at != std::string_view::npos) {
      std::size_t low = 0;  // read; pieces is not
      while (pieces - low > 1) {
        const std::size_t middle = low + (pieces - low) / 2;
        cut(middle, [&](std::string_view text) {
          const bool read = bound_reading(text, kReadingBudget).passed_at == std::string::npos;
          (read ? low : pieces) = middle;
        });
      }
      pieces = low;
    }
    out.resize(head.size() + pieces * piece.size());
    out += tail;
    if (out.size() + 2 <= kManifestLimit) {
      out += "#";
      out.append(kManifestLimit - out.size() - 1, 'c');
      out += "\n";
    }
    return out;
  }
};

// Named in test listings by its name, not by its bytes.
void PrintTo(const Shape& shape, std::ostream* out) {
  *out << shape.name;
}

const Shape kShapes[] = {
    {"DottedKey", "x", ".a", " = 1\n"},
    {"HeaderKey", "[x", ".a", "]\n"},
    {"ZerosInAnArray", "x=[", "0,", "]\n"},
    {"EmptyInlineTables", "x=[", "{},", "]\n"},
    {"DottedKeysInInlineTables", "x=[", "{a.b=0},", "]\n"},
    {"ArraysOfTables", "", "[[a]]\n", ""},
    {"LongString", "x = \"", "s", "\"\n"},
    {"LongKey", "\"", "k", "\" = 1\n"},
};

// How bundle.toml is read: `verify` in the tool, or load_manifest in a fork of this process. Both
// end with the error line the tool would print.
struct Reader {
  const char* name;
  ProcessResult (*read)(const fs::path& bundle);
};

ProcessResult verify_with_tool(const fs::path& bundle) {
  return run_tool({"verify", bundle.string()});
}

ProcessResult load_in_library(const fs::path& bundle) {
  return run_forked([&] {
    const Result<BundleManifest> manifest = load_manifest(bundle);
    if (manifest) return 0;
    std::fprintf(stderr, "sarn-runtime-bundle verify: %s\n", message(manifest.error()).c_str());
    return 1;
  });
}

const Reader kReaders[] = {{"tool", verify_with_tool}, {"library", load_in_library}};

void expect_one_parse_error(const ProcessResult& r) {
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.starts_with(kVerifyParseError)) << r.err.substr(0, 300);
}

class ManifestMemory : public testing::TestWithParam<Shape> {};

// The text at the size limit, then the largest that is read. Only the file holds it while the
// readers run, so that the children share nothing of it with this process.
TEST_P(ManifestMemory, ReadOrRefusedWithinAGibibyte) {
  const Shape& shape = GetParam();
  const TempDir dir;
  for (const bool at_limit : {true, false}) {
    SCOPED_TRACE(at_limit ? "at the limit" : "largest read");
    {
      const std::string text = at_limit ? shape.text_of_size(kManifestLimit) : shape.largest_read();
      ASSERT_LE(text.size(), kManifestLimit);
      if (!at_limit) {
        ASSERT_EQ(bound_reading(text, kReadingBudget).passed_at, std::string::npos);
      }
      write_file(dir / "bundle.toml", text);
    }
    for (const Reader& reader : kReaders) {
      SCOPED_TRACE(reader.name);
      const ProcessResult r = reader.read(dir.path());
      expect_one_parse_error(r);
      // The largest text read must really have been read: the record misses its version.
      if (!at_limit) {
        EXPECT_TRUE(r.err.ends_with(kRead)) << r.err.substr(0, 300);
      }
      EXPECT_TRUE(r.err.ends_with(kRead) || r.err.ends_with(kTooLarge)) << r.err.substr(0, 300);
      // Under AddressSanitizer the largest texts read pass a gibibyte by its own blocks alone.
      if (kPeakIsTheCodes) {
        EXPECT_LT(r.peak_kib, kGibibyteKib);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(HostileShapes, ManifestMemory, testing::ValuesIn(kShapes),
                         [](const testing::TestParamInfo<Shape>& info) { return info.param.name; });

// 8 MiB of one dotted key once took 1.4 GB: a table for each of its 4 million parts.
TEST(ManifestMemoryOfOneKey, DottedKeyOf8MiBStaysWithin256MiB) {
  const TempDir dir;
  write_file(dir / "bundle.toml", kShapes[0].text_of_size(std::size_t{8} << 20));
  for (const Reader& reader : kReaders) {
    SCOPED_TRACE(reader.name);
    const ProcessResult r = reader.read(dir.path());
    expect_one_parse_error(r);
    EXPECT_TRUE(r.err.ends_with(kTooLarge)) << r.err.substr(0, 300);
    EXPECT_LT(r.peak_kib, 256 << 10);
  }
}

}  // namespace
}  // namespace srb::test
