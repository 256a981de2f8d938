#pragma once
// Writing key generate's secret to --out: into a device or standard stream where it stands, or
// as a fresh file that replaces whatever was there whole.

#include <filesystem>
#include <functional>
#include <string_view>

#include "core/result.hpp"

namespace srb {

// Stands for the moment an attacker would pick: after --out is judged and before the
// destination is first touched. Only tests pass one, to change the path at that moment.
using AfterJudging = std::function<void()>;

// Writes `text` to `out` as judge_identity_destination directs. A stream is opened without
// creating anything and confirmed on the opened descriptor before the first byte. A file is
// replaced by a new 0600 file under a random name in its directory (which must therefore be
// writable): written, synced, looked at once more, renamed over the entry, and the directory
// synced. Until the rename any failure removes the new file and leaves the old entry whole.
// Fails as the judgement does, with ForeignSecretFile when such an entry took the
// destination's place meanwhile, and with Io.
Result<void> write_secret_file(const std::filesystem::path& out, std::string_view text,
                               const AfterJudging& after_judging = {});

}  // namespace srb
