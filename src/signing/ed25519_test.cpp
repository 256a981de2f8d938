#include "signing/ed25519.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/hex.hpp"

namespace srb {
namespace {

nlohmann::json load_vectors(const std::string& relative) {
  std::ifstream in(SRB_VECTORS_DIR "/" + relative);
  return nlohmann::json::parse(in);
}

std::vector<unsigned char> bytes(const std::string& hex) {
  const HexDecoded decoded = decode_hex(hex);
  EXPECT_FALSE(decoded.error) << hex;
  return decoded.bytes;
}

std::span<const unsigned char, 32> key_span(const std::vector<unsigned char>& key) {
  return std::span<const unsigned char, 32>(key.data(), 32);
}

bool verify(const std::string& key_hex, const std::string& message_hex,
            const std::string& signature_hex) {
  const std::vector<unsigned char> key = bytes(key_hex);
  const std::vector<unsigned char> signature = bytes(signature_hex);
  EXPECT_EQ(key.size(), 32u);
  EXPECT_EQ(signature.size(), 64u);
  return verify_ed25519(key_span(key), bytes(message_hex),
                        std::span<const unsigned char, 64>(signature.data(), 64))
      .value();
}

// One bit of the hex text's byte `index` flipped.
std::string flip_bit(std::string hex, std::size_t index) {
  const HexDecoded decoded = decode_hex(hex.substr(2 * index, 2));
  const unsigned char flipped = decoded.bytes.at(0) ^ 0x01;
  return hex.replace(2 * index, 2, encode_hex(std::span<const unsigned char>(&flipped, 1)));
}

TEST(Ed25519Test, Rfc8032SignaturesVerifyAndOneFlippedBitBreaksThem) {
  // Range-for keeps only `.at()`'s reference alive, not the document it points into.
  const nlohmann::json document = load_vectors("rfc8032/ed25519_rfc8032_7_1.json");
  for (const nlohmann::json& v : document.at("vectors")) {
    SCOPED_TRACE(v.at("name").get<std::string>());
    const std::string key = v.at("public_key");
    const std::string message = v.at("message");
    const std::string signature = v.at("signature");
    EXPECT_TRUE(verify(key, message, signature));
    if (!message.empty()) {
      EXPECT_FALSE(verify(key, flip_bit(message, 0), signature));
    }
    EXPECT_FALSE(verify(key, message, flip_bit(signature, 0)));   // R
    EXPECT_FALSE(verify(key, message, flip_bit(signature, 32)));  // S
    EXPECT_FALSE(verify(flip_bit(key, 0), message, signature));
  }
}

TEST(Ed25519Test, PointDecodingIsStrict) {
  struct Case {
    const char* name;
    std::string encoding;
    bool is_point;
  };
  const Case cases[] = {
      {"identity (0, 1)", "01" + std::string(62, '0'), true},
      {"base point", "58" + std::string(62, '6'), true},
      {"minus the base point", "58" + std::string(60, '6') + "e6", true},
      {"(0, -1), order 2", "ec" + std::string(60, 'f') + "7f", true},
      {"y = 2 has no x", "02" + std::string(62, '0'), false},
      {"y = p", "ed" + std::string(60, 'f') + "7f", false},
      {"y = p + 1, the identity unreduced", "ee" + std::string(60, 'f') + "7f", false},
      {"y = 2^255 - 1", std::string(62, 'f') + "7f", false},
      {"(0, 1) with the sign bit", "01" + std::string(60, '0') + "80", false},
      {"(0, -1) with the sign bit", "ec" + std::string(62, 'f'), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(is_ed25519_point(key_span(bytes(c.encoding))).value(), c.is_point);
  }
}

// The "Taming the many EdDSAs" cases. Cofactorless verification with S < L and no small-order
// test accepts 0 to 3; 10 and 11 carry the key (0, -1) with the sign bit set, which the point
// decoding refuses before any signature arithmetic.
TEST(Ed25519Test, SpeccheckCases) {
  const nlohmann::json cases = load_vectors("ed25519-speccheck/cases.json");
  ASSERT_EQ(cases.size(), 12u);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    const std::string key = cases[i].at("pub_key");
    EXPECT_EQ(is_ed25519_point(key_span(bytes(key))).value(), i < 10);
    EXPECT_EQ(verify(key, cases[i].at("message"), cases[i].at("signature")), i <= 3);
  }
}

// Wycheproof's verdicts hold for every vector. The signatures that are not 64 bytes long are all
// invalid, so the length check in front of verification refuses exactly what it should.
TEST(Ed25519Test, WycheproofVectors) {
  const nlohmann::json file = load_vectors("wycheproof/testvectors_v1/ed25519_test.json");
  std::size_t checked = 0;
  for (const nlohmann::json& group : file.at("testGroups")) {
    const std::string key = group.at("publicKey").at("pk");
    ASSERT_TRUE(is_ed25519_point(key_span(bytes(key))).value()) << key;
    for (const nlohmann::json& test : group.at("tests")) {
      SCOPED_TRACE("tcId " + std::to_string(test.at("tcId").get<int>()) + ": " +
                   test.at("comment").get<std::string>());
      const std::string result = test.at("result");
      ASSERT_TRUE(result == "valid" || result == "invalid") << result;
      const std::string signature = test.at("sig");
      ++checked;
      if (signature.size() != 128) {
        EXPECT_EQ(result, "invalid");
        continue;
      }
      EXPECT_EQ(verify(key, test.at("msg"), signature), result == "valid");
    }
  }
  EXPECT_EQ(checked, file.at("numberOfTests").get<std::size_t>());
}

// Under the identity key A = (0, 1), [S]B - [k]A = [S]B whatever k is, so R = [r]B with S = r
// verifies for any message: small-order keys are not refused. S + L, the same scalar unreduced,
// is refused.
TEST(Ed25519Test, SmallOrderIdentityKeyIsAcceptedButSMustBeBelowTheOrder) {
  const std::string identity_key = "01" + std::string(62, '0');
  struct Case {
    const char* name;
    std::string r_point;  // [r]B
    std::string r;
    std::string r_plus_l;
  };
  const Case cases[] = {
      {"r = 1", "58" + std::string(62, '6'), "01" + std::string(62, '0'),
       "eed3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010"},
      {"r = L - 1", "58" + std::string(60, '6') + "e6",
       "ecd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010",
       "d9a7ebb934c624b0ac39ef45bdf3bd2900000000000000000000000000000020"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const std::string message : {"", "00", "256b039e42e1d619720b09e4e02257a2"}) {
      EXPECT_TRUE(verify(identity_key, message, c.r_point + c.r));
      EXPECT_FALSE(verify(identity_key, message, c.r_point + c.r_plus_l));
    }
  }
}

}  // namespace
}  // namespace srb
