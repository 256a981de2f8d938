#include "manifest/digest.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "blake3.h"
#include "core/hex.hpp"
#include "core/unique_fd.hpp"

namespace srb {
namespace {

constexpr std::size_t kBufferSize = 8192;

// std::string compares through char_traits<char>, which orders as unsigned char.
bool by_path(const BundleFile& a, const BundleFile& b) {
  return a.path < b.path;
}

// BLAKE3 picks its SIMD routines on first use and keeps the choice in a plain global variable,
// which two threads hashing for the first time would write and read at once. One empty input is
// hashed here, exactly once, under the guard of a function-local static; every hasher of the
// library starts here, so whichever thread comes first makes the choice, and every other one
// passes the guard after it and only reads. Once made, the guard costs an acquire load per hash.
void start_hasher(blake3_hasher& hasher) {
  static const bool features_detected = [] {
    blake3_hasher first;
    blake3_hasher_init(&first);
    unsigned char out[BLAKE3_OUT_LEN];
    blake3_hasher_finalize(&first, out, BLAKE3_OUT_LEN);
    return true;
  }();
  (void)features_detected;
  blake3_hasher_init(&hasher);
}

std::string finish_hex(blake3_hasher& hasher) {
  unsigned char out[BLAKE3_OUT_LEN];
  blake3_hasher_finalize(&hasher, out, BLAKE3_OUT_LEN);
  return encode_hex(out);
}

// Hashes what `read_at(buffer, size, offset)` gives until it gives nothing, handing each piece to
// `each_chunk` when there is one.
template <typename ReadAt>
Result<FileDigest> digest_of(ReadAt read_at, const DigestedChunk& each_chunk = {}) {
  blake3_hasher hasher;
  start_hasher(hasher);
  std::uint64_t size = 0;
  char buffer[kBufferSize];
  for (;;) {
    const ssize_t n = read_at(buffer, kBufferSize, static_cast<off_t>(size));
    if (n < 0) return Io{last_os_error()};
    if (n == 0) break;
    const std::size_t count = static_cast<std::size_t>(n);
    blake3_hasher_update(&hasher, buffer, count);
    if (each_chunk) each_chunk(std::string_view(buffer, count));
    size += count;
  }
  return FileDigest{finish_hex(hasher), size};
}

}  // namespace

Result<FileDigest> file_digest(const std::filesystem::path& path) {
  return file_digest(path.c_str());
}

Result<FileDigest> file_digest(const char* path) {
  const UniqueFd file(::open(path, O_RDONLY | O_CLOEXEC));
  if (!file.is_open()) return Io{last_os_error()};
  return descriptor_digest(file.get());
}

Result<FileDigest> descriptor_digest(int fd, const DigestedChunk& each_chunk) {
  return digest_of(
      [fd](void* buffer, std::size_t size, off_t) { return read_some(fd, buffer, size); },
      each_chunk);
}

Result<FileDigest> descriptor_digest_from_start(int fd) {
  return digest_of([fd](void* buffer, std::size_t size, off_t offset) {
    ssize_t n = 0;
    do {
      n = ::pread(fd, buffer, size, offset);
    } while (n < 0 && errno == EINTR);
    return n;
  });
}

namespace {

// The lines are gathered and hashed in large pieces: BLAKE3 hashes the whole chunks of a long
// update side by side, but a short update one block at a time. The digest does not depend on how
// the input is split.
template <typename Entries, typename Entry>
std::string root_hash_of(const Entries& files, Entry entry) {
  constexpr std::size_t kBatch = std::size_t{64} << 10;
  blake3_hasher hasher;
  start_hasher(hasher);
  std::string batch;
  batch.reserve(kBatch);
  for (const auto& each : files) {
    const BundleFile& file = entry(each);
    batch.append(file.path).append(1, '\t').append(file.hash).append(1, '\n');
    if (batch.size() >= kBatch) {
      blake3_hasher_update(&hasher, batch.data(), batch.size());
      batch.clear();
    }
  }
  blake3_hasher_update(&hasher, batch.data(), batch.size());
  return finish_hex(hasher);
}

}  // namespace

std::string compute_root_hash(std::span<const BundleFile> files) {
  return root_hash_of(files, [](const BundleFile& file) -> const BundleFile& { return file; });
}

std::string compute_root_hash(std::span<const BundleFile* const> files) {
  return root_hash_of(files, [](const BundleFile* file) -> const BundleFile& { return *file; });
}

std::array<unsigned char, 32> blake3_of(std::initializer_list<std::string_view> pieces) {
  blake3_hasher hasher;
  start_hasher(hasher);
  for (const std::string_view piece : pieces)
    blake3_hasher_update(&hasher, piece.data(), piece.size());
  std::array<unsigned char, 32> digest{};
  blake3_hasher_finalize(&hasher, digest.data(), digest.size());
  return digest;
}

void sort_by_path(std::vector<BundleFile>& files) {
  std::stable_sort(files.begin(), files.end(), by_path);
}

std::vector<const BundleFile*> sorted_by_path(std::span<const BundleFile> files) {
  std::vector<const BundleFile*> sorted;
  sorted.reserve(files.size());
  for (const BundleFile& file : files)
    sorted.push_back(&file);
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const BundleFile* a, const BundleFile* b) { return by_path(*a, *b); });
  return sorted;
}

}  // namespace srb
