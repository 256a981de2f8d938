// The identity reader on arbitrary file content. Whatever the bytes, load_identity returns a
// key or an identity error whose message is one line of valid UTF-8 starting
// "identity file: " (the line key pubkey and build print); unreadable means not UTF-8 here.
// A JSON error must be the one the text-level reader gives for the same text, so the file
// layer passes the bytes on unchanged. The content goes through one scratch file in a
// memory-backed directory.

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <variant>

#include "core/text.hpp"
#include "fuzz_check.hpp"
#include "signing/identity.hpp"
#include "signing/identity_json.hpp"

namespace {

std::filesystem::path scratch_file() {
  const char* shm = "/dev/shm";
  std::string pattern = std::string(access(shm, W_OK) == 0 ? shm : "/tmp") + "/srb-identity-XXXXXX";
  const int fd = mkstemp(pattern.data());
  FUZZ_CHECK(fd >= 0);
  close(fd);
  return pattern;
}

void write_all(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size) {
  const int fd = open(path.c_str(), O_WRONLY | O_TRUNC);
  FUZZ_CHECK(fd >= 0);
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = write(fd, data + done, size - done);
    FUZZ_CHECK(n > 0);
    done += static_cast<std::size_t>(n);
  }
  close(fd);
}

const std::filesystem::path& identity_path() {
  static const std::filesystem::path path = [] {
    std::filesystem::path p = scratch_file();
    static const std::filesystem::path removed_at_exit = p;
    std::atexit([] { unlink(removed_at_exit.c_str()); });
    return p;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  write_all(identity_path(), data, size);
  const srb::Result<srb::SigningKey> key = srb::load_identity(identity_path());
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (srb::is_valid_utf8(text)) {
    const srb::Result<srb::SecretString> json = srb::parse_identity_json(text);
    if (!json) FUZZ_CHECK(!key && srb::message(key.error()) == srb::message(json.error()));
  }
  if (key) return 0;
  const srb::BundleError& error = key.error();
  FUZZ_CHECK(std::holds_alternative<srb::IdentityInvalid>(error) ||
             std::holds_alternative<srb::IdentityRead>(error));
  if (std::holds_alternative<srb::IdentityRead>(error))
    FUZZ_CHECK(!srb::is_valid_utf8({reinterpret_cast<const char*>(data), size}));
  const std::string message = srb::message(error);
  FUZZ_CHECK(message.rfind("identity file: ", 0) == 0);
  FUZZ_CHECK(message.find('\n') == std::string::npos);
  FUZZ_CHECK(srb::is_valid_utf8(message));
  return 0;
}
