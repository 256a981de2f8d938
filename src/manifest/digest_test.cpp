#include "manifest/digest.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "blake3.h"
#include "core/hex.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb {
namespace {

const std::string kEmptyDigest = "af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262";

template <typename T>
std::string failure(const Result<T>& result) {
  return result ? "(succeeded)" : message(result.error());
}

// The input of the official vectors: byte i is i mod 251.
std::string vector_input(std::size_t length) {
  std::string input(length, '\0');
  for (std::size_t i = 0; i < length; ++i)
    input[i] = static_cast<char>(i % 251);
  return input;
}

TEST(FileDigest, MatchesTheOfficialVectors) {
  std::ifstream in(SRB_VECTORS_DIR "/blake3/test_vectors.json");
  ASSERT_TRUE(in) << "missing BLAKE3 vectors";
  const nlohmann::json vectors = nlohmann::json::parse(in);
  test::TempDir dir;
  std::vector<std::size_t> lengths;
  for (const nlohmann::json& record : vectors.at("cases")) {
    const auto length = record.at("input_len").get<std::size_t>();
    lengths.push_back(length);
    SCOPED_TRACE(length);
    const std::filesystem::path file = dir / ("input-" + std::to_string(length));
    test::write_file(file, vector_input(length));
    const Result<FileDigest> digest = file_digest(file);
    ASSERT_TRUE(digest) << failure(digest);
    EXPECT_EQ(digest->hash, record.at("hash").get<std::string>().substr(0, 64));
    EXPECT_EQ(digest->size, length);
  }
  // The lengths on both sides of the chunk and of the 8192-byte read buffer must be there.
  for (const std::size_t needed : {0, 1, 1023, 1024, 1025, 8192, 8193, 102400})
    EXPECT_NE(std::find(lengths.begin(), lengths.end(), needed), lengths.end()) << needed;
}

TEST(FileDigest, FollowsLinksAndCountsBytesRead) {
  test::TempDir dir;
  test::write_file(dir / "empty", "");
  std::filesystem::create_symlink("empty", dir / "link");
  const Result<FileDigest> digest = file_digest(dir / "link");
  ASSERT_TRUE(digest) << failure(digest);
  EXPECT_EQ(digest->hash, kEmptyDigest);
  EXPECT_EQ(digest->size, 0u);

  // A pipe has no size in its metadata; the count is what was read.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ASSERT_EQ(::write(fds[1], "hello", 5), 5);
  ::close(fds[1]);
  const Result<FileDigest> piped = file_digest("/proc/self/fd/" + std::to_string(fds[0]));
  ::close(fds[0]);
  ASSERT_TRUE(piped) << failure(piped);
  EXPECT_EQ(piped->hash, "ea8f163db38682925e4491c5e58d4bb3506ef8c14eb78a86e908c5624a67200f");
  EXPECT_EQ(piped->size, 5u);
}

TEST(FileDigest, ReportsBareOsErrors) {
  test::TempDir dir;
  EXPECT_EQ(failure(file_digest(dir.path())), "i/o: Is a directory (os error 21)");
  EXPECT_EQ(failure(file_digest(dir / "absent")), "i/o: No such file or directory (os error 2)");
}

TEST(RootHash, HashesPathTabDigestLines) {
  EXPECT_EQ(compute_root_hash(std::vector<BundleFile>{}), kEmptyDigest);

  // Expected values from b3sum over the exact bytes "path\tdigest\n"...
  const std::vector<BundleFile> files = {
      {"etc/ld.so.cache", std::string(64, '1'), 1},
      {"lib/lib/x86_64-linux-gnu/libc.so.6", std::string(64, '2'), 2},
      {"lib/lib64/ld-linux-x86-64.so.2", std::string(64, '3'), 3}};
  const std::string expected = "a8543a0251b9a4e5d706c35303556d4210c1b8f5cf933879e822b322d4003300";
  EXPECT_EQ(compute_root_hash(files), expected);
  // ...and a TAB inside a path goes in as it is.
  EXPECT_EQ(compute_root_hash(std::vector<BundleFile>{{"a\tb", std::string(64, 'f'), 0}}),
            "337c1bd6baebec1f14747a095dc46413e340a072d3a91a7735a4fc46683c613f");

  std::vector<BundleFile> changed = files;
  changed[0].size = 99;
  EXPECT_EQ(compute_root_hash(changed), expected) << "sizes are not hashed";
  const std::vector<std::pair<const char*, void (*)(std::vector<BundleFile>&)>> edits = {
      {"path", [](std::vector<BundleFile>& f) { f[1].path += "x"; }},
      {"digest", [](std::vector<BundleFile>& f) { f[2].hash[63] = '4'; }},
      {"order", [](std::vector<BundleFile>& f) { std::swap(f[0], f[1]); }},
  };
  for (const auto& [name, edit] : edits) {
    SCOPED_TRACE(name);
    changed = files;
    edit(changed);
    EXPECT_NE(compute_root_hash(changed), expected);
  }
}

// Lists long enough to be hashed in several pieces hash like their whole text at once.
TEST(RootHash, LongListsHashLikeTheirWholeText) {
  for (const std::size_t count : {3u, 2000u}) {
    SCOPED_TRACE(count);
    std::vector<BundleFile> files;
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
      files.push_back(
          {"lib/file-" + std::to_string(i), std::string(64, "0123456789abcdef"[i % 16]), i});
      text += files.back().path + "\t" + files.back().hash + "\n";
    }
    blake3_hasher hasher;
    blake3_hasher_init(&hasher);
    blake3_hasher_update(&hasher, text.data(), text.size());
    unsigned char digest[BLAKE3_OUT_LEN];
    blake3_hasher_finalize(&hasher, digest, BLAKE3_OUT_LEN);
    EXPECT_EQ(compute_root_hash(files), encode_hex(digest));
  }
}

TEST(SortByPath, OrdersByUnsignedBytesAndKeepsTies) {
  std::vector<BundleFile> files = {{"lib/lib64/ld-linux-x86-64.so.2", "1", 0},
                                   {"lib/\xC3\xA9", "2", 0},
                                   {"lib/a.so", "3", 0},
                                   {"lib/lib/x86_64-linux-gnu/libc.so.6", "4", 0},
                                   {"lib/a", "5", 0},
                                   {"lib/Z", "6", 0},
                                   {"etc/ld.so.cache", "7", 0},
                                   {"lib/a", "8", 0}};
  const std::vector<std::string> expected = {"etc/ld.so.cache 7",
                                             "lib/Z 6",
                                             "lib/a 5",
                                             "lib/a 8",
                                             "lib/a.so 3",
                                             "lib/lib/x86_64-linux-gnu/libc.so.6 4",
                                             "lib/lib64/ld-linux-x86-64.so.2 1",
                                             "lib/\xC3\xA9 2"};
  std::vector<std::string> order;
  const std::vector<const BundleFile*> sorted = sorted_by_path(files);
  for (const BundleFile* file : sorted)
    order.push_back(file->path + " " + file->hash);
  EXPECT_EQ(order, expected) << "pointers, the list untouched";
  const std::string root_hash = compute_root_hash(sorted);
  sort_by_path(files);
  order.clear();
  for (const BundleFile& file : files)
    order.push_back(file.path + " " + file.hash);
  EXPECT_EQ(order, expected) << "the list itself";
  EXPECT_EQ(root_hash, compute_root_hash(files));
}

}  // namespace
}  // namespace srb
