// The bundle.toml reader on arbitrary text. A parse either fails with a ManifestParse error or
// yields a record that the writer renders and the reader reads back to the same record: what
// verify reads is exactly what build would have written for it. Error messages are printed on
// a terminal, so they must be valid UTF-8.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "cli/text.hpp"
#include "fuzz_check.hpp"
#include "manifest/manifest.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const srb::Result<srb::BundleManifest> manifest = srb::parse_manifest(text);
  if (!manifest) {
    FUZZ_CHECK(std::holds_alternative<srb::ManifestParse>(manifest.error()));
    FUZZ_CHECK(srb::is_valid_utf8(srb::message(manifest.error())));
    return 0;
  }
  const srb::Result<std::string> rendered = srb::render_manifest(*manifest);
  FUZZ_CHECK(rendered.has_value());
  const srb::Result<srb::BundleManifest> reread = srb::parse_manifest(*rendered);
  FUZZ_CHECK(reread.has_value());
  FUZZ_CHECK(*reread == *manifest);
  return 0;
}
