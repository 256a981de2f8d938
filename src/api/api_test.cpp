// The library's public interface as an outside program sees it, called in-process: the stable
// error numbers, the C handles and their ownership, and the C++ records against the tool's own.

// This file also sees the tool's namespace srb, so it spells the library's out in full.
#define SARN_RUNTIME_BUNDLE_NO_SRB_ALIAS
#include <sarn_runtime_bundle/sarn_runtime_bundle.h>
#include <sarn_runtime_bundle/bundle.hpp>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "api/convert.hpp"
#include "core/error.hpp"
#include "signing/libcrypto.hpp"
#include "tests/support/bundle_fixture.hpp"
#include "tests/support/temp_dir.hpp"

namespace srb::test {
namespace {

namespace api = ::sarn_runtime_bundle;

// The numbers are a promise to compiled programs: once shipped, a kind keeps its number.
TEST(PublicErrors, EveryKindKeepsItsNumber) {
  const struct {
    BundleError error;
    srb_error_kind kind;
  } cases[] = {
      {Io{os_error(EACCES)}, SRB_ERROR_IO},
      {NoBundleSources{}, SRB_ERROR_NO_BUNDLE_SOURCES},
      {ManifestMissing{}, SRB_ERROR_MANIFEST_MISSING},
      {ManifestParse{}, SRB_ERROR_MANIFEST_PARSE},
      {HashMismatch{}, SRB_ERROR_HASH_MISMATCH},
      {MissingFromPayload{}, SRB_ERROR_MISSING_FROM_PAYLOAD},
      {UnlistedPayloadFile{}, SRB_ERROR_UNLISTED_PAYLOAD_FILE},
      {InvalidPayloadPath{}, SRB_ERROR_INVALID_PAYLOAD_PATH},
      {NotRegularFile{}, SRB_ERROR_NOT_REGULAR_FILE},
      {DataDirUnresolvable{}, SRB_ERROR_DATA_DIR_UNRESOLVABLE},
      {InvalidSourceDateEpoch{}, SRB_ERROR_INVALID_SOURCE_DATE_EPOCH},
      {SignatureRequired{}, SRB_ERROR_SIGNATURE_REQUIRED},
      {SignatureInvalid{}, SRB_ERROR_SIGNATURE_INVALID},
      {PublisherMismatch{}, SRB_ERROR_PUBLISHER_MISMATCH},
      {ArchMismatch{}, SRB_ERROR_ARCH_MISMATCH},
      {UnsupportedArch{}, SRB_ERROR_UNSUPPORTED_ARCH},
      {IdentityRead{}, SRB_ERROR_IDENTITY_READ},
      {IdentityInvalid{}, SRB_ERROR_IDENTITY_INVALID},
      {MalformedSignatureField{}, SRB_ERROR_MALFORMED_SIGNATURE_FIELD},
      {IncludeMissing{}, SRB_ERROR_INCLUDE_MISSING},
      {IncludeNoFileName{}, SRB_ERROR_INCLUDE_NO_FILE_NAME},
      {DuplicateInclude{}, SRB_ERROR_DUPLICATE_INCLUDE},
      {IncludeInvalidFileName{}, SRB_ERROR_INCLUDE_INVALID_FILE_NAME},
      {UnsafeDestination{}, SRB_ERROR_UNSAFE_DESTINATION},
      {DestinationChanged{}, SRB_ERROR_DESTINATION_CHANGED},
      {ForeignSecretFile{}, SRB_ERROR_FOREIGN_SECRET_FILE},
      {InvalidVersionTag{}, SRB_ERROR_INVALID_VERSION_TAG},
      {VersionMismatch{}, SRB_ERROR_VERSION_MISMATCH},
  };
  ASSERT_EQ(std::size(cases), std::variant_size_v<BundleError>)
      << "a new kind needs its row here and its number in sarn_runtime_bundle.h";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    const api::Error error = to_public(c.error);
    EXPECT_EQ(static_cast<int>(error.kind), static_cast<int>(c.kind));
    EXPECT_EQ(error.message, message(c.error));
  }
}

// Both kinds carry two hex or arch texts side by side; each message names them in its own order.
TEST(PublicErrors, MismatchMessagesNameEachValueInItsPlace) {
  EXPECT_EQ(to_public(PublisherMismatch{.required = "aa", .publisher = "bb"}).message,
            "bundle publisher bb does not match required aa");
  EXPECT_EQ(to_public(ArchMismatch{.arch = "aarch64", .required = "x86_64"}).message,
            "bundle arch \"aarch64\" does not match host arch \"x86_64\"");
  EXPECT_EQ(to_public(VersionMismatch{.version = "1.0", .required = "2.0"}).message,
            "bundle version \"1.0\" does not match required version \"2.0\"");
}

struct ErrorFree {
  void operator()(srb_error* e) const { srb_error_free(e); }
};
struct ManifestFree {
  void operator()(srb_manifest* m) const { srb_manifest_free(m); }
};
struct VerifyRequestFree {
  void operator()(srb_verify_request* r) const { srb_verify_request_free(r); }
};
using ErrorHandle = std::unique_ptr<srb_error, ErrorFree>;
using ManifestHandle = std::unique_ptr<srb_manifest, ManifestFree>;
using VerifyRequestHandle = std::unique_ptr<srb_verify_request, VerifyRequestFree>;

struct Verified {
  ManifestHandle manifest;
  ErrorHandle error;
};

Verified c_verify(const srb_verify_request* request) {
  srb_error* error = reinterpret_cast<srb_error*>(0x1);  // must be overwritten either way
  srb_manifest* manifest = srb_verify(request, &error);
  return {ManifestHandle(manifest), ErrorHandle(error)};
}

TEST(CInterface, VerifyHandsBackTheManifestField_ByField) {
  TempDir dir;
  const SigningKey key = test_key();
  const BundleManifest written = make_bundle(
      dir.path(), {.files = {{"lib/libc.so.6", "c"}, {"etc/ld.so.cache", "cache"}}, .key = &key});
  const VerifyRequestHandle request(srb_verify_request_new(dir.path().c_str()));
  ASSERT_EQ(srb_verify_request_require_publisher(request.get(), written.publisher_hex->c_str()), 0);
  srb_verify_request_require_signature(request.get(), 1);
  const Verified verified = c_verify(request.get());
  ASSERT_TRUE(verified.manifest) << srb_error_message(verified.error.get());
  EXPECT_EQ(verified.error, nullptr);

  const srb_manifest* m = verified.manifest.get();
  EXPECT_STREQ(srb_manifest_version(m), written.version.c_str());
  EXPECT_STREQ(srb_manifest_arch(m), written.arch.c_str());
  EXPECT_STREQ(srb_manifest_root_hash(m), written.root_hash.c_str());
  EXPECT_EQ(srb_manifest_produced_at(m), written.produced_at);
  EXPECT_STREQ(srb_manifest_publisher_hex(m), written.publisher_hex->c_str());
  EXPECT_STREQ(srb_manifest_signature_hex(m), written.signature_hex->c_str());
  ASSERT_EQ(srb_manifest_file_count(m), written.files.size());
  for (std::size_t i = 0; i < written.files.size(); ++i) {
    EXPECT_STREQ(srb_manifest_file_path(m, i), written.files[i].path.c_str());
    EXPECT_STREQ(srb_manifest_file_hash(m, i), written.files[i].hash.c_str());
    EXPECT_EQ(srb_manifest_file_size(m, i), written.files[i].size);
  }
  // Past the end is an answer, not a read out of bounds.
  EXPECT_EQ(srb_manifest_file_path(m, written.files.size()), nullptr);
  EXPECT_EQ(srb_manifest_file_hash(m, written.files.size()), nullptr);
  EXPECT_EQ(srb_manifest_file_size(m, written.files.size()), 0u);
}

TEST(CInterface, EachRequirementFailsWithItsKindAndTheToolsMessage) {
  TempDir dir;
  make_bundle(dir.path(), {.arch = "aarch64", .files = {{"lib/libc.so.6", "c"}}});
  const std::string publisher(64, 'a');
  const struct {
    const char* name;
    void (*require)(srb_verify_request*, const std::string&);
    srb_error_kind kind;
    std::string message;
  } cases[] = {
      {"signature",
       [](srb_verify_request* r, const std::string&) {
         srb_verify_request_require_signature(r, 1);
       },
       SRB_ERROR_SIGNATURE_REQUIRED, message(SignatureRequired{})},
      {"publisher",
       [](srb_verify_request* r, const std::string& hex) {
         ASSERT_EQ(srb_verify_request_require_publisher(r, hex.c_str()), 0);
       },
       SRB_ERROR_SIGNATURE_REQUIRED, message(SignatureRequired{})},
      {"arch",
       [](srb_verify_request* r, const std::string&) {
         ASSERT_EQ(srb_verify_request_require_arch(r, "x86_64"), 0);
       },
       SRB_ERROR_ARCH_MISMATCH, "bundle arch \"aarch64\" does not match host arch \"x86_64\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const VerifyRequestHandle request(srb_verify_request_new(dir.path().c_str()));
    c.require(request.get(), publisher);
    const Verified verified = c_verify(request.get());
    EXPECT_EQ(verified.manifest, nullptr);
    ASSERT_NE(verified.error, nullptr);
    EXPECT_EQ(srb_error_get_kind(verified.error.get()), c.kind);
    EXPECT_EQ(srb_error_message(verified.error.get()), c.message);
  }
  // Without requirements the unsigned bundle is fine.
  const VerifyRequestHandle plain(srb_verify_request_new(dir.path().c_str()));
  EXPECT_NE(c_verify(plain.get()).manifest, nullptr);
}

TEST(CInterface, ErrorSlotMayBeNull) {
  TempDir dir;
  const VerifyRequestHandle request(srb_verify_request_new((dir / "absent").c_str()));
  EXPECT_EQ(srb_verify(request.get(), nullptr), nullptr);
  srb_error* error = nullptr;
  EXPECT_EQ(srb_verify(request.get(), &error), nullptr);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(srb_error_get_kind(error), SRB_ERROR_MANIFEST_MISSING);
  srb_error_free(error);
  srb_error_free(nullptr);
  srb_manifest_free(nullptr);
  srb_verify_request_free(nullptr);
  srb_build_request_free(nullptr);
  srb_string_free(nullptr);
}

// A launcher in another language can pass a null by mistake; each entry point refuses it.
TEST(CInterface, NullHandlesAndStringsAreRefusedNotFollowed) {
  const std::string invalid = message(Io{os_error(EINVAL)});
  srb_error* error = nullptr;
  EXPECT_EQ(srb_verify(nullptr, &error), nullptr);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(srb_error_get_kind(error), SRB_ERROR_IO);
  EXPECT_EQ(srb_error_message(error), invalid);
  srb_error_free(error);
  EXPECT_EQ(srb_build(nullptr, &error), nullptr);
  EXPECT_EQ(srb_error_message(error), invalid);
  srb_error_free(error);
  EXPECT_EQ(srb_resolve_bundle_path(nullptr, 1, &error), nullptr);
  EXPECT_EQ(srb_error_message(error), invalid);
  srb_error_free(error);

  EXPECT_EQ(srb_verify_request_new(nullptr), nullptr);
  EXPECT_EQ(srb_build_request_new("1", nullptr), nullptr);
  EXPECT_EQ(srb_build_request_new(nullptr, "/tmp/b"), nullptr);
  EXPECT_EQ(srb_verify_request_require_arch(nullptr, "x86_64"), -1);
  srb_verify_request_require_signature(nullptr, 1);
  const VerifyRequestHandle request(srb_verify_request_new("/nonexistent"));
  EXPECT_EQ(srb_verify_request_require_arch(request.get(), nullptr), -1);
  EXPECT_EQ(srb_verify_request_require_publisher(request.get(), nullptr), -1);
  EXPECT_EQ(srb_build_request_add_include(nullptr, "/x.so"), -1);

  EXPECT_EQ(srb_manifest_version(nullptr), nullptr);
  EXPECT_EQ(srb_manifest_file_count(nullptr), 0u);
  EXPECT_EQ(srb_manifest_file_path(nullptr, 0), nullptr);
  EXPECT_STREQ(srb_error_message(nullptr), "");
}

TEST(CInterface, BuildsABundleThatVerifies) {
  TempDir dir;
  make_host_root(dir / "root", {"/lib64/ld-linux-x86-64.so.2", "/etc/ld.so.cache"});
  write_file(dir / "extra.so", "extra");
  srb_build_request* request = srb_build_request_new("3.1", (dir / "bundle").c_str());
  ASSERT_NE(request, nullptr);
  ASSERT_EQ(srb_build_request_set_from(request, (dir / "root").c_str()), 0);
  ASSERT_EQ(srb_build_request_set_arch(request, "x86_64"), 0);
  ASSERT_EQ(srb_build_request_add_include(request, (dir / "extra.so").c_str()), 0);
  srb_error* error = nullptr;
  const ManifestHandle built(srb_build(request, &error));
  srb_build_request_free(request);
  ASSERT_TRUE(built) << srb_error_message(error);

  const Result<BundleManifest> on_disk = load_manifest(dir / "bundle");
  ASSERT_TRUE(on_disk);
  EXPECT_STREQ(srb_manifest_root_hash(built.get()), on_disk->root_hash.c_str());
  EXPECT_EQ(srb_manifest_file_count(built.get()), 3u);
  EXPECT_EQ(srb_manifest_publisher_hex(built.get()), nullptr);

  const VerifyRequestHandle verify(srb_verify_request_new((dir / "bundle").c_str()));
  EXPECT_NE(c_verify(verify.get()).manifest, nullptr);

  srb_build_request* unsupported = srb_build_request_new("3.1", (dir / "other").c_str());
  ASSERT_EQ(srb_build_request_set_arch(unsupported, "riscv64"), 0);
  EXPECT_EQ(srb_build(unsupported, &error), nullptr);
  srb_build_request_free(unsupported);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(srb_error_get_kind(error), SRB_ERROR_UNSUPPORTED_ARCH);
  srb_error_free(error);
}

TEST(CInterface, ResolvesTheSystemLocationWithoutLooking) {
  srb_error* error = reinterpret_cast<srb_error*>(0x1);
  char* path = srb_resolve_bundle_path("2.0", 1, &error);
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(error, nullptr);
  EXPECT_STREQ(path, "/usr/lib/sarn-runtime/2.0");
  srb_string_free(path);
}

TEST(CppInterface, RecordsRoundTripThroughTheToolsOwn) {
  TempDir dir;
  const SigningKey key = test_key();
  const BundleManifest written =
      make_bundle(dir.path(), {.files = {{"lib/a.so", "a"}, {"lib/b.so", "bb"}}, .key = &key});
  api::VerifyRequest request;
  request.bundle_dir = dir.path();
  request.require_signature = api::RequireSignature::yes;
  const api::Result<api::BundleManifest> verified = api::verify_bundle(request);
  ASSERT_TRUE(verified) << api::message(verified.error());
  EXPECT_EQ(to_internal(*verified), written);
  EXPECT_EQ(api::compute_root_hash(verified->files), written.root_hash);

  const api::Result<std::string> text = api::render_manifest(*verified);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, *render_manifest(written));
  const api::Result<api::BundleManifest> parsed = api::parse_manifest(*text);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(*parsed, *verified);

  const api::Result<api::BundleManifest> broken = api::parse_manifest("version = ");
  ASSERT_FALSE(broken);
  EXPECT_EQ(broken.error().kind, api::ErrorKind::ManifestParse);
}

TEST(CppInterface, IdentityKeyIsTheOneGenerated) {
  TempDir dir;
  const api::Result<std::string> generated = api::generate_identity(dir / "id.json");
  ASSERT_TRUE(generated) << api::message(generated.error());
  const api::Result<std::string> read = api::identity_public_key(dir / "id.json");
  ASSERT_TRUE(read);
  EXPECT_EQ(*read, *generated);
  const api::Result<std::string> missing = api::identity_public_key(dir / "absent.json");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().kind, api::ErrorKind::IdentityRead);
}

