// The library's public interface as an outside program sees it, called in-process: the stable
// error numbers and what each error tells besides its message, the C handles and their
// ownership, texts that hold NUL, the version requirement, and the C++ wrappers against the
// tool's own records.

// This file also sees the tool's namespace srb, so it spells the library's out in full.
#define SARN_RUNTIME_BUNDLE_NO_SRB_ALIAS
#include <sarn_runtime_bundle/sarn_runtime_bundle.h>
#include <sarn_runtime_bundle/bundle.hpp>

#include <gtest/gtest.h>

#include <elf.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "api/c_layer.hpp"
#include "api/error_record.hpp"
#include "core/error.hpp"
#include "core/hex.hpp"
#include "manifest/digest.hpp"
#include "manifest/manifest.hpp"
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
      {UnsafeBundle{}, SRB_ERROR_UNSAFE_BUNDLE},
      {NotInstalled{}, SRB_ERROR_NOT_INSTALLED},
  };
  ASSERT_EQ(std::size(cases), std::variant_size_v<BundleError>)
      << "a new kind needs its row here and its number in sarn_runtime_bundle.h";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    const ErrorRecord record = error_record(c.error);
    EXPECT_EQ(record.kind, c.kind);
    EXPECT_EQ(record.message, message(c.error));
  }
}

// Both kinds carry two hex or arch texts side by side; each message names them in its own order.
TEST(PublicErrors, MismatchMessagesNameEachValueInItsPlace) {
  EXPECT_EQ(error_record(PublisherMismatch{.required = "aa", .publisher = "bb"}).message,
            "bundle publisher bb does not match required aa");
  EXPECT_EQ(error_record(ArchMismatch{.arch = "aarch64", .required = "x86_64"}).message,
            "bundle arch \"aarch64\" does not match host arch \"x86_64\"");
  EXPECT_EQ(error_record(VersionMismatch{.version = "1.0", .required = "2.0"}).message,
            "bundle version \"1.0\" does not match required version \"2.0\"");
}

