#pragma once
// Result<T>: the value of an operation, or the Error that stopped it. Its member names are
// std::expected's.

#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include <sarn_runtime_bundle/sarn_runtime_bundle.h>

namespace sarn_runtime_bundle {

// The kinds of sarn_runtime_bundle.h, with the same fixed values.
enum class ErrorKind : int {
  Io = SRB_ERROR_IO,
  NoBundleSources = SRB_ERROR_NO_BUNDLE_SOURCES,
  ManifestMissing = SRB_ERROR_MANIFEST_MISSING,
  ManifestParse = SRB_ERROR_MANIFEST_PARSE,
  HashMismatch = SRB_ERROR_HASH_MISMATCH,
  MissingFromPayload = SRB_ERROR_MISSING_FROM_PAYLOAD,
  UnlistedPayloadFile = SRB_ERROR_UNLISTED_PAYLOAD_FILE,
  InvalidPayloadPath = SRB_ERROR_INVALID_PAYLOAD_PATH,
  NotRegularFile = SRB_ERROR_NOT_REGULAR_FILE,
  DataDirUnresolvable = SRB_ERROR_DATA_DIR_UNRESOLVABLE,
  InvalidSourceDateEpoch = SRB_ERROR_INVALID_SOURCE_DATE_EPOCH,
  SignatureRequired = SRB_ERROR_SIGNATURE_REQUIRED,
  SignatureInvalid = SRB_ERROR_SIGNATURE_INVALID,
  PublisherMismatch = SRB_ERROR_PUBLISHER_MISMATCH,
  ArchMismatch = SRB_ERROR_ARCH_MISMATCH,
  UnsupportedArch = SRB_ERROR_UNSUPPORTED_ARCH,
  IdentityRead = SRB_ERROR_IDENTITY_READ,
  IdentityInvalid = SRB_ERROR_IDENTITY_INVALID,
  MalformedSignatureField = SRB_ERROR_MALFORMED_SIGNATURE_FIELD,
  IncludeMissing = SRB_ERROR_INCLUDE_MISSING,
  IncludeNoFileName = SRB_ERROR_INCLUDE_NO_FILE_NAME,
  DuplicateInclude = SRB_ERROR_DUPLICATE_INCLUDE,
  IncludeInvalidFileName = SRB_ERROR_INCLUDE_INVALID_FILE_NAME,
  UnsafeDestination = SRB_ERROR_UNSAFE_DESTINATION,
  DestinationChanged = SRB_ERROR_DESTINATION_CHANGED,
  ForeignSecretFile = SRB_ERROR_FOREIGN_SECRET_FILE,
  InvalidVersionTag = SRB_ERROR_INVALID_VERSION_TAG,
  VersionMismatch = SRB_ERROR_VERSION_MISMATCH,
};

// One failure: its kind, and its message as the tool prints it after
// "sarn-runtime-bundle {command}: " (no trailing line feed).
struct Error {
  ErrorKind kind = ErrorKind::Io;
  std::string message;
};

inline const std::string& message(const Error& error) {
  return error.message;
}

template <typename T>
class [[nodiscard]] Result {
 public:
  template <typename U = T>
  requires(std::is_convertible_v<U&&, T> && !std::is_same_v<std::remove_cvref_t<U>, Error>)
      Result(U&& value)
      : state_(std::in_place_index<0>, std::forward<U>(value)) {}
  Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

  bool has_value() const { return state_.index() == 0; }
  explicit operator bool() const { return has_value(); }

  T& value() & { return std::get<0>(state_); }
  const T& value() const& { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const Error& error() const& { return std::get<1>(state_); }
  Error&& error() && { return std::get<1>(std::move(state_)); }

 private:
  std::variant<T, Error> state_;
};

}  // namespace sarn_runtime_bundle

// The short name the library's users write: srb::verify_bundle, srb::Result. A program that has
// a namespace srb of its own defines SARN_RUNTIME_BUNDLE_NO_SRB_ALIAS and writes the long name.
#if !defined(SARN_RUNTIME_BUNDLE_NO_SRB_ALIAS) && !defined(SARN_RUNTIME_BUNDLE_BUILDING)
namespace srb = sarn_runtime_bundle;
#endif
