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
  static constexpr int number = 1;
  OsError error;
};
struct NoBundleSources {
  static constexpr int number = 2;
  std::vector<std::filesystem::path> candidates;  // in the order tried
};
struct ManifestMissing {
  static constexpr int number = 3;
  std::filesystem::path path;
};
struct ManifestParse {
  static constexpr int number = 4;
  std::string detail;
};
struct HashMismatch {
  static constexpr int number = 5;
  std::string expected;
  std::string computed;
  std::string path;  // the payload entry's bundle path; empty for the root hash. Not in the message
};
struct MissingFromPayload {
  static constexpr int number = 6;
  std::string path;
};
struct UnlistedPayloadFile {
  static constexpr int number = 7;
  std::string path;
};
struct InvalidPayloadPath {
  static constexpr int number = 8;
  std::string path;
};
struct NotRegularFile {
  static constexpr int number = 9;
  std::string path;
};
struct DataDirUnresolvable {
  static constexpr int number = 10;
};
struct InvalidSourceDateEpoch {
  static constexpr int number = 11;
  std::string value;  // raw bytes of the variable, shown lossily
};
struct SignatureRequired {
  static constexpr int number = 12;
};
struct SignatureInvalid {
  static constexpr int number = 13;
};
struct PublisherMismatch {
  static constexpr int number = 14;
  std::string required;
  std::string publisher;
};
struct ArchMismatch {
  static constexpr int number = 15;
  std::string arch;
  std::string required;
};
struct UnsupportedArch {
  static constexpr int number = 16;
  std::string arch;
  std::vector<std::string> supported;  // the names of the tables there are, in their order
};
struct IdentityRead {
  static constexpr int number = 17;
  OsError error;
};
struct IdentityInvalid {
  static constexpr int number = 18;
  std::string detail;
};
struct MalformedSignatureField {
  static constexpr int number = 19;
  std::string field;  // "publisher_hex" or "signature_hex"
  std::string detail;
};
struct IncludeMissing {
  static constexpr int number = 20;
  std::filesystem::path path;
};
struct IncludeNoFileName {
  static constexpr int number = 21;
  std::filesystem::path path;
};
// Two includes would land on the same bundle path.
struct DuplicateInclude {
  static constexpr int number = 22;
  std::filesystem::path path;
};
// An include whose file name makes a bundle path that verify would refuse.
struct IncludeInvalidFileName {
  static constexpr int number = 23;
  std::filesystem::path path;
};

// A symbolic link on the way to a file build writes, or a FIFO, socket or device where the file
// must go: writing through it would reach beyond the bundle or block.
struct UnsafeDestination {
  static constexpr int number = 24;
  std::filesystem::path path;  // the out directory as typed, joined with the entry's bundle path
};
// A file build wrote is no longer the one it finds there when it comes to digest it.
struct DestinationChanged {
  static constexpr int number = 25;
  std::filesystem::path path;
};

// key generate would write a secret into a file another user owns (or through their link).
struct ForeignSecretFile {
  static constexpr int number = 26;
  std::filesystem::path path;
};

// A version tag that is not a single plain file name, so it would name a directory other than
// the one bundle it stands for (empty, ".", "..", or holding "/" or NUL).
struct InvalidVersionTag {
  static constexpr int number = 27;
  std::string tag;
};
// A bundle whose manifest declares another version than the one the caller asked for.
struct VersionMismatch {
  static constexpr int number = 28;
  std::string version;   // the manifest's
  std::string required;  // the caller's
};

// A bundle a launcher is not to run: a directory on the way to it, a directory of it, its
// manifest or a listed file could be changed by a user other than root and the caller.
struct UnsafeBundle {
  static constexpr int number = 29;
  std::filesystem::path path;
  std::string reason;  // what is wrong, such as "is writable by every user"
};
// No bundle of a version tag is installed under the roots looked in.
struct NotInstalled {
  static constexpr int number = 30;
  std::string tag;
  std::vector<std::filesystem::path> looked_in;  // the candidate directories, per-user first
};

// The one list of error kinds. Each kind above is a record of exactly the data its message needs,
// with its fixed number (the library's C interface, srb_error_kind, gives it the same), and
// message() below renders it. Kinds are only ever appended, and the list's order is their numbers'.
using BundleError =
    std::variant<Io, NoBundleSources, ManifestMissing, ManifestParse, HashMismatch,
                 MissingFromPayload, UnlistedPayloadFile, InvalidPayloadPath, NotRegularFile,
                 DataDirUnresolvable, InvalidSourceDateEpoch, SignatureRequired, SignatureInvalid,
                 PublisherMismatch, ArchMismatch, UnsupportedArch, IdentityRead, IdentityInvalid,
                 MalformedSignatureField, IncludeMissing, IncludeNoFileName, DuplicateInclude,
                 IncludeInvalidFileName, UnsafeDestination, DestinationChanged, ForeignSecretFile,
                 InvalidVersionTag, VersionMismatch, UnsafeBundle, NotInstalled>;

namespace detail {
template <typename... Kinds>
constexpr bool numbered_in_order(std::variant<Kinds...>*) {
  int expected = 0;
  return ((Kinds::number == ++expected) && ...);
}
}  // namespace detail
static_assert(detail::numbered_in_order(static_cast<BundleError*>(nullptr)),
              "kinds are numbered 1, 2, 3... in the order of the list");

// The fixed number of an error's kind.
int kind_number(const BundleError& error);

// The message text of an error, without a trailing line feed.
std::string message(const BundleError& error);

}  // namespace srb
