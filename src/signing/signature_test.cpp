#include "signing/signature.hpp"

#include <gtest/gtest.h>

#include <string>

#include "core/hex.hpp"

namespace srb {
namespace {

// Known answer, computed outside this code base (b3sum over the 90 input bytes, then an
// independent Ed25519 signer): RFC 8032's TEST 1 seed signs version "1.0" with the root hash
// of an empty file list.
constexpr std::string_view kSeedHex =
    "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60";
constexpr std::string_view kPublisherHex =
    "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";
constexpr std::string_view kVersion = "1.0";
constexpr std::string_view kRootHash =
    "af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262";
constexpr std::string_view kDigestHex =
    "256b039e42e1d619720b09e4e02257a261dd36f94ae2e277189ceb3ecdd48004";
constexpr std::string_view kSignatureHex =
    "1fdc64978763eedcc8e039768a90d53b1cae8054bd04153a316c88bcbf90edc2"
    "53a63d3969a1b0315cd7a1437d6cbdf8f6555423edec9d7d54007e29e122e00a";

SigningKey known_key() {
  const std::vector<unsigned char> seed = decode_hex(kSeedHex).bytes;
  return SigningKey::from_seed(std::span<const unsigned char, 32>(seed.data(), 32)).value();
}

BundleManifest signed_manifest() {
  BundleManifest manifest;
  manifest.version = kVersion;
  manifest.arch = "x86_64";
  manifest.root_hash = kRootHash;
  manifest.publisher_hex = kPublisherHex;
  manifest.signature_hex = kSignatureHex;
  return manifest;
}

// "" for success, else the whole message.
std::string outcome(const Result<void>& result) {
  return result ? std::string() : message(result.error());
}

std::string check(const BundleManifest& manifest,
                  const std::optional<std::string>& require_publisher = std::nullopt,
                  RequireSignature require_signature = RequireSignature::no) {
  return outcome(check_bundle_signature(manifest, require_publisher, require_signature));
}

TEST(SignatureTest, KnownAnswer) {
  EXPECT_EQ(encode_hex(signing_digest(kVersion, kRootHash)), kDigestHex);
  const BundleSignature signature = sign_manifest(known_key(), kVersion, kRootHash).value();
  EXPECT_EQ(signature.publisher_hex, kPublisherHex);
  EXPECT_EQ(signature.signature_hex, kSignatureHex);
  EXPECT_EQ(check(signed_manifest()), "");
}

TEST(SignatureTest, DigestTakesOnlyVersionAndRootHash) {
  // Nothing stands between the two texts, so only their concatenation counts.
  EXPECT_EQ(signing_digest("1.0a", kRootHash.substr(1)), signing_digest("1.0", kRootHash));
  BundleManifest manifest = signed_manifest();
  manifest.arch = "aarch64";
  manifest.produced_at = 12345;
  manifest.files.push_back(
      BundleFile{.path = "lib/libc.so.6", .hash = std::string(kRootHash), .size = 7});
  EXPECT_EQ(check(manifest), "");
}

TEST(SignatureTest, ForgeriesFail) {
  const std::string invalid = "bundle signature does not verify against embedded publisher";
  struct Case {
    const char* name;
    void (*edit)(BundleManifest&);
  };
  const Case cases[] = {
      {"version", [](BundleManifest& m) { m.version = "1.1"; }},
      {"root hash", [](BundleManifest& m) { m.root_hash[0] = 'b'; }},
      {"upper-case root hash", [](BundleManifest& m) { m.root_hash[0] = 'A'; }},
      {"R", [](BundleManifest& m) { (*m.signature_hex)[0] = '0'; }},
      {"S", [](BundleManifest& m) { (*m.signature_hex)[127] = 'b'; }},
      {"another key's signature",
       [](BundleManifest& m) {
         std::array<unsigned char, 32> seed{};
         seed[0] = 1;
         m.signature_hex =
             sign_manifest(SigningKey::from_seed(seed).value(), m.version, m.root_hash)
                 ->signature_hex;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BundleManifest manifest = signed_manifest();
    c.edit(manifest);
    EXPECT_EQ(check(manifest), invalid);
    EXPECT_EQ(check(manifest, std::string(kPublisherHex)), invalid);
  }
}

TEST(SignatureTest, SigningIsDeterministic) {
  EXPECT_EQ(sign_manifest(known_key(), "2.0", kRootHash)->signature_hex,
            sign_manifest(known_key(), "2.0", kRootHash)->signature_hex);
}

TEST(SignatureTest, UnsignedManifests) {
  const std::string required =
      "bundle is not signed \xE2\x80\x94 signature required (pass --allow-unsigned-runtime to opt "
      "out)";
  struct Case {
    std::optional<std::string> publisher_hex;
    std::optional<std::string> signature_hex;
  };
  // A lone field is not looked at, whatever it holds.
  const Case cases[] = {{std::nullopt, std::nullopt},
                        {"zz", std::nullopt},
                        {std::nullopt, std::string(kSignatureHex)},
                        {std::string(kPublisherHex), std::nullopt}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.publisher_hex.value_or("-") + " / " + c.signature_hex.value_or("-"));
    BundleManifest manifest = signed_manifest();
    manifest.publisher_hex = c.publisher_hex;
    manifest.signature_hex = c.signature_hex;
    EXPECT_EQ(check(manifest), "");
    EXPECT_EQ(check(manifest, std::nullopt, RequireSignature::yes), required);
    EXPECT_EQ(check(manifest, std::string(kPublisherHex)), required);
    EXPECT_EQ(check(manifest, std::string("something else")), required);
  }
}

TEST(SignatureTest, RequiredPublisher) {
  const std::string upper = [] {
    std::string text(kPublisherHex);
    for (char& c : text)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
  }();
  const std::string mismatch =
      "bundle publisher " + std::string(kPublisherHex) + " does not match required ";
  struct Case {
    std::string required;
    std::string expected;
  };
  const Case cases[] = {
      {std::string(kPublisherHex), ""},
      {upper, ""},
      {"ed25519:" + std::string(kPublisherHex), mismatch + "ed25519:" + std::string(kPublisherHex)},
      {std::string(kPublisherHex.substr(1)), mismatch + std::string(kPublisherHex.substr(1))},
      {std::string(64, '0'), mismatch + std::string(64, '0')},
      {"", mismatch},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.required);
    EXPECT_EQ(check(signed_manifest(), c.required), c.expected);
  }
  // The stored text is compared as stored, and named as stored.
  BundleManifest manifest = signed_manifest();
  manifest.publisher_hex = upper;
  EXPECT_EQ(check(manifest, std::string(kPublisherHex)), "");
  EXPECT_EQ(check(manifest, std::string(64, 'a')),
            "bundle publisher " + upper + " does not match required " + std::string(64, 'a'));
}

TEST(SignatureTest, MalformedFieldsInOrder) {
  const std::string pub(kPublisherHex);
  const std::string sig(kSignatureHex);
  const std::string not_a_point = "02" + std::string(62, '0');  // y = 2 has no x
  const auto field = [](const char* name, const std::string& detail) {
    return "bundle signature field " + std::string(name) + " is malformed: " + detail;
  };
  const std::string no_point = "signature error: Cannot decompress Edwards point";
  struct Case {
    std::string publisher_hex;
    std::string signature_hex;
    std::string expected;
  };
  const Case cases[] = {
      {"", sig, field("publisher_hex", "expected 32 bytes, got 0")},
      {pub.substr(1), sig, field("publisher_hex", "Odd number of digits")},
      {"zz" + pub.substr(2), sig, field("publisher_hex", "Invalid character 'z' at position 0")},
      {"0z" + pub.substr(2), sig, field("publisher_hex", "Invalid character 'z' at position 1")},
      // Odd length is found before any character is looked at.
      {"z" + pub.substr(2), sig, field("publisher_hex", "Odd number of digits")},
      {pub + "00", sig, field("publisher_hex", "expected 32 bytes, got 33")},
      // The publisher field is examined completely before the signature field.
      {pub + "00", "", field("publisher_hex", "expected 32 bytes, got 33")},
      {pub, sig.substr(1), field("signature_hex", "Odd number of digits")},
      {pub, "", field("signature_hex", "expected 64 bytes, got 0")},
      {pub, sig + "00", field("signature_hex", "expected 64 bytes, got 65")},
      {pub, sig.substr(0, 5) + "g" + sig.substr(6),
       field("signature_hex", "Invalid character 'g' at position 5")},
      // Both fields decode before the key is taken apart as a point.
      {not_a_point, sig.substr(2), field("signature_hex", "expected 64 bytes, got 63")},
      {not_a_point, sig, field("publisher_hex", no_point)},
      {"ec" + std::string(62, 'f'), sig, field("publisher_hex", no_point)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.publisher_hex + " / " + c.signature_hex);
    BundleManifest manifest = signed_manifest();
    manifest.publisher_hex = c.publisher_hex;
    manifest.signature_hex = c.signature_hex;
    EXPECT_EQ(check(manifest, std::string(kPublisherHex)), c.expected);
  }
}

TEST(SignatureTest, HexCaseOfTheFieldsDoesNotMatter) {
  BundleManifest manifest = signed_manifest();
  for (char& c : *manifest.publisher_hex)
    c = static_cast<char>(std::toupper(c));
  for (char& c : *manifest.signature_hex)
    c = static_cast<char>(std::toupper(c));
  EXPECT_EQ(check(manifest, std::string(kPublisherHex)), "");
}

}  // namespace
}  // namespace srb
