#include "core/error.hpp"

#include <gtest/gtest.h>

#include <cerrno>

namespace srb {
namespace {

struct MessageCase {
  BundleError error;
  std::string message;
};

// Every kind with its whole message. "\xE2\x80\x94" is the em dash, spelled out as bytes so a
// hyphen or a look-alike cannot pass.
TEST(BundleErrorMessage, RendersEveryKind) {
  const MessageCase cases[] = {
      {Io{os_error(ENOENT)}, "i/o: No such file or directory (os error 2)"},
      {Io{os_error(EACCES)}, "i/o: Permission denied (os error 13)"},
      {Io{OsError{0, OsError::Fixed::not_utf8}}, "i/o: stream did not contain valid UTF-8"},
      {Io{OsError{0, OsError::Fixed::copy_source_not_regular}},
       "i/o: the source path is neither a regular file nor a symlink to a regular file"},
      {NoBundleSources{{"/lib64/ld-linux-x86-64.so.2", "/lib/a\"b\\c", "/lib/x\xFF\xC3y"}},
       "no bundle sources found \xE2\x80\x94 checked [\"/lib64/ld-linux-x86-64.so.2\", "
       "\"/lib/a\\\"b\\\\c\", \"/lib/x\\xFF\\xC3y\"]"},
      {NoBundleSources{{}}, "no bundle sources found \xE2\x80\x94 checked []"},
      {ManifestMissing{"/tmp/b/bundle.toml"}, "bundle.toml not found at /tmp/b/bundle.toml"},
      {ManifestMissing{"/tmp/\xFF/bundle.toml"},
       "bundle.toml not found at /tmp/\xEF\xBF\xBD/bundle.toml"},
      {ManifestParse{"Error while parsing key\n\t(error occurred at line 3, column 1)"},
       "bundle.toml parse error: Error while parsing key\n\t(error occurred at line 3, column 1)"},
      {HashMismatch{.expected = "aa11", .computed = "bb22", .path = "lib/x.so"},
       "hash mismatch: expected aa11 in bundle.toml, computed bb22"},
      {MissingFromPayload{"lib/libc.so.6"},
       "file listed in bundle.toml is missing from the payload: lib/libc.so.6"},
      {UnlistedPayloadFile{"lib/extra.so"},
       "file present in payload but not listed in bundle.toml: lib/extra.so"},
      {InvalidPayloadPath{"../etc/passwd"}, "invalid payload path in bundle.toml: ../etc/passwd"},
      {NotRegularFile{"lib/dir"}, "payload entry is not a regular file: lib/dir"},
      {DataDirUnresolvable{},
       "home / data-dir not resolvable \xE2\x80\x94 set XDG_DATA_HOME or HOME"},
      {InvalidSourceDateEpoch{"-1"}, "SOURCE_DATE_EPOCH must be an unsigned unix timestamp: -1"},
      {InvalidSourceDateEpoch{"1\xFF"},
       "SOURCE_DATE_EPOCH must be an unsigned unix timestamp: 1\xEF\xBF\xBD"},
      {SignatureRequired{},
       "bundle is not signed \xE2\x80\x94 signature required (pass --allow-unsigned-runtime to "
       "opt out)"},
      {SignatureInvalid{}, "bundle signature does not verify against embedded publisher"},
      {PublisherMismatch{.required = "required-hex", .publisher = "publisher-hex"},
       "bundle publisher publisher-hex does not match required required-hex"},
      {ArchMismatch{.arch = "aarch64", .required = "x86_64"},
       "bundle arch \"aarch64\" does not match host arch \"x86_64\""},
      {ArchMismatch{.arch = "", .required = "x\"86\\64"},
       "bundle arch \"\" does not match host arch \"x\\\"86\\\\64\""},
      {ArchMismatch{.arch = std::string("a\tb\rc\nd\0e", 9),
                    .required = "\x01\x1B\x7F\xC2\x85\xC3\xA9"},
       "bundle arch \"a\\tb\\rc\\nd\\0e\" does not match host arch "
       "\"\\u{1}\\u{1b}\\u{7f}\\u{85}\xC3\xA9\""},
      {UnsupportedArch{"riscv64", {"x86_64", "aarch64"}},
       "no host source table for arch riscv64 \xE2\x80\x94 supported: x86_64, aarch64"},
      {IdentityRead{os_error(ENOENT)}, "identity file: No such file or directory (os error 2)"},
      {IdentityRead{OsError{0, OsError::Fixed::not_utf8}},
       "identity file: stream did not contain valid UTF-8"},
      {IdentityInvalid{"secret_key_hex must decode to 32 bytes (got 31)"},
       "identity file: secret_key_hex must decode to 32 bytes (got 31)"},
      {MalformedSignatureField{.field = "signature_hex", .detail = "Odd number of digits"},
       "bundle signature field signature_hex is malformed: Odd number of digits"},
      {IncludeMissing{"/opt/lib\xFF.so"},
       "extra lib to include is missing from the host: /opt/lib\xEF\xBF\xBD.so"},
      {IncludeNoFileName{"/opt/.."}, "extra lib to include has no file name: /opt/.."},
      {DuplicateInclude{"/b/libx.so"},
       "extra lib to include has the same file name as an earlier one: /b/libx.so"},
      {IncludeInvalidFileName{"/opt/a\tb.so"},
       "extra lib to include has a file name that is not a valid bundle path: /opt/a\\tb.so"},
      {UnsafeDestination{"out/lib/lib64"},
       "bundle destination is a symbolic link or special file: out/lib/lib64"},
      {UnsafeDestination{"/tmp/b\xFF/bundle.toml"},
       "bundle destination is a symbolic link or special file: /tmp/b\xEF\xBF\xBD/bundle.toml"},
      {DestinationChanged{"/tmp/b/lib/lib64/libc.so.6"},
       "bundle file changed during the build: /tmp/b/lib/lib64/libc.so.6"},
      {DestinationChanged{"b/etc/ld.so.cache\xC3"},
       "bundle file changed during the build: b/etc/ld.so.cache\xEF\xBF\xBD"},
      {ForeignSecretFile{"/tmp/k\xFF/id.json"},
       "refusing to write a secret to a file owned by another user: /tmp/k\xEF\xBF\xBD/id.json"},
      {InvalidVersionTag{"../../.."},
       "invalid version tag \"../../..\": a version tag must be a single file name"},
      {InvalidVersionTag{""}, "invalid version tag \"\": a version tag must be a single file name"},
  };
  for (const MessageCase& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(message(c.error), c.message);
  }
}

// A file name, a manifest value or an argument can hold a line feed or a terminal escape; the
// message shows it escaped, so the error stays one line that says what it seems to say. Quoted
// fields keep their quotes, and a backslash in an unquoted one stays a single backslash.
TEST(BundleErrorMessage, ShowsControlCharactersInFieldsEscaped) {
  const std::string hostile = "a\x1B[31m\rb\n\\c";
  const std::string shown = "a\\u{1b}[31m\\rb\\n\\c";
  const MessageCase cases[] = {
      {ManifestMissing{"/tmp/" + hostile + "/bundle.toml"},
       "bundle.toml not found at /tmp/" + shown + "/bundle.toml"},
      {HashMismatch{.expected = hostile, .computed = "bb22", .path = ""},
       "hash mismatch: expected " + shown + " in bundle.toml, computed bb22"},
      {MissingFromPayload{"lib/" + hostile},
       "file listed in bundle.toml is missing from the payload: lib/" + shown},
      {UnlistedPayloadFile{"lib/" + hostile},
       "file present in payload but not listed in bundle.toml: lib/" + shown},
      {InvalidPayloadPath{hostile}, "invalid payload path in bundle.toml: " + shown},
      {NotRegularFile{hostile}, "payload entry is not a regular file: " + shown},
      {InvalidSourceDateEpoch{hostile},
       "SOURCE_DATE_EPOCH must be an unsigned unix timestamp: " + shown},
      {PublisherMismatch{.required = hostile, .publisher = "\xC2\x9B" + hostile},
       "bundle publisher \\u{9b}" + shown + " does not match required " + shown},
      {UnsupportedArch{hostile, {"x86_64", "aarch64"}},
       "no host source table for arch " + shown + " \xE2\x80\x94 supported: x86_64, aarch64"},
      {IncludeMissing{"/opt/" + hostile},
       "extra lib to include is missing from the host: /opt/" + shown},
      {DestinationChanged{"b/lib/" + hostile},
       "bundle file changed during the build: b/lib/" + shown},
      {InvalidVersionTag{std::string("1\n/\0", 4)},
       "invalid version tag \"1\\n/\\0\": a version tag must be a single file name"},
      {VersionMismatch{.version = hostile, .required = "1"},
       "bundle version \"a\\u{1b}[31m\\rb\\n\\\\c\" does not match required version \"1\""},
  };
  for (const MessageCase& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(message(c.error), c.message);
  }
}

// key generate prints this form bare, without the "i/o: " of Io.
TEST(BundleErrorMessage, OsErrorRendersDescriptionAndCode) {
  EXPECT_EQ(render_os_error(os_error(ENOSPC)), "No space left on device (os error 28)");
  errno = EISDIR;
  EXPECT_EQ(render_os_error(last_os_error()), "Is a directory (os error 21)");
}

}  // namespace
}  // namespace srb
