#pragma once
// What the C interface tells of a BundleError: its stable number, its message, the file it
// concerns and the OS error behind it. The one place where the tool's error kinds meet the
// library's numbers.

#include <sarn_runtime_bundle/sarn_runtime_bundle.h>

#include <optional>
#include <string>

#include "core/error.hpp"

namespace srb {

struct ErrorRecord {
  srb_error_kind kind = SRB_ERROR_IO;
  std::string message;
  std::optional<std::string> path;  // as the message shows it
  int os_code = 0;                  // errno, 0 when none
};

// The stable number of an error kind: its number in the list of kinds, which the C header's
// enumerators are tied to.
srb_error_kind error_kind(const BundleError& error);

ErrorRecord error_record(const BundleError& error);

}  // namespace srb
