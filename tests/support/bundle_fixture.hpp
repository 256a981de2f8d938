#pragma once
// Bundles made directly from their parts, without the build command: payload files written into
// a directory, their digests, the root hash, an optional signature, and bundle.toml.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "manifest/manifest.hpp"
#include "signing/signing_key.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb::test {

struct PayloadFile {
  std::string path;  // bundle path
  std::string content;
};

struct BundleParts {
  std::string version = "1.0.0";
  std::string arch = "x86_64";
  std::vector<PayloadFile> files;
  const SigningKey* key = nullptr;  // signs the bundle when set
};

// A key from a fixed seed; different `fill` bytes give different keys.
SigningKey test_key(unsigned char fill = 0x42);

// Writes the payload files under `dir` and returns the manifest a build would write for them:
// digests from file_digest, entries sorted by path, the root hash, and the signature when a key
// is given. Throws when a file cannot be written or digested.
BundleManifest make_payload(const std::filesystem::path& dir, const BundleParts& parts);

// Renders `manifest` and writes it as dir/bundle.toml. Throws when rendering fails.
void write_manifest(const std::filesystem::path& dir, const BundleManifest& manifest);

// make_payload, then write_manifest.
BundleManifest make_bundle(const std::filesystem::path& dir, const BundleParts& parts);

// The start of an ELF file of the given class (ELFCLASS64), data encoding (ELFDATA2LSB) and
// machine (EM_X86_64), longer than an ELF header as a loader is: what a launch plan judges.
std::string elf_image(unsigned char elf_class, unsigned char data, std::uint16_t machine);

// The digest text of a file; throws when it cannot be read.
std::string digest_of(const std::filesystem::path& path);

// A scratch directory for trees of thousands of directories: on tmpfs when the machine has one,
// since a disk file system can take seconds for that many directory operations.
TempDir deep_tree_temp_dir();

// A chain of `depth` directories named `name` below `dir`, with an empty file `leaf` in the
// innermost one. Its paths outgrow PATH_MAX, which the usual recursive removal cannot handle,
// so the chain removes itself when released.
class DeepChain {
 public:
  DeepChain(const std::filesystem::path& dir, std::size_t depth, std::string_view name = "d",
            std::string_view leaf = "f");
  ~DeepChain();
  DeepChain(const DeepChain&) = delete;
  DeepChain& operator=(const DeepChain&) = delete;

  // The leaf's bundle path relative to `dir`: "d/d/.../f".
  std::string leaf_path() const;

 private:
  std::filesystem::path dir_;
  std::size_t depth_;
  std::string name_;
  std::string leaf_;
};

}  // namespace srb::test
