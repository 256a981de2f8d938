#include "signing/signing_key.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "core/hex.hpp"

namespace srb {
namespace {

nlohmann::json rfc8032_vectors() {
  std::ifstream in(SRB_VECTORS_DIR "/rfc8032/ed25519_rfc8032_7_1.json");
  return nlohmann::json::parse(in).at("vectors");
}

SigningKey key_from_hex(const std::string& hex) {
  const std::vector<unsigned char> seed = decode_hex(hex).bytes;
  return SigningKey::from_seed(std::span<const unsigned char, 32>(seed.data(), 32)).value();
}

TEST(SigningKeyTest, ReproducesRfc8032KeysAndSignatures) {
  const nlohmann::json vectors = rfc8032_vectors();
  ASSERT_EQ(vectors.size(), 5u);
  for (const nlohmann::json& vector : vectors) {
    SCOPED_TRACE(vector.at("name").get<std::string>());
    const SigningKey key = key_from_hex(vector.at("secret_key").get<std::string>());
    EXPECT_EQ(encode_hex(key.public_key()), vector.at("public_key").get<std::string>());
    const std::vector<unsigned char> message =
        decode_hex(vector.at("message").get<std::string>()).bytes;
    EXPECT_EQ(encode_hex(key.sign(message).value()), vector.at("signature").get<std::string>());
  }
}

TEST(SigningKeyTest, MovingTakesTheSeedAndWipesTheSource) {
  const std::string seed_hex = "4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb";
  SigningKey first = key_from_hex(seed_hex);
  const PublicKey public_key = first.public_key();

  SigningKey second(std::move(first));
  EXPECT_EQ(encode_hex(second.seed()), seed_hex);
  EXPECT_EQ(second.public_key(), public_key);
  EXPECT_EQ(encode_hex(first.seed()), std::string(64, '0'));  // NOLINT(bugprone-use-after-move)

  SigningKey third = key_from_hex(std::string(64, '1'));
  third = std::move(second);
  EXPECT_EQ(encode_hex(third.seed()), seed_hex);
  EXPECT_EQ(third.public_key(), public_key);
  EXPECT_EQ(encode_hex(second.seed()), std::string(64, '0'));  // NOLINT(bugprone-use-after-move)
}

}  // namespace
}  // namespace srb
