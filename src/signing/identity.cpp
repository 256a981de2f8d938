#include "signing/identity.hpp"

#include <fcntl.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "core/confined_write.hpp"
#include "core/hex.hpp"
#include "core/text.hpp"
#include "core/unique_fd.hpp"
#include "signing/identity_json.hpp"
#include "signing/secret_file.hpp"
#include "signing/secret_string.hpp"
#include "signing/system_random.hpp"

// Loading reads the file, checks it is UTF-8, takes secret_key_hex out of the JSON, decodes it
// and derives the key pair. Generating takes 32 fresh bytes, creates the parent directories and
// hands the 86-byte identity text to secret_file.cpp, which replaces the destination with a file
// of its own or writes a device or standard stream where it stands. Every buffer that holds the
// secret, as bytes or as hex, is wiped before it is released.

namespace srb {
namespace {

// An identity is 86 bytes; anything past this is not one (and /dev/zero would never end).
constexpr std::size_t kMaxIdentityBytes = 1 << 20;
constexpr std::size_t kReadChunk = 4096;

// Opened non-blocking, a FIFO without a writer cannot stall the open; reads then block again,
// so a pipe whose writer is busy (a shell's process substitution) is still read whole.
Result<SecretString> read_all(int fd) {
  if (!make_blocking(fd)) return IdentityRead{last_os_error()};
  SecretString text;
  for (;;) {
    const std::size_t used = text.size();
    text.resize(used + kReadChunk);
    const ssize_t n = read_some(fd, text.data() + used, kReadChunk);
    const int error = errno;
    text.resize(used + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    if (n < 0) return IdentityRead{os_error(error)};
    if (n == 0) return text;
    if (text.size() > kMaxIdentityBytes) return IdentityRead{os_error(EFBIG)};
  }
}

Result<SecretString> read_identity_text(const std::filesystem::path& path) {
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd.is_open()) return IdentityRead{last_os_error()};
  return read_all(fd.get());
}

Result<SigningKey> key_from_decoded(const HexDecoded& decoded) {
  if (decoded.error) return IdentityInvalid{"secret_key_hex: " + *decoded.error};
  if (decoded.bytes.size() != 32) {
    return IdentityInvalid{"secret_key_hex must decode to 32 bytes (got " +
                           std::to_string(decoded.bytes.size()) + ")"};
  }
  return SigningKey::from_seed(std::span<const unsigned char, 32>(decoded.bytes.data(), 32));
}

Result<SigningKey> key_from_hex(const SecretString& hex) {
  HexDecoded decoded = decode_hex(std::string_view(hex.data(), hex.size()));
  Result<SigningKey> key = key_from_decoded(decoded);
  // A failed decode empties the vector but keeps its storage and the bytes decoded so far. A
  // vector that never had storage has a null data(), which explicit_bzero must not be given.
  if (decoded.bytes.capacity() > 0) explicit_bzero(decoded.bytes.data(), decoded.bytes.capacity());
  return key;
}

Result<void> create_parent_directories(const std::filesystem::path& out) {
  const std::filesystem::path parent = out.parent_path();
  if (parent.empty()) return {};
  return make_directories(parent);
}

SecretString identity_text(const SigningKey& key) {
  SecretString text;
  text.reserve(86);
  std::string hex = encode_hex(key.seed());
  text.append("{\"secret_key_hex\":\"").append(hex).append("\"}\n");
  explicit_bzero(hex.data(), hex.size());
  return text;
}

Result<WrittenSecret> write_identity_file(const std::filesystem::path& out, const SigningKey& key) {
  const SecretString text = identity_text(key);
  return write_secret_file(out, std::string_view(text.data(), text.size()));
}

}  // namespace

Result<SigningKey> load_identity(const std::filesystem::path& path) {
  TRY_ASSIGN(const SecretString text, read_identity_text(path));
  const std::string_view view(text.data(), text.size());
  if (!is_valid_utf8(view)) return IdentityRead{OsError{0, OsError::Fixed::not_utf8}};
  TRY_ASSIGN(const SecretString hex, parse_identity_json(view));
  return key_from_hex(hex);
}

Result<GeneratedIdentity> write_new_identity(const std::filesystem::path& out) {
  std::array<unsigned char, 32> seed{};
  const Result<void> filled = fill_from_system_random(seed);
  const Result<SigningKey> key = filled ? SigningKey::from_seed(seed) : filled.error();
  explicit_bzero(seed.data(), seed.size());
  if (!key) return key.error();
  TRY(create_parent_directories(out));
  TRY_ASSIGN(const WrittenSecret written, write_identity_file(out, *key));
  return GeneratedIdentity{.public_hex = encode_hex(key->public_key()),
                           .replaced_file = written.replaced_file,
                           .failed_after_replacing = written.failed_after_replacing};
}

Result<std::string> generate_identity(const std::filesystem::path& out) {
  TRY_ASSIGN(GeneratedIdentity generated, write_new_identity(out));
  if (generated.failed_after_replacing) return Io{*generated.failed_after_replacing};
  return std::move(generated.public_hex);
}

}  // namespace srb
