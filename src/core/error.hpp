#pragma once
// BundleError: the one failure type of every command. Each kind carries exactly the data its
// message needs; a failure site constructs a kind with that data (for some kinds a detail text
// from a parser or a decoder), and message() alone fills in the templates.

#include <filesystem>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace srb {

// An operating-system error number, or one of the fixed texts the file layer raises itself.
struct OsError {
  enum class Fixed {
    none,
    not_utf8,
    copy_source_not_regular,
    copy_source_pseudo_file_system,
    bundle_changed_while_listed,
  };
  int code = 0;
  Fixed fixed = Fixed::none;
  // The kind of file system a fixed text names (a constant, such as "procfs").
  std::string_view file_system{};
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
  std::string path;  // the payload entry's bundle path; empty for the root hash. Not in the message
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
  std::vector<std::string> supported;  // the names of the tables there are, in their order
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

// A symbolic link on the way to a file build writes, or a FIFO, socket or device where the file
// must go: writing through it would reach beyond the bundle or block.
struct UnsafeDestination {
  std::filesystem::path path;  // the out directory as typed, joined with the entry's bundle path
};
// A file build wrote is no longer the one it finds there when it comes to digest it.
struct DestinationChanged {
  std::filesystem::path path;
};

// key generate would write a secret into a file another user owns (or through their link).
struct ForeignSecretFile {
  std::filesystem::path path;
};

// A version tag that is not a single plain file name, so it would name a directory other than
// the one bundle it stands for (empty, ".", "..", or holding "/" or NUL).
struct InvalidVersionTag {
  std::string tag;
};
// A bundle whose manifest declares another version than the one the caller asked for.
struct VersionMismatch {
  std::string version;   // the manifest's
  std::string required;  // the caller's
};

// A bundle a launcher is not to run: a directory on the way to it, a directory of it, its
// manifest or a listed file could be changed by a user other than root and the caller.
struct UnsafeBundle {
  std::filesystem::path path;
  std::string reason;  // what is wrong, such as "is writable by every user"
};
// No bundle of a version tag is installed under the roots looked in.
struct NotInstalled {
  std::string tag;
  std::vector<std::filesystem::path> looked_in;  // the candidate directories, per-user first
};

// Kinds are only ever appended: a kind's position is its number to callers that see numbers only
// (the library's C interface, srb_error_kind).
using BundleError =
    std::variant<Io, NoBundleSources, ManifestMissing, ManifestParse, HashMismatch,
                 MissingFromPayload, UnlistedPayloadFile, InvalidPayloadPath, NotRegularFile,
                 DataDirUnresolvable, InvalidSourceDateEpoch, SignatureRequired, SignatureInvalid,
                 PublisherMismatch, ArchMismatch, UnsupportedArch, IdentityRead, IdentityInvalid,
                 MalformedSignatureField, IncludeMissing, IncludeNoFileName, DuplicateInclude,
                 IncludeInvalidFileName, UnsafeDestination, DestinationChanged, ForeignSecretFile,
                 InvalidVersionTag, VersionMismatch, UnsafeBundle, NotInstalled>;

// The message text of an error, without a trailing line feed.
std::string message(const BundleError& error);

}  // namespace srb