// What each entry point gives when libcrypto cannot be loaded, one line each: the error
// message, or "ok". Runs in a process where nothing has loaded libcrypto yet.
std::string outcomes_without_libcrypto() {
  set_libcrypto_soname("libsarn-runtime-bundle-test-missing.so.3");
  const TempDir dir;
  const auto line = [](const auto& result) {
    return (result ? std::string("ok") : api::message(result.error())) + "\n";
  };
  api::VerifyRequest verify;
  verify.bundle_dir = dir / "bundle";
  BundleManifest manifest = make_bundle(dir / "bundle", {.files = {{"lib/libc.so.6", "libc"}}});
  std::string lines = line(api::verify_bundle(verify));
  // Fields of the right form, so that only checking them needs the library.
  manifest.publisher_hex = std::string(64, 'a');
  manifest.signature_hex = std::string(128, 'b');
  write_manifest(dir / "bundle", manifest);
  lines += line(api::verify_bundle(verify));
  lines += line(api::generate_identity(dir / "new.json"));
  lines += std::filesystem::exists(dir / "new.json") ? "written\n" : "not written\n";
  write_file(dir / "id.json", "{\"secret_key_hex\":\"" + std::string(64, '1') + "\"}\n", 0600);
  lines += line(api::identity_public_key(dir / "id.json"));
  make_host_root(dir / "root", {"/lib64/ld-linux-x86-64.so.2", "/lib/x86_64-linux-gnu/libc.so.6"});
  lines += line(api::build_bundle({.version = "1.0",
                                   .out = dir / "built",
                                   .from = dir / "root",
                                   .arch = "x86_64",
                                   .identity = dir / "id.json",
                                   .includes = {}}));
  return lines;
}

// libcrypto is loaded only to make a key or make or check a signature; without it those fail
// with one i/o error, and everything else works. The death-test child is a fresh process,
// so the loader has not run in it before the library name is changed.
TEST(CppInterface, WithoutLibcryptoOnlySigningAndCheckingFail) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string missing = "i/o: Can not access a needed shared library (os error 79)\n";
  const std::string expected = "ok\n" + missing + missing + "not written\n" + missing + missing;
  EXPECT_EXIT(
      {
        const std::string found = outcomes_without_libcrypto();
        std::fputs(found.c_str(), stderr);
        std::exit(found == expected ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace srb::test
