#include "api/error_record.hpp"

#include <cerrno>
#include <variant>

#include "core/text.hpp"

namespace srb {
namespace {

// The C header numbers every kind; a kind added to BundleError needs its number there first.
static_assert(std::variant_size_v<BundleError> == SRB_ERROR_NOT_INSTALLED,
              "a new BundleError kind needs its stable number in sarn_runtime_bundle.h");

// The file an error concerns, in the form its message prints: payload entries by their raw
// bundle path, paths given by the caller through display(). A hash mismatch of the root hash
// has no entry path and concerns no single file.
struct PathOf {
  std::optional<std::string> operator()(const ManifestMissing& e) const { return display(e.path); }
  std::optional<std::string> operator()(const HashMismatch& e) const {
    if (e.path.empty()) return std::nullopt;
    return e.path;
  }
  std::optional<std::string> operator()(const MissingFromPayload& e) const { return e.path; }
  std::optional<std::string> operator()(const UnlistedPayloadFile& e) const { return e.path; }
  std::optional<std::string> operator()(const InvalidPayloadPath& e) const { return e.path; }
  std::optional<std::string> operator()(const NotRegularFile& e) const { return e.path; }
  std::optional<std::string> operator()(const IncludeMissing& e) const { return display(e.path); }
  std::optional<std::string> operator()(const IncludeNoFileName& e) const {
    return display(e.path);
  }
  std::optional<std::string> operator()(const DuplicateInclude& e) const { return display(e.path); }
  std::optional<std::string> operator()(const IncludeInvalidFileName& e) const {
    return display(e.path);
  }
  std::optional<std::string> operator()(const UnsafeDestination& e) const {
    return display(e.path);
  }
  std::optional<std::string> operator()(const UnsafeBundle& e) const { return display(e.path); }
  std::optional<std::string> operator()(const NotInstalled& e) const {
    if (e.looked_in.empty()) return std::nullopt;
    return display(e.looked_in.front());
  }
  std::optional<std::string> operator()(const DestinationChanged& e) const {
    return display(e.path);
  }
  std::optional<std::string> operator()(const ForeignSecretFile& e) const {
    return display(e.path);
  }
  template <typename Other>
  std::optional<std::string> operator()(const Other&) const {
    return std::nullopt;
  }
};

// A fixed text of the file layer has no errno behind it.
int errno_of(const OsError& error) {
  return error.fixed == OsError::Fixed::none ? error.code : 0;
}

// The errno behind an error. The kinds that say a file is absent stand for ENOENT.
struct OsCodeOf {
  int operator()(const Io& e) const { return errno_of(e.error); }
  int operator()(const IdentityRead& e) const { return errno_of(e.error); }
  int operator()(const ManifestMissing&) const { return ENOENT; }
  int operator()(const MissingFromPayload&) const { return ENOENT; }
  int operator()(const IncludeMissing&) const { return ENOENT; }
  int operator()(const NotInstalled&) const { return ENOENT; }
  template <typename Other>
  int operator()(const Other&) const {
    return 0;
  }
};

}  // namespace

srb_error_kind error_kind(const BundleError& error) {
  return static_cast<srb_error_kind>(error.index() + 1);
}

ErrorRecord error_record(const BundleError& error) {
  return ErrorRecord{.kind = error_kind(error),
                     .message = message(error),
                     .path = std::visit(PathOf{}, error),
                     .os_code = std::visit(OsCodeOf{}, error)};
}

}  // namespace srb