// The path is the one the message shows (a payload entry raw, a given path as displayed), the
// hash mismatch of a file names it although its message does not, and only a real OS error, or
// a kind that says a file is absent, has an errno.
TEST(PublicErrors, PathAndOsCodeAreWhatTheErrorConcerns) {
  const struct {
    const char* name;
    BundleError error;
    std::optional<std::string> path;
    int os_code;
  } cases[] = {
      {"i/o", Io{os_error(EACCES)}, std::nullopt, EACCES},
      {"fixed i/o text", Io{OsError{.fixed = OsError::Fixed::not_utf8}}, std::nullopt, 0},
      {"identity read", IdentityRead{os_error(EISDIR)}, std::nullopt, EISDIR},
      {"manifest missing", ManifestMissing{"/b/\xFF/bundle.toml"}, "/b/\xEF\xBF\xBD/bundle.toml",
       ENOENT},
      {"file hash", HashMismatch{.expected = "a", .computed = "b", .path = "lib/libc.so.6"},
       "lib/libc.so.6", 0},
      {"root hash", HashMismatch{.expected = "a", .computed = "b", .path = ""}, std::nullopt, 0},
      {"missing entry", MissingFromPayload{"lib/x.so"}, "lib/x.so", ENOENT},
      {"unlisted entry", UnlistedPayloadFile{"lib/y.so"}, "lib/y.so", 0},
      {"include missing", IncludeMissing{"/opt/z.so"}, "/opt/z.so", ENOENT},
      {"destination", UnsafeDestination{"out/lib/a.so"}, "out/lib/a.so", 0},
      {"no file", VersionMismatch{.version = "1", .required = "2"}, std::nullopt, 0},
      {"version tag", InvalidVersionTag{"../x"}, std::nullopt, 0},
      {"unsafe bundle", UnsafeBundle{"/b/lib/libc.so.6", "is writable by every user"},
       "/b/lib/libc.so.6", 0},
      {"not installed", NotInstalled{"1.0", {"/home/u/rt/1.0", "/usr/lib/sarn-runtime/1.0"}},
       "/home/u/rt/1.0", ENOENT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ErrorRecord record = error_record(c.error);
    EXPECT_EQ(record.path, c.path);
    EXPECT_EQ(record.os_code, c.os_code);
    EXPECT_EQ(record.message, message(c.error)) << "the message stays the tool's";
  }
}

// The handles owned as the C++ wrappers own them.
using ErrorHandle = api::detail::Owned<srb_error>;
using ManifestHandle = api::detail::Owned<srb_manifest>;
using VerifyRequestHandle = api::detail::Owned<srb_verify_request>;
using BuildRequestHandle = api::detail::Owned<srb_build_request>;
using TextHandle = api::detail::Owned<char>;

VerifyRequestHandle verify_request(std::string_view dir) {
  return VerifyRequestHandle(srb_verify_request_new(dir.data(), dir.size()));
}

struct Verified {
  ManifestHandle manifest;
  ErrorHandle error;
};

Verified c_verify(const srb_verify_request* request) {
  srb_error* error = reinterpret_cast<srb_error*>(0x1);  // must be overwritten either way
  srb_manifest* manifest = srb_verify(request, &error);
  return {ManifestHandle(manifest), ErrorHandle(error)};
}

std::string message_of(const srb_error* error) {
  size_t length = 0;
  const char* text = srb_error_message(error, &length);
  return std::string(text, length);
}

std::optional<std::string> path_of(const srb_error* error) {
  size_t length = 0;
  const char* text = srb_error_path(error, &length);
  if (text == nullptr) return std::nullopt;
  return std::string(text, length);
}

TEST(CInterface, VersionIsTheHeadersAndTheProjects) {
  const std::string expected = std::to_string(SARN_RUNTIME_BUNDLE_VERSION_MAJOR) + "." +
                               std::to_string(SARN_RUNTIME_BUNDLE_VERSION_MINOR) + "." +
                               std::to_string(SARN_RUNTIME_BUNDLE_VERSION_PATCH);
  EXPECT_EQ(srb_version(), expected);
  EXPECT_STREQ(api::library_version(), srb_version());
}

TEST(CInterface, VerifyHandsBackTheManifestField_ByField) {
  TempDir dir;
  const SigningKey key = test_key();
  const BundleManifest written = make_bundle(
      dir.path(), {.files = {{"lib/libc.so.6", "c"}, {"etc/ld.so.cache", "cache"}}, .key = &key});
  const VerifyRequestHandle request = verify_request(dir.path().native());
  const std::string& publisher = *written.publisher_hex;
  ASSERT_EQ(srb_verify_request_require_publisher(request.get(), publisher.data(), publisher.size()),
            0);
  srb_verify_request_require_signature(request.get(), 1);
  const Verified verified = c_verify(request.get());
  ASSERT_TRUE(verified.manifest) << message_of(verified.error.get());
  EXPECT_EQ(verified.error, nullptr);

  const srb_manifest* m = verified.manifest.get();
  size_t length = 0;
  EXPECT_STREQ(srb_manifest_version(m, &length), written.version.c_str());
  EXPECT_EQ(length, written.version.size());
  EXPECT_STREQ(srb_manifest_arch(m, nullptr), written.arch.c_str());
  EXPECT_STREQ(srb_manifest_root_hash(m, nullptr), written.root_hash.c_str());
  EXPECT_EQ(srb_manifest_produced_at(m), written.produced_at);
  EXPECT_STREQ(srb_manifest_publisher_hex(m, nullptr), written.publisher_hex->c_str());
  EXPECT_STREQ(srb_manifest_signature_hex(m, nullptr), written.signature_hex->c_str());
  ASSERT_EQ(srb_manifest_file_count(m), written.files.size());
  for (std::size_t i = 0; i < written.files.size(); ++i) {
    EXPECT_STREQ(srb_manifest_file_path(m, i, nullptr), written.files[i].path.c_str());
    EXPECT_STREQ(srb_manifest_file_hash(m, i, nullptr), written.files[i].hash.c_str());
    EXPECT_EQ(srb_manifest_file_size(m, i), written.files[i].size);
  }
  // Past the end is an answer, not a read out of bounds.
  length = 99;
  EXPECT_EQ(srb_manifest_file_path(m, written.files.size(), &length), nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(srb_manifest_file_hash(m, written.files.size(), nullptr), nullptr);
  EXPECT_EQ(srb_manifest_file_size(m, written.files.size()), 0u);
}

// Each requirement fails with its kind; the version is compared after the arch and before any
// payload file is read, so a bundle copied under another tag is refused however it was changed.
TEST(CInterface, EachRequirementFailsWithItsKindAndTheToolsMessage) {
  TempDir dir;
  make_bundle(dir.path(), {.version = "1.0", .arch = "aarch64", .files = {{"lib/libc.so.6", "c"}}});
  using Setter = int (*)(srb_verify_request*, const char*, size_t);
  struct Case {
    const char* name;
    std::vector<std::pair<Setter, std::string>> texts;
    bool signature;
    srb_error_kind kind;
    std::string message;
  };
  const auto fails_as = [&](const Case& c) {
    SCOPED_TRACE(c.name);
    const VerifyRequestHandle request = verify_request(dir.path().native());
    for (const auto& [require, text] : c.texts)
      ASSERT_EQ(require(request.get(), text.data(), text.size()), 0);
    srb_verify_request_require_signature(request.get(), c.signature);
    const Verified verified = c_verify(request.get());
    EXPECT_EQ(verified.manifest, nullptr);
    ASSERT_NE(verified.error, nullptr);
    EXPECT_EQ(srb_error_get_kind(verified.error.get()), c.kind);
    if (!c.message.empty()) {
      EXPECT_EQ(message_of(verified.error.get()), c.message);
    }
  };
  const Case intact[] = {
      {"signature", {}, true, SRB_ERROR_SIGNATURE_REQUIRED, message(SignatureRequired{})},
      {"publisher",
       {{srb_verify_request_require_publisher, std::string(64, 'a')}},
       false,
       SRB_ERROR_SIGNATURE_REQUIRED,
       message(SignatureRequired{})},
      {"arch before version",
       {{srb_verify_request_require_version, "2.0"}, {srb_verify_request_require_arch, "x86_64"}},
       false,
       SRB_ERROR_ARCH_MISMATCH,
       "bundle arch \"aarch64\" does not match host arch \"x86_64\""},
      {"version byte for byte",
       {{srb_verify_request_require_version, std::string("1.0\0", 4)}},
       false,
       SRB_ERROR_VERSION_MISMATCH,
       "bundle version \"1.0\" does not match required version \"1.0\\0\""},
  };
  for (const Case& c : intact)
    fails_as(c);
  // Without requirements the unsigned bundle is fine.
  EXPECT_NE(c_verify(verify_request(dir.path().native()).get()).manifest, nullptr);

  // The version is compared before any payload file is read.
  write_file(dir / "lib/libc.so.6", "tampered");
  const Case tampered[] = {
      {"version before the payload",
       {{srb_verify_request_require_arch, "aarch64"}, {srb_verify_request_require_version, "2.0"}},
       false,
       SRB_ERROR_VERSION_MISMATCH,
       "bundle version \"1.0\" does not match required version \"2.0\""},
      {"version met, then the payload",
       {{srb_verify_request_require_version, "1.0"}},
       false,
       SRB_ERROR_HASH_MISMATCH,
       ""},
  };
  for (const Case& c : tampered)
    fails_as(c);
}

// What a launcher needs to tell failures apart: which file, and the OS's word for it.
TEST(CInterface, ErrorsNameTheTamperedOrMissingFileAndItsErrno) {
  TempDir dir;
  const BundleManifest written =
      make_bundle(dir.path(), {.files = {{"etc/ld.so.cache", "cache"}, {"lib/libc.so.6", "c"}}});
  const VerifyRequestHandle request = verify_request(dir.path().native());

  write_file(dir / "lib/libc.so.6", "tampered");
  Verified verified = c_verify(request.get());
  ASSERT_NE(verified.error, nullptr);
  EXPECT_EQ(srb_error_get_kind(verified.error.get()), SRB_ERROR_HASH_MISMATCH);
  EXPECT_EQ(path_of(verified.error.get()), "lib/libc.so.6");
  EXPECT_EQ(srb_error_os_code(verified.error.get()), 0);
  EXPECT_EQ(message_of(verified.error.get()), "hash mismatch: expected " + written.files[1].hash +
                                                  " in bundle.toml, computed " +
                                                  digest_of(dir / "lib/libc.so.6"))
      << "the message stays the tool's, without the path";

  std::filesystem::remove(dir / "lib/libc.so.6");
  verified = c_verify(request.get());
  ASSERT_NE(verified.error, nullptr);
  EXPECT_EQ(srb_error_get_kind(verified.error.get()), SRB_ERROR_MISSING_FROM_PAYLOAD);
  EXPECT_EQ(path_of(verified.error.get()), "lib/libc.so.6");
  EXPECT_EQ(srb_error_os_code(verified.error.get()), ENOENT);

  std::filesystem::remove(dir / "bundle.toml");
  verified = c_verify(request.get());
  ASSERT_NE(verified.error, nullptr);
  EXPECT_EQ(srb_error_get_kind(verified.error.get()), SRB_ERROR_MANIFEST_MISSING);
  EXPECT_EQ(path_of(verified.error.get()), (dir / "bundle.toml").string());
  EXPECT_EQ(srb_error_os_code(verified.error.get()), ENOENT);

  // An error with nothing of the kind says so.
  const VerifyRequestHandle arch = verify_request(dir.path().native());
  make_bundle(dir.path(), {.files = {{"lib/libc.so.6", "c"}}});
  ASSERT_EQ(srb_verify_request_require_arch(arch.get(), "riscv64", 7), 0);
  verified = c_verify(arch.get());
  ASSERT_NE(verified.error, nullptr);
  size_t length = 99;
  EXPECT_EQ(srb_error_path(verified.error.get(), &length), nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(srb_error_os_code(verified.error.get()), 0);
}

TEST(CInterface, ErrorSlotMayBeNull) {
  TempDir dir;
  const VerifyRequestHandle request = verify_request((dir / "absent").native());
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

// A launcher verifies a bundle someone else may have prepared. Links that lead out of it count
// as nothing there, through both interfaces: the secret beside the bundle is neither quoted in a
// parse error nor digested. An empty directory is refused as the command line refuses it, not
// taken as the working directory.
TEST(CInterface, VerifyReadsNothingOutsideTheBundleAndRefusesAnEmptyPath) {
  const TempDir temp;
  write_file(temp / "secret", "root:secret line\n");
  make_bundle(temp / "listed", {.files = {{"lib/a", "a"}}});
  std::filesystem::rename(temp / "listed/lib", temp / "elsewhere");
  write_file(temp / "elsewhere/a", read_file(temp / "secret"));
  std::filesystem::create_symlink(temp / "elsewhere", temp / "listed/lib");
  make_bundle(temp / "linked_manifest", {});
  std::filesystem::remove(temp / "linked_manifest/bundle.toml");
  std::filesystem::create_symlink(temp / "secret", temp / "linked_manifest/bundle.toml");

  const struct {
    std::string dir;
    srb_error_kind kind;
    std::string message;
  } cases[] = {
      {(temp / "listed").string(), SRB_ERROR_MISSING_FROM_PAYLOAD,
       "file listed in bundle.toml is missing from the payload: lib/a"},
      {(temp / "linked_manifest").string(), SRB_ERROR_MANIFEST_MISSING,
       "bundle.toml not found at " + (temp / "linked_manifest/bundle.toml").string()},
      {"", SRB_ERROR_IO, message(Io{os_error(EINVAL)})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dir);
    const VerifyRequestHandle request = verify_request(c.dir);
    const Verified verified = c_verify(request.get());
    ASSERT_EQ(verified.manifest, nullptr);
    EXPECT_EQ(srb_error_get_kind(verified.error.get()), c.kind);
    EXPECT_EQ(message_of(verified.error.get()), c.message);

    api::VerifyRequest cpp_request;
    cpp_request.bundle_dir = c.dir;
    const api::Result<api::BundleManifest> cpp = api::verify_bundle(cpp_request);
    ASSERT_FALSE(cpp.has_value());
    EXPECT_EQ(static_cast<int>(cpp.error().kind), static_cast<int>(c.kind));
    EXPECT_EQ(api::message(cpp.error()), c.message);
  }
}

// A launcher in another language can pass a null by mistake, or a path with a NUL byte that the
// kernel would cut short at another file; each entry point refuses it.
TEST(CInterface, NullsAndPathsHoldingNulAreRefusedNotFollowed) {
  const std::string invalid = message(Io{os_error(EINVAL)});
  const auto refuses = [&](const char* name, auto call) {
    SCOPED_TRACE(name);
    srb_error* error = nullptr;
    EXPECT_EQ(call(&error), nullptr);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(srb_error_get_kind(error), SRB_ERROR_IO);
    EXPECT_EQ(message_of(error), invalid);
    EXPECT_EQ(srb_error_os_code(error), EINVAL);
    srb_error_free(error);
  };
  TempDir dir;
  make_bundle(dir.path(), {.files = {{"lib/libc.so.6", "c"}}});
  const std::string with_nul = dir.path().native() + std::string("\0/elsewhere", 11);
  const VerifyRequestHandle nul_dir = verify_request(with_nul);
  ASSERT_NE(nul_dir, nullptr);

  refuses("verify null", [](srb_error** e) { return srb_verify(nullptr, e); });
  refuses("verify nul", [&](srb_error** e) { return srb_verify(nul_dir.get(), e); });
  refuses("load nul",
          [&](srb_error** e) { return srb_manifest_load(with_nul.data(), with_nul.size(), e); });
  refuses("build null", [](srb_error** e) { return srb_build(nullptr, e); });
  refuses("resolve null", [](srb_error** e) {
    return srb_resolve_bundle_path(nullptr, 1, 1, nullptr, nullptr, e);
  });
  refuses("parse null", [](srb_error** e) { return srb_manifest_parse(nullptr, 3, e); });
  refuses("render null", [](srb_error** e) { return srb_manifest_render(nullptr, nullptr, e); });
  refuses("pubkey nul", [](srb_error** e) { return srb_identity_public_key("a\0b", 3, e); });

  EXPECT_EQ(srb_verify_request_new(nullptr, 1), nullptr);
  EXPECT_EQ(srb_build_request_new("1", 1, nullptr, 1), nullptr);
  EXPECT_EQ(srb_build_request_new(nullptr, 1, "/tmp/b", 6), nullptr);
  EXPECT_EQ(srb_verify_request_require_arch(nullptr, "x86_64", 6), -1);
  srb_verify_request_require_signature(nullptr, 1);
  EXPECT_EQ(srb_verify_request_require_arch(nul_dir.get(), nullptr, 6), -1);
  EXPECT_EQ(srb_verify_request_require_version(nul_dir.get(), nullptr, 1), -1);
  EXPECT_EQ(srb_build_request_add_include(nullptr, "/x.so", 5), -1);
  EXPECT_EQ(srb_manifest_add_file(nullptr, "a", 1, "b", 1, 0), -1);

  EXPECT_EQ(srb_manifest_version(nullptr, nullptr), nullptr);
  EXPECT_EQ(srb_manifest_file_count(nullptr), 0u);
  EXPECT_EQ(srb_manifest_file_path(nullptr, 0, nullptr), nullptr);
  EXPECT_STREQ(srb_error_message(nullptr, nullptr), "");
  EXPECT_EQ(srb_error_path(nullptr, nullptr), nullptr);
  EXPECT_EQ(srb_error_os_code(nullptr), 0);
}

TEST(CInterface, BuildsABundleThatVerifies) {
  TempDir dir;
  make_host_root(dir / "root", {"/lib64/ld-linux-x86-64.so.2", "/etc/ld.so.cache"});
  write_file(dir / "extra.so", "extra");
  const std::string out = (dir / "bundle").string();
  const std::string root = (dir / "root").string();
  const std::string extra = (dir / "extra.so").string();
  const BuildRequestHandle request(srb_build_request_new("3.1", 3, out.data(), out.size()));
  ASSERT_NE(request, nullptr);
  ASSERT_EQ(srb_build_request_set_from(request.get(), root.data(), root.size()), 0);
  ASSERT_EQ(srb_build_request_set_arch(request.get(), "x86_64", 6), 0);
  ASSERT_EQ(srb_build_request_add_include(request.get(), extra.data(), extra.size()), 0);
  srb_error* error = nullptr;
  const ManifestHandle built(srb_build(request.get(), &error));
  ASSERT_TRUE(built) << message_of(error);

  const Result<BundleManifest> on_disk = load_manifest(dir / "bundle");
  ASSERT_TRUE(on_disk);
  EXPECT_STREQ(srb_manifest_root_hash(built.get(), nullptr), on_disk->root_hash.c_str());
  EXPECT_EQ(srb_manifest_file_count(built.get()), 3u);
  EXPECT_EQ(srb_manifest_publisher_hex(built.get(), nullptr), nullptr);
  EXPECT_NE(c_verify(verify_request(out).get()).manifest, nullptr);

  const std::string other = (dir / "other").string();
  const BuildRequestHandle unsupported(srb_build_request_new("3.1", 3, other.data(), other.size()));
  ASSERT_EQ(srb_build_request_set_arch(unsupported.get(), "riscv64", 7), 0);
  EXPECT_EQ(srb_build(unsupported.get(), &error), nullptr);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(srb_error_get_kind(error), SRB_ERROR_UNSUPPORTED_ARCH);
  srb_error_free(error);
}

// Sets an environment variable for one test and puts back what was there.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// "Not installed" and "installed but its manifest is gone" resolve to the same kind of path;
// the flag tells them apart. The system location is resolved without looking, but the flag
// still says whether it holds a bundle.
TEST(CInterface, ResolvingSaysWhetherTheVersionIsInstalled) {
  TempDir dir;
  const ScopedEnv root("SARN_RUNTIME_BUNDLE_DIR", dir.path().string());
  make_bundle(dir / "1.0", {.files = {{"lib/libc.so.6", "c"}}});
  const struct {
    std::string version;
    int system_only;
    std::string path;
    int installed;
  } cases[] = {
      {"1.0", 0, (dir / "1.0").string(), 1},
      {"2.0", 0, (dir / "2.0").string(), 0},
      {"2.0", 1, "/usr/lib/sarn-runtime/2.0", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    srb_error* error = reinterpret_cast<srb_error*>(0x1);
    int installed = -1;
    size_t length = 0;
    const TextHandle path(srb_resolve_bundle_path(c.version.data(), c.version.size(), c.system_only,
                                                  &installed, &length, &error));
    ASSERT_NE(path, nullptr) << message_of(error);
    EXPECT_EQ(error, nullptr);
    EXPECT_EQ(std::string(path.get(), length), c.path);
    EXPECT_EQ(installed, c.installed);

    const api::SystemOnly system = c.system_only ? api::SystemOnly::yes : api::SystemOnly::no;
    const api::Result<api::ResolvedBundle> resolved = api::resolve_bundle(c.version, system);
    ASSERT_TRUE(resolved);
    EXPECT_EQ(resolved->path, c.path);
    EXPECT_EQ(resolved->installed, c.installed == 1);
  }
}

api::VerifyRequest cpp_request(const std::filesystem::path& dir) {
  api::VerifyRequest request;
  request.bundle_dir = dir;
  return request;
}

// A launcher takes the tag from an application's metadata; whatever the tag, the answer stays a
// directory right below a root. Plain names that merely look odd are still tags.
TEST(Interfaces, ResolveRefusesATagThatIsNotOneFileName) {
  const std::string refused[] = {
      "", ".", "..", "a/b", "/tmp/x", "../../..", "a/", "/", std::string("1.0\0x", 5)};
  for (const std::string& tag : refused) {
    SCOPED_TRACE(testing::PrintToString(tag));
    const std::string expected = message(InvalidVersionTag{tag});
    for (const api::SystemOnly system : {api::SystemOnly::yes, api::SystemOnly::no}) {
      const api::Result<std::string> path = api::resolve_bundle_path(tag, system);
      ASSERT_FALSE(path) << *path;
      EXPECT_EQ(path.error().kind, api::ErrorKind::InvalidVersionTag);
      EXPECT_EQ(path.error().message, expected);
    }
    for (const int system_only : {1, 0}) {
      srb_error* error = nullptr;
      char* path =
          srb_resolve_bundle_path(tag.data(), tag.size(), system_only, nullptr, nullptr, &error);
      EXPECT_EQ(path, nullptr) << path;
      srb_string_free(path);
      ASSERT_NE(error, nullptr);
      EXPECT_EQ(srb_error_get_kind(error), SRB_ERROR_INVALID_VERSION_TAG);
      EXPECT_EQ(srb_error_message(error, nullptr), expected);
      srb_error_free(error);
    }
  }
  for (const std::string tag : {"...", "..1", ".hidden", "1.0 beta", "a\\b"}) {
    const api::Result<std::string> path = api::resolve_bundle_path(tag, api::SystemOnly::yes);
    ASSERT_TRUE(path) << tag;
    EXPECT_EQ(*path, "/usr/lib/sarn-runtime/" + tag);
  }
}

TEST(CppInterface, RecordsRoundTripThroughTheToolsOwn) {
  TempDir dir;
  const SigningKey key = test_key();
  const BundleManifest written =
      make_bundle(dir.path(), {.files = {{"lib/a.so", "a"}, {"lib/b.so", "bb"}}, .key = &key});
  api::VerifyRequest request = cpp_request(dir.path());
  request.require_signature = api::RequireSignature::yes;
  const api::Result<api::BundleManifest> verified = api::verify_bundle(request);
  ASSERT_TRUE(verified) << api::message(verified.error());
  EXPECT_EQ(api::compute_root_hash(verified->files), written.root_hash);

  const api::Result<std::string> text = api::render_manifest(*verified);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, *render_manifest(written));
  const api::Result<api::BundleManifest> parsed = api::parse_manifest(*text);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(*parsed, *verified);
  const api::Result<api::BundleManifest> loaded = api::load_manifest(dir.path());
  ASSERT_TRUE(loaded);
  EXPECT_EQ(*loaded, *verified);

  const api::Result<api::BundleManifest> broken = api::parse_manifest("version = ");
  ASSERT_FALSE(broken);
  EXPECT_EQ(broken.error().kind, api::ErrorKind::ManifestParse);
}

// TOML can write a NUL (\u0000) into any text; through the C interface it arrives whole, as
// pointer and length, so the C++ record and its rendering keep every byte.
TEST(CppInterface, TextsHoldingNulCrossTheCInterfaceWhole) {
  BundleManifest manifest;
  manifest.version = std::string("1.0\0beta", 8);
  manifest.arch = "x86_64";
  manifest.files = {{.path = std::string("lib/a\0b", 7), .hash = std::string(64, 'a'), .size = 1}};
  manifest.root_hash = compute_root_hash(manifest.files);
  const Result<std::string> text = render_manifest(manifest);
  ASSERT_TRUE(text);

  const api::Result<api::BundleManifest> parsed = api::parse_manifest(*text);
  ASSERT_TRUE(parsed) << api::message(parsed.error());
  EXPECT_EQ(parsed->version, manifest.version);
  ASSERT_EQ(parsed->files.size(), 1u);
  EXPECT_EQ(parsed->files[0].path, manifest.files[0].path);
  EXPECT_EQ(api::compute_root_hash(parsed->files), manifest.root_hash);
  const api::Result<std::string> rendered = api::render_manifest(*parsed);
  ASSERT_TRUE(rendered);
  EXPECT_EQ(*rendered, *text);
}

TEST(CppInterface, VersionRequirementAndStructuredErrors) {
  TempDir dir;
  make_bundle(dir.path(), {.version = "1.0", .files = {{"lib/libc.so.6", "c"}}});
  api::VerifyRequest request = cpp_request(dir.path());
  request.require_version = "1.0";
  EXPECT_TRUE(api::verify_bundle(request));

  request.require_version = "2.0";
  const api::Result<api::BundleManifest> other = api::verify_bundle(request);
  ASSERT_FALSE(other);
  EXPECT_EQ(other.error().kind, api::ErrorKind::VersionMismatch);
  EXPECT_EQ(other.error().message,
            "bundle version \"1.0\" does not match required version \"2.0\"");
  EXPECT_EQ(other.error().path, std::nullopt);

  write_file(dir / "lib/libc.so.6", "tampered");
  request.require_version = "1.0";
  const api::Result<api::BundleManifest> tampered = api::verify_bundle(request);
  ASSERT_FALSE(tampered);
  EXPECT_EQ(tampered.error().kind, api::ErrorKind::HashMismatch);
  EXPECT_EQ(tampered.error().path, "lib/libc.so.6");
  EXPECT_EQ(tampered.error().os_code, 0);

  request.bundle_dir = dir / "absent";
  const api::Result<api::BundleManifest> missing = api::verify_bundle(request);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().kind, api::ErrorKind::ManifestMissing);
  EXPECT_EQ(missing.error().path, (dir / "absent/bundle.toml").string());
  EXPECT_EQ(missing.error().os_code, ENOENT);
}

using LaunchPlanHandle = api::detail::Owned<srb_launch_plan>;
using ArgvHandle = api::detail::Owned<char*>;

std::vector<std::string> strings_of(char** argv) {
  std::vector<std::string> strings;
  for (char** arg = argv; arg != nullptr && *arg != nullptr; ++arg)
    strings.emplace_back(*arg);
  return strings;
}

// The one call a launcher makes, in C and in C++: resolve the tag, verify with the publisher and
// the version bound to the tag, and plan; then the command line.
TEST(Interfaces, LaunchPlanForAVersion) {
  TempDir dir;
  const ScopedEnv root("SARN_RUNTIME_BUNDLE_DIR", dir.path().string());
  const SigningKey key = test_key();
  const std::string loader = elf_image(ELFCLASS64, ELFDATA2LSB, EM_X86_64);
  make_bundle(dir / "1.0",
              {.version = "1.0",
               .arch = "x86_64",
               .files = {{"lib/lib64/ld-linux-x86-64.so.2", loader}, {"lib/lib64/libc.so.6", "c"}},
               .key = &key});
  std::filesystem::copy(dir / "1.0", dir / "2.0", std::filesystem::copy_options::recursive);
  const std::string publisher = encode_hex(key.public_key());
  const VerifyRequestHandle requirements = verify_request(std::string_view());
  ASSERT_EQ(
      srb_verify_request_require_publisher(requirements.get(), publisher.data(), publisher.size()),
      0);

  srb_error* error = reinterpret_cast<srb_error*>(0x1);
  const LaunchPlanHandle plan(srb_launch_plan_for_version("1.0", 3, 0, requirements.get(), &error));
  ASSERT_NE(plan, nullptr) << message_of(error);
  EXPECT_EQ(error, nullptr);
  const std::string bundle = (dir / "1.0").string();
  EXPECT_EQ(std::string(srb_launch_plan_loader(plan.get(), nullptr)),
            bundle + "/lib/lib64/ld-linux-x86-64.so.2");
  ASSERT_EQ(srb_launch_plan_library_dir_count(plan.get()), 2u);
  EXPECT_EQ(std::string(srb_launch_plan_library_dir(plan.get(), 0, nullptr)),
            bundle + "/lib/lib64");
  EXPECT_EQ(std::string(srb_launch_plan_library_dir(plan.get(), 1, nullptr)), bundle + "/lib");
  EXPECT_EQ(srb_launch_plan_library_dir(plan.get(), 2, nullptr), nullptr);
  EXPECT_EQ(std::string(srb_manifest_publisher_hex(srb_launch_plan_manifest(plan.get()), nullptr)),
            publisher);

  const char* const args[] = {"-n", "x"};
  const ArgvHandle argv(srb_launch_plan_argv(plan.get(), "/bin/echo", args, 2, &error));
  ASSERT_NE(argv, nullptr) << message_of(error);
  EXPECT_EQ(
      strings_of(argv.get()),
      (std::vector<std::string>{bundle + "/lib/lib64/ld-linux-x86-64.so.2", "--library-path",
                                bundle + "/lib/lib64:" + bundle + "/lib", "/bin/echo", "-n", "x"}));

  api::VerifyRequest cpp_requirements;
  cpp_requirements.require_publisher = publisher;
  const api::Result<api::LaunchPlan> cpp_plan =
      api::launch_plan_for_version("1.0", api::SystemOnly::no, cpp_requirements);
  ASSERT_TRUE(cpp_plan) << cpp_plan.error().message;
  EXPECT_EQ(cpp_plan->loader, bundle + "/lib/lib64/ld-linux-x86-64.so.2");
  EXPECT_EQ(cpp_plan->manifest.version, "1.0");
  const api::Result<std::vector<std::string>> cpp_argv =
      api::launch_argv(*cpp_plan, "/bin/echo", {"-n", "x"});
  ASSERT_TRUE(cpp_argv);
  EXPECT_EQ(*cpp_argv, strings_of(argv.get()));

  // 2.0 holds 1.0's bundle; 3.0 is not installed; and a publisher who did not sign.
  const std::string other = encode_hex(test_key(0x07).public_key());
  const struct {
    std::string version;
    std::string publisher;
    srb_error_kind kind;
  } failures[] = {{"2.0", publisher, SRB_ERROR_VERSION_MISMATCH},
                  {"3.0", publisher, SRB_ERROR_MANIFEST_MISSING},
                  {"1.0", other, SRB_ERROR_PUBLISHER_MISMATCH}};
  for (const auto& c : failures) {
    SCOPED_TRACE(c.version);
    ASSERT_EQ(srb_verify_request_require_publisher(requirements.get(), c.publisher.data(),
                                                   c.publisher.size()),
              0);
    srb_error* failure = nullptr;
    const LaunchPlanHandle refused(srb_launch_plan_for_version(c.version.data(), c.version.size(),
                                                               0, requirements.get(), &failure));
    const ErrorHandle owned(failure);
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(srb_error_get_kind(failure), c.kind);

    cpp_requirements.require_publisher = c.publisher;
    const api::Result<api::LaunchPlan> cpp_refused =
        api::launch_plan_for_version(c.version, api::SystemOnly::no, cpp_requirements);
    ASSERT_FALSE(cpp_refused);
    EXPECT_EQ(static_cast<int>(cpp_refused.error().kind), static_cast<int>(c.kind));
  }
}

// Null plans, programs and arguments are refused, not followed.
TEST(CInterface, LaunchArgvRefusesNulls) {
  const char* const dirs[] = {"/b/lib", nullptr};
  const char* const args[] = {nullptr};
  const struct {
    const char* loader;
    const char* const* dirs;
    size_t dir_count;
    const char* program;
    const char* const* args;
    size_t arg_count;
  } cases[] = {
      {nullptr, dirs, 1, "/bin/true", nullptr, 0},
      {"/b/ld.so", dirs, 2, "/bin/true", nullptr, 0},
      {"/b/ld.so", nullptr, 1, "/bin/true", nullptr, 0},
      {"/b/ld.so", dirs, 1, nullptr, nullptr, 0},
      {"/b/ld.so", dirs, 1, "/bin/true", args, 1},
      {"/b/ld.so", dirs, 1, "/bin/true", nullptr, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    srb_error* error = nullptr;
    const ArgvHandle argv(
        srb_launch_argv(c.loader, c.dirs, c.dir_count, c.program, c.args, c.arg_count, &error));
    const ErrorHandle owned(error);
    EXPECT_EQ(argv, nullptr);
    EXPECT_EQ(srb_error_os_code(error), EINVAL);
  }
  srb_error* error = nullptr;
  const ArgvHandle argv(srb_launch_plan_argv(nullptr, "/bin/true", nullptr, 0, &error));
  const ErrorHandle owned(error);
  EXPECT_EQ(argv, nullptr);
  EXPECT_EQ(srb_error_os_code(error), EINVAL);
}

// One call's outcome as text: "ok", or the error's kind, message, file and OS error number.
std::string outcome_of(const srb_error* error) {
  if (error == nullptr) return "ok";
  return std::to_string(srb_error_get_kind(error)) + " " + message_of(error) + " [" +
         path_of(error).value_or("-") + "] " + std::to_string(srb_error_os_code(error));
}
template <typename T>
std::string outcome_of(const api::Result<T>& result) {
  if (result) return "ok";
  const api::Error& error = result.error();
  return std::to_string(static_cast<int>(error.kind)) + " " + error.message + " [" +
         error.path.value_or("-") + "] " + std::to_string(error.os_code);
}

// The outcome of a C call that returns a `Handle *` (freed here) and stores an error.
template <typename Handle, typename Call>
std::string c_outcome(Call call) {
  srb_error* error = nullptr;
  const api::detail::Owned<Handle> value(call(&error));
  const ErrorHandle owned(error);
  return outcome_of(error);
}

// Every C++ wrapper that takes a text, given one holding NUL, fails exactly as the C function
// does: where the C function takes pointer and length, with the C function's own error; where it
// takes a NUL-terminated text (the launch command line), with the error the C interface gives a
// path holding NUL, never with the text cut short at the NUL ("/bin/true\0-x" is not
// "/bin/true").
TEST(Interfaces, TextsHoldingNulFailAlikeInCAndCpp) {
  TempDir dir;
  const SigningKey key = test_key();
  make_bundle(dir / "user/1.0", {.version = "1.0", .files = {{"lib/libc.so.6", "c"}}, .key = &key});
  std::filesystem::create_directory(dir / "system");
  const std::string user_root = (dir / "user").string();
  const std::string system_root = (dir / "system").string();
  const std::string bundle = (dir / "user/1.0").string();
  const std::string nul_path = bundle + std::string("\0/elsewhere", 11);
  const std::string nul_tag("1.0\0x", 5);
  const std::string nul_text("a\0b", 3);

  using Setter = int (*)(srb_verify_request*, const char*, size_t);
  const auto c_verify_with = [](std::string_view bundle_dir, Setter set, std::string_view value) {
    return c_outcome<srb_manifest>([&](srb_error** error) {
      const VerifyRequestHandle request = verify_request(bundle_dir);
      if (set != nullptr) set(request.get(), value.data(), value.size());
      return srb_verify(request.get(), error);
    });
  };
  const auto cpp_verify_with = [&](std::optional<std::string> api::VerifyRequest::*field) {
    api::VerifyRequest request = cpp_request(bundle);
    request.*field = nul_text;
    return outcome_of(api::verify_bundle(request));
  };
  using BuildSetter = int (*)(srb_build_request*, const char*, size_t);
  const auto c_build_with = [&](std::string_view out, BuildSetter set, std::string_view value) {
    return c_outcome<srb_manifest>([&](srb_error** error) {
      const BuildRequestHandle request(srb_build_request_new("1.0", 3, out.data(), out.size()));
      if (set != nullptr) set(request.get(), value.data(), value.size());
      return srb_build(request.get(), error);
    });
  };
  const std::string out = (dir / "built").string();
  const auto cpp_build = [&](auto edit) {
    api::BuildRequest request;
    request.version = "1.0";
    request.out = out;
    edit(request);
    return outcome_of(api::build_bundle(request));
  };
  using LaunchSetter = int (*)(srb_launch_request*, const char*, size_t);
  const auto c_plan_with = [&](std::string_view version, LaunchSetter set, std::string_view value) {
    return c_outcome<srb_launch_plan>([&](srb_error** error) {
      const api::detail::Owned<srb_launch_request> request(
          srb_launch_request_new(version.data(), version.size()));
      srb_launch_request_set_user_root(request.get(), user_root.data(), user_root.size());
      srb_launch_request_set_system_root(request.get(), system_root.data(), system_root.size());
      if (set != nullptr) set(request.get(), value.data(), value.size());
      return srb_plan_launch(request.get(), error);
    });
  };
  const auto cpp_plan_with = [&](const std::string& version, auto edit) {
    api::LaunchRequest request;
    request.version = version;
    request.roots = {user_root, system_root};
    edit(request);
    return outcome_of(api::plan_launch(request));
  };
  const auto c_list = [](const std::string& user, const std::string& system) {
    return c_outcome<srb_installed>([&](srb_error** error) {
      return srb_list_installed(user.data(), user.size(), system.data(), system.size(), error);
    });
  };
  api::LaunchPlan plan;
  plan.loader = "/b/lib64/ld-linux-x86-64.so.2";
  plan.library_dirs = {"/b/lib64", "/b/lib"};
  const auto cpp_argv = [](api::LaunchPlan with, const std::string& program,
                           const std::vector<std::string>& args) {
    return outcome_of(api::launch_argv(with, program, args));
  };
  const auto cpp_command = [](api::LaunchPlan with, const std::string& program,
                              const std::vector<std::string>& args,
                              const std::optional<std::string>& argv0) {
    return outcome_of(api::launch_command(with, program, args, argv0));
  };
  api::LaunchPlan nul_loader = plan;
  nul_loader.loader += std::string("\0x", 2);
  api::LaunchPlan nul_dir = plan;
  nul_dir.library_dirs[1] = std::string("/b/lib\0:/tmp", 12);
  const std::string nul_program("/bin/true\0-x", 12);
  // What the C interface gives a path holding NUL.
  const std::string c_nul_path = c_outcome<srb_manifest>([&](srb_error** error) {
    return srb_manifest_load(nul_path.data(), nul_path.size(), error);
  });

  const struct {
    const char* wrapper;
    std::string c;
    std::string cpp;
  } cases[] = {
      {"verify_bundle: bundle_dir", c_verify_with(nul_path, nullptr, {}),
       outcome_of(api::verify_bundle(cpp_request(nul_path)))},
      {"verify_bundle: require_arch",
       c_verify_with(bundle, srb_verify_request_require_arch, nul_text),
       cpp_verify_with(&api::VerifyRequest::require_arch)},
      {"verify_bundle: require_version",
       c_verify_with(bundle, srb_verify_request_require_version, nul_text),
       cpp_verify_with(&api::VerifyRequest::require_version)},
      {"verify_bundle: require_publisher",
       c_verify_with(bundle, srb_verify_request_require_publisher, nul_text),
       cpp_verify_with(&api::VerifyRequest::require_publisher)},
      {"verify_for_launch: bundle_dir", c_outcome<srb_launch_plan>([&](srb_error** error) {
         const VerifyRequestHandle request = verify_request(nul_path);
         return srb_verify_for_launch(request.get(), error);
       }),
       outcome_of(api::verify_for_launch(cpp_request(nul_path)))},
      {"launch_plan_for_version: version", c_outcome<srb_launch_plan>([&](srb_error** error) {
         return srb_launch_plan_for_version(nul_tag.data(), nul_tag.size(), 1, nullptr, error);
       }),
       outcome_of(api::launch_plan_for_version(nul_tag, api::SystemOnly::yes))},
      {"resolve_bundle: version", c_outcome<char>([&](srb_error** error) {
         return srb_resolve_bundle_path(nul_tag.data(), nul_tag.size(), 1, nullptr, nullptr, error);
       }),
       outcome_of(api::resolve_bundle(nul_tag, api::SystemOnly::yes))},
      {"build_bundle: out", c_build_with(nul_path, nullptr, {}),
       cpp_build([&](api::BuildRequest& r) { r.out = nul_path; })},
      {"build_bundle: from", c_build_with(out, srb_build_request_set_from, nul_path),
       cpp_build([&](api::BuildRequest& r) { r.from = nul_path; })},
      {"build_bundle: identity", c_build_with(out, srb_build_request_set_identity, nul_path),
       cpp_build([&](api::BuildRequest& r) { r.identity = nul_path; })},
      {"build_bundle: includes", c_build_with(out, srb_build_request_add_include, nul_path),
       cpp_build([&](api::BuildRequest& r) { r.includes = {nul_path}; })},
      {"generate_identity", c_outcome<char>([&](srb_error** error) {
         return srb_identity_generate(nul_path.data(), nul_path.size(), error);
       }),
       outcome_of(api::generate_identity(nul_path))},
      {"identity_public_key", c_outcome<char>([&](srb_error** error) {
         return srb_identity_public_key(nul_path.data(), nul_path.size(), error);
       }),
       outcome_of(api::identity_public_key(nul_path))},
      {"load_manifest", c_nul_path, outcome_of(api::load_manifest(nul_path))},
      {"parse_manifest", c_outcome<srb_manifest>([&](srb_error** error) {
         return srb_manifest_parse(nul_text.data(), nul_text.size(), error);
       }),
       outcome_of(api::parse_manifest(nul_text))},
      {"plan_launch: version", c_plan_with(nul_tag, nullptr, {}),
       cpp_plan_with(nul_tag, [](api::LaunchRequest&) {})},
      {"plan_launch: roots.user", c_plan_with("1.0", srb_launch_request_set_user_root, nul_path),
       cpp_plan_with("1.0", [&](api::LaunchRequest& r) { r.roots.user = nul_path; })},
      {"plan_launch: roots.system",
       c_plan_with("1.0", srb_launch_request_set_system_root, nul_path),
       cpp_plan_with("1.0", [&](api::LaunchRequest& r) { r.roots.system = nul_path; })},
      {"plan_launch: require_publisher",
       c_plan_with("1.0", srb_launch_request_require_publisher, nul_text),
       cpp_plan_with("1.0", [&](api::LaunchRequest& r) { r.require_publisher = nul_text; })},
      {"plan_launch: arch", c_plan_with("1.0", srb_launch_request_set_arch, nul_text),
       cpp_plan_with("1.0", [&](api::LaunchRequest& r) { r.arch = nul_text; })},
      {"list_installed: roots.user", c_list(nul_path, system_root),
       outcome_of(api::list_installed({nul_path, system_root}))},
      {"list_installed: roots.system", c_list(user_root, nul_path),
       outcome_of(api::list_installed({user_root, nul_path}))},
      {"launch_argv: loader", c_nul_path, cpp_argv(nul_loader, "/bin/true", {})},
      {"launch_argv: library_dirs", c_nul_path, cpp_argv(nul_dir, "/bin/true", {})},
      {"launch_argv: program", c_nul_path, cpp_argv(plan, nul_program, {})},
      {"launch_argv: args", c_nul_path, cpp_argv(plan, "/bin/true", {"-n", nul_text})},
      {"launch_command: loader", c_nul_path, cpp_command(nul_loader, "/bin/true", {}, {})},
      {"launch_command: library_dirs", c_nul_path, cpp_command(nul_dir, "/bin/true", {}, {})},
      {"launch_command: program", c_nul_path, cpp_command(plan, nul_program, {}, {})},
      {"launch_command: args", c_nul_path, cpp_command(plan, "/bin/true", {"-n", nul_text}, {})},
      {"launch_command: argv0", c_nul_path, cpp_command(plan, "/bin/true", {}, nul_text)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.wrapper);
    EXPECT_NE(c.c, "ok");
    EXPECT_EQ(c.cpp, c.c);
  }
  EXPECT_EQ(c_nul_path, "1 " + message(Io{os_error(EINVAL)}) + " [-] " + std::to_string(EINVAL));
  EXPECT_FALSE(std::filesystem::exists(dir / "built"));
  EXPECT_EQ(cpp_argv(plan, "/bin/true", {"-n", "x"}), "ok");
  EXPECT_EQ(cpp_command(plan, "/bin/true", {"-n", "x"}, {}), "ok");
}

TEST(CppInterface, IdentityKeyIsTheOneGenerated) {
  TempDir dir;
  const api::Result<std::string> generated = api::generate_identity(dir / "id.json");
  ASSERT_TRUE(generated) << api::message(generated.error());
  EXPECT_EQ(generated->size(), 64u);
  const api::Result<std::string> read = api::identity_public_key(dir / "id.json");
  ASSERT_TRUE(read);
  EXPECT_EQ(*read, *generated);
  const api::Result<std::string> missing = api::identity_public_key(dir / "absent.json");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().kind, api::ErrorKind::IdentityRead);
  EXPECT_EQ(missing.error().os_code, ENOENT);
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

namespace srb {
namespace {

// An exception that reaches the C layer is reported as what it is: a system error by its own
// number, out of memory as ENOMEM, anything else as an i/o error; never one for another.
TEST(CLayer, AnExceptionBecomesTheErrorItStandsFor) {
  const auto record_of = [](auto thrown) {
    srb_error* error = nullptr;
    char* nothing = c_layer::call(
        &error, [&]() -> c_layer::CallResult<std::string> { throw thrown; },
        [](const std::string& text) { return c_layer::malloc_text(text); });
    EXPECT_EQ(nothing, nullptr);
    const int code = srb_error_os_code(error);
    srb_error_free(error);
    return code;
  };
  EXPECT_EQ(record_of(std::system_error(EACCES, std::generic_category())), EACCES);
  EXPECT_EQ(record_of(std::filesystem::filesystem_error(
                "getcwd", std::error_code(ENOENT, std::generic_category()))),
            ENOENT);
  EXPECT_EQ(record_of(std::bad_alloc()), ENOMEM);
  EXPECT_EQ(record_of(std::runtime_error("unexpected")), EIO);
}

}  // namespace
}  // namespace srb
