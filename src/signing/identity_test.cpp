#include "signing/identity.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "core/hex.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb {
namespace {

using test::TempDir;
using test::write_file;

constexpr std::string_view kSeedHex =
    "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60";
constexpr std::string_view kPublicHex =
    "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";

// The public key as hex, or the whole error message.
std::string load(const std::filesystem::path& path) {
  const Result<SigningKey> key = load_identity(path);
  return key ? encode_hex(key->public_key()) : message(key.error());
}

TEST(IdentityTest, LoadsTheKeyOfAnIdentityFile) {
  TempDir dir;
  std::string upper(kSeedHex);
  for (char& c : upper)
    c = static_cast<char>(std::toupper(c));
  const std::string texts[] = {
      "{\"secret_key_hex\":\"" + std::string(kSeedHex) + "\"}\n",
      "{\n  \"comment\": \"hand-written\",\n  \"secret_key_hex\": \"" + upper + "\"\n}\n",
      "[\"" + std::string(kSeedHex) + "\"]",
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    write_file(dir / "id.json", text, 0600);
    EXPECT_EQ(load(dir / "id.json"), kPublicHex);
  }
}

TEST(IdentityTest, SecretProblems) {
  TempDir dir;
  struct Case {
    std::string secret;
    std::string expected;
  };
  const Case cases[] = {
      {"", "identity file: secret_key_hex must decode to 32 bytes (got 0)"},
      {std::string(kSeedHex) + "00",
       "identity file: secret_key_hex must decode to 32 bytes (got 33)"},
      {std::string(kSeedHex.substr(2)),
       "identity file: secret_key_hex must decode to 32 bytes (got 31)"},
      {"abc", "identity file: secret_key_hex: Odd number of digits"},
      {std::string(kSeedHex.substr(0, 60)) + "x000",
       "identity file: secret_key_hex: Invalid character 'x' at position 60"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.secret);
    write_file(dir / "id.json", "{\"secret_key_hex\":\"" + c.secret + "\"}", 0600);
    EXPECT_EQ(load(dir / "id.json"), c.expected);
  }
}

TEST(IdentityTest, ReadProblems) {
  TempDir dir;
  write_file(dir / "latin1.json", "{\"secret_key_hex\":\"\xE9\"}", 0600);
  write_file(dir / "huge.json", std::string((1 << 20) + 1, ' '), 0600);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(load(dir / "missing.json"), "identity file: No such file or directory (os error 2)");
  EXPECT_EQ(load(dir.path()), "identity file: Is a directory (os error 21)");
  EXPECT_EQ(load(dir / "latin1.json"), "identity file: stream did not contain valid UTF-8");
  EXPECT_EQ(load(dir / "huge.json"), "identity file: File too large (os error 27)");
  // A FIFO nobody writes to reads as empty rather than blocking.
  EXPECT_EQ(load(dir / "fifo"), "identity file: EOF while parsing a value at line 1 column 0");
}

}  // namespace
}  // namespace srb
