#include "core/error.hpp"

#include <cerrno>
#include <cstring>

#include "core/text.hpp"

namespace srb {
namespace {

// The dash of the fixed messages is U+2014 EM DASH.
constexpr std::string_view kDash = "\xE2\x80\x94";

std::string bracketed_list(const std::vector<std::filesystem::path>& paths) {
  std::string out = "[";
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (i > 0) out += ", ";
    out += quoted_text(paths[i].native());
  }
  return out + "]";
}

template <typename... Parts>
std::string concat(const Parts&... parts) {
  std::string out;
  (out.append(parts), ...);
  return out;
}

// Every field that comes from a manifest, a payload tree or the command line goes through
// printable() or quoted_text(): a control character in a file name or a version must not reach a
// terminal or a script reading the output as itself. The detail texts are built escaped already.
struct Render {
  std::string operator()(const Io& e) const { return "i/o: " + render_os_error(e.error); }
  std::string operator()(const NoBundleSources& e) const {
    return concat("no bundle sources found ", kDash, " checked ", bracketed_list(e.candidates));
  }
  std::string operator()(const ManifestMissing& e) const {
    return "bundle.toml not found at " + display(e.path);
  }
  std::string operator()(const ManifestParse& e) const {
    return "bundle.toml parse error: " + e.detail;
  }
  std::string operator()(const HashMismatch& e) const {
    return concat("hash mismatch: expected ", printable(e.expected), " in bundle.toml, computed ",
                  printable(e.computed));
  }
  std::string operator()(const MissingFromPayload& e) const {
    return "file listed in bundle.toml is missing from the payload: " + printable(e.path);
  }
  std::string operator()(const UnlistedPayloadFile& e) const {
    return "file present in payload but not listed in bundle.toml: " + printable(e.path);
  }
  std::string operator()(const InvalidPayloadPath& e) const {
    return "invalid payload path in bundle.toml: " + printable(e.path);
  }
  std::string operator()(const NotRegularFile& e) const {
    return "payload entry is not a regular file: " + printable(e.path);
  }
  std::string operator()(const DataDirUnresolvable&) const {
    return concat("home / data-dir not resolvable ", kDash, " set XDG_DATA_HOME or HOME");
  }
  std::string operator()(const InvalidSourceDateEpoch& e) const {
    return "SOURCE_DATE_EPOCH must be an unsigned unix timestamp: " + printable(e.value);
  }
  std::string operator()(const SignatureRequired&) const {
    return concat("bundle is not signed ", kDash,
                  " signature required (pass --allow-unsigned-runtime to opt out)");
  }
  std::string operator()(const SignatureInvalid&) const {
    return "bundle signature does not verify against embedded publisher";
  }
  std::string operator()(const PublisherMismatch& e) const {
    return concat("bundle publisher ", printable(e.publisher), " does not match required ",
                  printable(e.required));
  }
  std::string operator()(const ArchMismatch& e) const {
    return concat("bundle arch ", quoted_text(e.arch), " does not match host arch ",
                  quoted_text(e.required));
  }
  std::string operator()(const UnsupportedArch& e) const {
    std::string supported;
    for (const std::string& name : e.supported)
      supported += (supported.empty() ? "" : ", ") + name;
    return concat("no host source table for arch ", printable(e.arch), " ", kDash,
                  " supported: ", supported);
  }
  std::string operator()(const IdentityRead& e) const {
    return "identity file: " + render_os_error(e.error);
  }
  std::string operator()(const IdentityInvalid& e) const { return "identity file: " + e.detail; }
  std::string operator()(const MalformedSignatureField& e) const {
    return concat("bundle signature field ", e.field, " is malformed: ", e.detail);
  }
  std::string operator()(const IncludeMissing& e) const {
    return "extra lib to include is missing from the host: " + display(e.path);
  }
  std::string operator()(const IncludeNoFileName& e) const {
    return "extra lib to include has no file name: " + display(e.path);
  }
  std::string operator()(const DuplicateInclude& e) const {
    return "extra lib to include has the same file name as an earlier one: " + display(e.path);
  }
  std::string operator()(const IncludeInvalidFileName& e) const {
    return "extra lib to include has a file name that is not a valid bundle path: " +
           display(e.path);
  }
  std::string operator()(const UnsafeDestination& e) const {
    return "bundle destination is a symbolic link or special file: " + display(e.path);
  }
  std::string operator()(const DestinationChanged& e) const {
    return "bundle file changed during the build: " + display(e.path);
  }
  std::string operator()(const ForeignSecretFile& e) const {
    return "refusing to write a secret to a file owned by another user: " + display(e.path);
  }
  std::string operator()(const InvalidVersionTag& e) const {
    return concat("invalid version tag ", quoted_text(e.tag),
                  ": a version tag must be a single file name");
  }
  std::string operator()(const VersionMismatch& e) const {
    return concat("bundle version ", quoted_text(e.version), " does not match required version ",
                  quoted_text(e.required));
  }
  std::string operator()(const UnsafeBundle& e) const {
    return concat("bundle is not safe to run: ", display(e.path), " ", e.reason);
  }
  std::string operator()(const NotInstalled& e) const {
    std::string text = concat("bundle version ", quoted_text(e.tag), " is not installed");
    for (std::size_t i = 0; i < e.looked_in.size(); ++i)
      text += concat(i == 0 ? ": no bundle.toml in " : " nor in ", display(e.looked_in[i]));
    return text;
  }
};

}  // namespace

OsError last_os_error() {
  return OsError{errno};
}
OsError os_error(int code) {
  return OsError{code};
}

std::string render_os_error(const OsError& error) {
  switch (error.fixed) {
    case OsError::Fixed::not_utf8:
      return "stream did not contain valid UTF-8";
    case OsError::Fixed::copy_source_not_regular:
      return "the source path is neither a regular file nor a symlink to a regular file";
    case OsError::Fixed::copy_source_pseudo_file_system:
      return concat("the source path lies in a pseudo file system (", error.file_system,
                    "), whose files the kernel makes up as they are read");
    case OsError::Fixed::bundle_changed_while_listed:
      return "a directory of the bundle was replaced while it was listed";
    case OsError::Fixed::none:
      break;
  }
  return concat(std::strerror(error.code), " (os error ", std::to_string(error.code), ")");
}

int kind_number(const BundleError& error) {
  return std::visit([](const auto& kind) { return kind.number; }, error);
}

std::string message(const BundleError& error) {
  return std::visit(Render{}, error);
}

}  // namespace srb
