#include "api/error_record.hpp"

#include <cerrno>
#include <variant>

#include "core/text.hpp"

namespace srb {
namespace {

// Each C enumerator is the number of its kind in the list of error kinds (core/error.hpp).
#define SRB_SAME_NUMBER(c_kind, Kind) \
  static_assert(c_kind == Kind::number, #c_kind " is the number of " #Kind)
SRB_SAME_NUMBER(SRB_ERROR_IO, Io);
SRB_SAME_NUMBER(SRB_ERROR_NO_BUNDLE_SOURCES, NoBundleSources);
SRB_SAME_NUMBER(SRB_ERROR_MANIFEST_MISSING, ManifestMissing);
SRB_SAME_NUMBER(SRB_ERROR_MANIFEST_PARSE, ManifestParse);
SRB_SAME_NUMBER(SRB_ERROR_HASH_MISMATCH, HashMismatch);
SRB_SAME_NUMBER(SRB_ERROR_MISSING_FROM_PAYLOAD, MissingFromPayload);
SRB_SAME_NUMBER(SRB_ERROR_UNLISTED_PAYLOAD_FILE, UnlistedPayloadFile);
SRB_SAME_NUMBER(SRB_ERROR_INVALID_PAYLOAD_PATH, InvalidPayloadPath);
SRB_SAME_NUMBER(SRB_ERROR_NOT_REGULAR_FILE, NotRegularFile);
SRB_SAME_NUMBER(SRB_ERROR_DATA_DIR_UNRESOLVABLE, DataDirUnresolvable);
SRB_SAME_NUMBER(SRB_ERROR_INVALID_SOURCE_DATE_EPOCH, InvalidSourceDateEpoch);
SRB_SAME_NUMBER(SRB_ERROR_SIGNATURE_REQUIRED, SignatureRequired);
SRB_SAME_NUMBER(SRB_ERROR_SIGNATURE_INVALID, SignatureInvalid);
SRB_SAME_NUMBER(SRB_ERROR_PUBLISHER_MISMATCH, PublisherMismatch);
SRB_SAME_NUMBER(SRB_ERROR_ARCH_MISMATCH, ArchMismatch);
SRB_SAME_NUMBER(SRB_ERROR_UNSUPPORTED_ARCH, UnsupportedArch);
SRB_SAME_NUMBER(SRB_ERROR_IDENTITY_READ, IdentityRead);
SRB_SAME_NUMBER(SRB_ERROR_IDENTITY_INVALID, IdentityInvalid);
SRB_SAME_NUMBER(SRB_ERROR_MALFORMED_SIGNATURE_FIELD, MalformedSignatureField);
SRB_SAME_NUMBER(SRB_ERROR_INCLUDE_MISSING, IncludeMissing);
SRB_SAME_NUMBER(SRB_ERROR_INCLUDE_NO_FILE_NAME, IncludeNoFileName);
SRB_SAME_NUMBER(SRB_ERROR_DUPLICATE_INCLUDE, DuplicateInclude);
SRB_SAME_NUMBER(SRB_ERROR_INCLUDE_INVALID_FILE_NAME, IncludeInvalidFileName);
SRB_SAME_NUMBER(SRB_ERROR_UNSAFE_DESTINATION, UnsafeDestination);
SRB_SAME_NUMBER(SRB_ERROR_DESTINATION_CHANGED, DestinationChanged);
SRB_SAME_NUMBER(SRB_ERROR_FOREIGN_SECRET_FILE, ForeignSecretFile);
SRB_SAME_NUMBER(SRB_ERROR_INVALID_VERSION_TAG, InvalidVersionTag);
SRB_SAME_NUMBER(SRB_ERROR_VERSION_MISMATCH, VersionMismatch);
SRB_SAME_NUMBER(SRB_ERROR_UNSAFE_BUNDLE, UnsafeBundle);
SRB_SAME_NUMBER(SRB_ERROR_NOT_INSTALLED, NotInstalled);
#undef SRB_SAME_NUMBER
static_assert(std::variant_size_v<BundleError> == SRB_ERROR_NOT_INSTALLED,
              "every kind of the list has its enumerator in sarn_runtime_bundle.h");

// A fixed text of the file layer has no errno behind it.
int errno_of(const OsError& error) {
  return error.fixed == OsError::Fixed::none ? error.code : 0;
}

// What an error concerns: the file, in the form its message prints (payload entries by their
// raw bundle path, paths given by the caller through display()), and the errno behind it (the
// kinds that say a file is absent stand for ENOENT). Every kind says it for itself, so a new
// kind cannot go without.
struct Concerns {
  std::optional<std::string> file;
  int os_code = 0;
};
struct ConcernsOf {
  using C = Concerns;
  C operator()(const Io& e) const { return {std::nullopt, errno_of(e.error)}; }
  C operator()(const NoBundleSources&) const { return {}; }
  C operator()(const ManifestMissing& e) const { return {display(e.path), ENOENT}; }
  C operator()(const ManifestParse&) const { return {}; }
  // A mismatch of the root hash has no entry path and concerns no single file.
  C operator()(const HashMismatch& e) const {
    return {e.path.empty() ? std::nullopt : std::optional<std::string>(e.path), 0};
  }
  C operator()(const MissingFromPayload& e) const { return {e.path, ENOENT}; }
  C operator()(const UnlistedPayloadFile& e) const { return {e.path, 0}; }
  C operator()(const InvalidPayloadPath& e) const { return {e.path, 0}; }
  C operator()(const NotRegularFile& e) const { return {e.path, 0}; }
  C operator()(const DataDirUnresolvable&) const { return {}; }
  C operator()(const InvalidSourceDateEpoch&) const { return {}; }
  C operator()(const SignatureRequired&) const { return {}; }
  C operator()(const SignatureInvalid&) const { return {}; }
  C operator()(const PublisherMismatch&) const { return {}; }
  C operator()(const ArchMismatch&) const { return {}; }
  C operator()(const UnsupportedArch&) const { return {}; }
  C operator()(const IdentityRead& e) const { return {std::nullopt, errno_of(e.error)}; }
  C operator()(const IdentityInvalid&) const { return {}; }
  C operator()(const MalformedSignatureField&) const { return {}; }
  C operator()(const IncludeMissing& e) const { return {display(e.path), ENOENT}; }
  C operator()(const IncludeNoFileName& e) const { return {display(e.path), 0}; }
  C operator()(const DuplicateInclude& e) const { return {display(e.path), 0}; }
  C operator()(const IncludeInvalidFileName& e) const { return {display(e.path), 0}; }
  C operator()(const UnsafeDestination& e) const { return {display(e.path), 0}; }
  C operator()(const DestinationChanged& e) const { return {display(e.path), 0}; }
  C operator()(const ForeignSecretFile& e) const { return {display(e.path), 0}; }
  C operator()(const InvalidVersionTag&) const { return {}; }
  C operator()(const VersionMismatch&) const { return {}; }
  C operator()(const UnsafeBundle& e) const { return {display(e.path), 0}; }
  C operator()(const NotInstalled& e) const {
    if (e.looked_in.empty()) return {std::nullopt, ENOENT};
    return {display(e.looked_in.front()), ENOENT};
  }
};

}  // namespace

srb_error_kind error_kind(const BundleError& error) {
  return static_cast<srb_error_kind>(kind_number(error));
}

ErrorRecord error_record(const BundleError& error) {
  Concerns concerns = std::visit(ConcernsOf{}, error);
  return ErrorRecord{.kind = error_kind(error),
                     .message = message(error),
                     .path = std::move(concerns.file),
                     .os_code = concerns.os_code};
}

}  // namespace srb
