#include "tests/support/bundle_fixture.hpp"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

#include "core/error.hpp"
#include "manifest/digest.hpp"
#include "signing/signature.hpp"

namespace srb::test {
namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what);
}

// Steps from `fd` into its subdirectory `name`, closing `fd`.
int step_into(int fd, const std::string& name) {
  const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ::close(fd);
  if (next < 0) fail("cannot open " + name);
  return next;
}

}  // namespace

SigningKey test_key(unsigned char fill) {
  std::array<unsigned char, 32> seed{};
  seed.fill(fill);
  return SigningKey::from_seed(seed).value();
}

BundleManifest make_payload(const std::filesystem::path& dir, const BundleParts& parts) {
  BundleManifest manifest{parts.version, parts.arch, "", {}, 1700000000, {}, {}};
  for (const PayloadFile& file : parts.files) {
    write_file(dir / file.path, file.content);
    const Result<FileDigest> digest = file_digest(dir / file.path);
    if (!digest) fail("cannot digest " + file.path + ": " + message(digest.error()));
    manifest.files.push_back(
        BundleFile{.path = file.path, .hash = digest->hash, .size = digest->size});
  }
  sort_by_path(manifest.files);
  manifest.root_hash = compute_root_hash(manifest.files);
  if (parts.key != nullptr) {
    BundleSignature signature =
        sign_manifest(*parts.key, manifest.version, manifest.root_hash).value();
    manifest.publisher_hex = std::move(signature.publisher_hex);
    manifest.signature_hex = std::move(signature.signature_hex);
  }
  return manifest;
}

void write_manifest(const std::filesystem::path& dir, const BundleManifest& manifest) {
  const Result<std::string> text = render_manifest(manifest);
  if (!text) fail("cannot render bundle.toml: " + message(text.error()));
  write_file(dir / "bundle.toml", *text);
}

BundleManifest make_bundle(const std::filesystem::path& dir, const BundleParts& parts) {
  BundleManifest manifest = make_payload(dir, parts);
  write_manifest(dir, manifest);
  return manifest;
}

std::string elf_image(unsigned char elf_class, unsigned char data, std::uint16_t machine) {
  std::string file(256, '\0');
  std::memcpy(file.data(), ELFMAG, SELFMAG);
  file[EI_CLASS] = static_cast<char>(elf_class);
  file[EI_DATA] = static_cast<char>(data);
  file[EI_VERSION] = EV_CURRENT;
  const std::size_t at = offsetof(Elf64_Ehdr, e_machine);
  const bool big = data == ELFDATA2MSB;
  file[at + (big ? 1 : 0)] = static_cast<char>(machine & 0xff);
  file[at + (big ? 0 : 1)] = static_cast<char>(machine >> 8);
  return file;
}

std::string digest_of(const std::filesystem::path& path) {
  const Result<FileDigest> digest = file_digest(path);
  if (!digest) fail("cannot digest " + path.string() + ": " + message(digest.error()));
  return digest->hash;
}

TempDir deep_tree_temp_dir() {
  std::error_code error;
  if (std::filesystem::is_directory("/dev/shm", error) && ::access("/dev/shm", W_OK) == 0)
    return TempDir("/dev/shm");
  return TempDir();
}

DeepChain::DeepChain(const std::filesystem::path& dir, std::size_t depth, std::string_view name,
                     std::string_view leaf)
    : dir_(dir), depth_(depth), name_(name), leaf_(leaf) {
  std::filesystem::create_directories(dir_);
  int fd = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) fail("cannot open " + dir_.string());
  for (std::size_t level = 0; level < depth_; ++level) {
    if (::mkdirat(fd, name_.c_str(), 0755) != 0) {
      ::close(fd);
      fail("cannot create level " + std::to_string(level));
    }
    fd = step_into(fd, name_);
  }
  const int leaf_fd = ::openat(fd, leaf_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ::close(fd);
  if (leaf_fd < 0) fail("cannot create " + leaf_);
  ::close(leaf_fd);
}

// Removes the chain from the bottom up. Descriptors held every `stride` levels keep each
// relative path short, for the kernel walks it again on every removal.
DeepChain::~DeepChain() {
  const std::size_t stride = std::max<std::size_t>(1, 256 / (name_.size() + 1));
  const auto below = [this](std::size_t levels, const std::string& last) {
    std::string path;
    for (std::size_t level = 0; level < levels; ++level)
      path += name_ + "/";
    return path + last;
  };
  std::vector<int> checkpoints{::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  while (checkpoints.size() * stride <= depth_) {
    const std::string next = below(stride - 1, name_);
    checkpoints.push_back(::openat(checkpoints.back(), next.c_str(), O_RDONLY | O_DIRECTORY));
  }
  const std::size_t last = checkpoints.size() - 1;
  ::unlinkat(checkpoints[last], below(depth_ - last * stride, leaf_).c_str(), 0);
  for (std::size_t level = depth_; level >= 1; --level) {
    const std::size_t c = (level - 1) / stride;
    ::unlinkat(checkpoints[c], below(level - 1 - c * stride, name_).c_str(), AT_REMOVEDIR);
  }
  for (const int fd : checkpoints)
    ::close(fd);
}

std::string DeepChain::leaf_path() const {
  std::string path;
  for (std::size_t level = 0; level < depth_; ++level)
    path += name_ + "/";
  return path + leaf_;
}

}  // namespace srb::test
