#pragma once
// The general reader of bundle.toml, through toml++: parse_manifest hands it every text that is
// not exactly in the writer's layout (written_layout.hpp).

#include <string_view>

#include "manifest/manifest.hpp"

namespace srb {

// Any TOML document mapped onto the record, with the detailed errors and the memory bound that
// parse_manifest describes.
Result<BundleManifest> parse_toml_manifest(std::string_view text);

}  // namespace srb
