#pragma once
// File digests and the root hash: BLAKE3 in plain mode, written as lower-case hex. Every BLAKE3
// hash of the library is computed here, so that BLAKE3's choice of SIMD routines is made once,
// before any thread hashes (digest.cpp).

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.hpp"
#include "manifest/manifest.hpp"

namespace srb {

struct FileDigest {
  std::string hash;        // digest text of the content
  std::uint64_t size = 0;  // bytes read while digesting
};

// Streams one file (links followed) through a fixed 8192-byte buffer. Fails with Io.
Result<FileDigest> file_digest(const std::filesystem::path& path);
// The same for a path held as text, sparing a std::filesystem::path per file of a large bundle.
Result<FileDigest> file_digest(const char* path);
// The same for a file the caller has opened and judged, read from its current offset to the end.
// With `each_chunk`, hands it every piece read, in order, so that a caller judges the very bytes
// that were digested.
using DigestedChunk = std::function<void(std::string_view chunk)>;
Result<FileDigest> descriptor_digest(int fd, const DigestedChunk& each_chunk = {});
// The same from the first byte of the file, whatever the descriptor's offset; the offset is left
// as it was.
Result<FileDigest> descriptor_digest_from_start(int fd);

// BLAKE3 over "path TAB hash LF" for each entry, in the order given.
std::string compute_root_hash(std::span<const BundleFile> files);
std::string compute_root_hash(std::span<const BundleFile* const> files);

// BLAKE3 of the pieces one after another, as 32 bytes.
std::array<unsigned char, 32> blake3_of(std::initializer_list<std::string_view> pieces);

// Stable sort by path, byte-wise as unsigned bytes.
void sort_by_path(std::vector<BundleFile>& files);

// The entries of `files` in the order sort_by_path gives them, without copying them.
std::vector<const BundleFile*> sorted_by_path(std::span<const BundleFile> files);

}  // namespace srb
