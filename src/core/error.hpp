#pragma once
// BundleError: the one failure type of every command. Each kind carries exactly the data its
// message needs; a failure site constructs a kind with that data (for some kinds a detail text
// from a parser or a decoder), and message() alone fills in the templates. Kinds are only ever
// appended: the library's C interface numbers them by their position.

#include <filesystem>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace srb {

// An operating-system error number, or one of the fixed texts the file layer raises itself.
struct OsError {
  enum class Fixed { none, not_utf8, copy_source_not_regular };
  int code = 0;
  Fixed fixed = Fixed::none;
};

// The current errno as an OsError.
OsError last_os_error();
OsError os_error(int code);

// "{C library description} (os error {code})", or the fixed text.
std::string render_os_error(const OsError& error);

struct Io {
  OsError error;
};
struct NoBundleSources {
  std::vector<std::filesystem::path> candidates;  // in the order tried
};
struct ManifestMissing {
  std::filesystem::path path;
};
struct ManifestParse {
  std::string detail;
};
struct HashMismatch {
  std::string expected;
  std::string computed;
};
struct MissingFromPayload {
  std::string path;
};
struct UnlistedPayloadFile {
  std::string path;
};
struct InvalidPayloadPath {
  std::string path;
};
struct NotRegularFile {
  std::string path;
};
struct DataDirUnresolvable {};
struct InvalidSourceDateEpoch {
  std::string value;  // raw bytes of the variable, shown lossily
};
struct SignatureRequired {};
struct SignatureInvalid {};
struct PublisherMismatch {
  std::string required;
  std::string publisher;
};
struct ArchMismatch {
  std::string arch;
  std::string required;
};
struct UnsupportedArch {
  std::string arch;
};
struct IdentityRead {
  OsError error;
};
struct IdentityInvalid {
  std::string detail;
};
struct MalformedSignatureField {
  std::string field;  // "publisher_hex" or "signature_hex"
  std::string detail;
};
struct IncludeMissing {
  std::filesystem::path path;
};
struct IncludeNoFileName {
  std::filesystem::path path;
};
// Two includes would land on the same bundle path.
struct DuplicateInclude {
  std::filesystem::path path;
};
// An include whose file name makes a bundle path that verify would refuse.
struct IncludeInvalidFileName {
  std::filesystem::path path;
};

using BundleError =
    std::variant<Io, NoBundleSources, ManifestMissing, ManifestParse, HashMismatch,
                 MissingFromPayload, UnlistedPayloadFile, InvalidPayloadPath, NotRegularFile,
                 DataDirUnresolvable, InvalidSourceDateEpoch, SignatureRequired, SignatureInvalid,
                 PublisherMismatch, ArchMismatch, UnsupportedArch, IdentityRead, IdentityInvalid,
                 MalformedSignatureField, IncludeMissing, IncludeNoFileName, DuplicateInclude,
                 IncludeInvalidFileName>;

// The message text of an error, without a trailing line feed.
std::string message(const BundleError& error);

}  // namespace srb
