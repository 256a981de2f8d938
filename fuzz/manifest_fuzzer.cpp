// The bundle.toml reader on arbitrary text. A parse either fails with a ManifestParse error or
// yields a record that the writer renders and the reader reads back to the same record: what
// verify reads is exactly what build would have written for it. Error messages are printed on
// a terminal, so they must be valid UTF-8. Whatever text the direct reader of the writer's
// layout accepts, toml++ must read to the same record.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "core/text.hpp"
#include "fuzz_check.hpp"
#include "manifest/manifest.hpp"
#include "manifest/manifest_reader.hpp"
#include "manifest/written_layout.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const std::optional<srb::BundleManifest> direct = srb::read_written_layout(text)) {
    const srb::Result<srb::BundleManifest> general = srb::parse_toml_manifest(text);
    FUZZ_CHECK(general.has_value());
    FUZZ_CHECK(*general == *direct);
  }
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
