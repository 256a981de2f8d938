#pragma once
// Result<T>: the value of an operation, or the Error that stopped it. Its member names are
// std::expected's. Like every C++ header here it is inline code over the C interface
// (sarn_runtime_bundle.h), compiled into the program that includes it: no C++ type crosses the
// shared library, so any C++17 or later compiler and standard library may use it.

#include <cstddef>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include <sarn_runtime_bundle/sarn_runtime_bundle.h>

namespace sarn_runtime_bundle {

// The kinds of sarn_runtime_bundle.h, with the same fixed values. New kinds are appended, so a
// program must expect values it does not name.
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
  UnsafeBundle = SRB_ERROR_UNSAFE_BUNDLE,  // since 1.1
  NotInstalled = SRB_ERROR_NOT_INSTALLED,  // since 1.1
};

// One failure: its kind, its message as the tool prints it after
// "sarn-runtime-bundle {command}: " (no trailing line feed), the file it concerns as the message
// shows it (srb_error_path), and the OS error number behind it (srb_error_os_code).
struct Error {
  ErrorKind kind = ErrorKind::Io;
  std::string message;
  std::optional<std::string> path;
  int os_code = 0;  // errno; 0 when none
};

inline const std::string& message(const Error& error) {
  return error.message;
}

template <typename T>
class [[nodiscard]] Result {
 public:
  template <typename U = T, typename = std::enable_if_t<std::is_convertible_v<U&&, T> &&
                                                        !std::is_same_v<std::decay_t<U>, Error>>>
  Result(U&& value) : state_(std::in_place_index<0>, std::forward<U>(value)) {}
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

// What the wrappers share: ownership of the C handles, and texts and errors copied out of them.
namespace detail {

struct CFree {
  void operator()(srb_error* error) const { srb_error_free(error); }
  void operator()(srb_manifest* manifest) const { srb_manifest_free(manifest); }
  void operator()(srb_verify_request* request) const { srb_verify_request_free(request); }
  void operator()(srb_build_request* request) const { srb_build_request_free(request); }
  void operator()(srb_launch_plan* plan) const { srb_launch_plan_free(plan); }
  void operator()(srb_launch_request* request) const { srb_launch_request_free(request); }
  void operator()(srb_installed* installed) const { srb_installed_free(installed); }
  void operator()(char* text) const { srb_string_free(text); }
  void operator()(char** argv) const { srb_argv_free(argv); }
};
template <typename Handle>
using Owned = std::unique_ptr<Handle, CFree>;

// A text the C interface handed out with its length; NULL is the empty text.
inline std::string text(const char* data, std::size_t length) {
  return data ? std::string(data, length) : std::string();
}

// A handle the C interface could not make, or a setter that could not copy: memory ran out.
template <typename Handle>
Owned<Handle> made(Handle* handle) {
  if (handle == nullptr) throw std::bad_alloc();
  return Owned<Handle>(handle);
}
inline void copied(int status) {
  if (status != 0) throw std::bad_alloc();
}

inline Error error_of(const srb_error* error) {
  Error out;
  out.kind = static_cast<ErrorKind>(srb_error_get_kind(error));
  std::size_t length = 0;
  const char* message = srb_error_message(error, &length);
  out.message = text(message, length);
  if (const char* path = srb_error_path(error, &length)) out.path = text(path, length);
  out.os_code = srb_error_os_code(error);
  return out;
}

// The result of a C call that returns `value` (NULL on failure) and stores `error`.
template <typename T, typename Handle, typename Convert>
Result<T> result_of(Handle* value, srb_error* error, Convert convert) {
  const Owned<srb_error> owned_error(error);
  const Owned<Handle> owned_value(value);
  if (owned_value == nullptr) return error_of(owned_error.get());
  return convert(owned_value.get());
}

// The result of a C call that returns a text to be freed with srb_string_free, of `length`
// bytes, or ending at its NUL when it holds none.
inline Result<std::string> text_result(char* value, std::size_t length, srb_error* error) {
  return result_of<std::string>(value, error,
                                [&](char* text_value) { return text(text_value, length); });
}
inline Result<std::string> text_result(char* value, srb_error* error) {
  return result_of<std::string>(value, error, [](char* text_value) { return text_value; });
}

}  // namespace detail

}  // namespace sarn_runtime_bundle

// The short name the library's users write: srb::verify_bundle, srb::Result. A program that has
// a namespace srb of its own defines SARN_RUNTIME_BUNDLE_NO_SRB_ALIAS and writes the long name.
#if !defined(SARN_RUNTIME_BUNDLE_NO_SRB_ALIAS) && !defined(SARN_RUNTIME_BUNDLE_BUILDING)
namespace srb = sarn_runtime_bundle;
#endif
