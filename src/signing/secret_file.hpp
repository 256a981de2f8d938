#pragma once
// Writing key generate's secret to --out: into a device or standard stream where it stands, or
// as a fresh file that replaces whatever was there whole.

#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>

#include "core/result.hpp"

namespace srb {

// Stands for the moment an attacker would pick: after --out is judged and before the
// destination is first touched. Only tests pass one, to change the path at that moment.
using AfterJudging = std::function<void()>;

// What became of a secret that reached its destination.
struct WrittenSecret {
  // True when a new file was renamed over the destination, false for a stream written in place.
  bool replaced_file = false;
  // A failure once the new file had already replaced the destination (closing the file or
  // syncing the directory): the secret is in place, but perhaps not on disk.
  std::optional<OsError> failed_after_replacing;
};

// Writes `text` to `out` as judge_identity_destination directs. A stream is opened without
// creating anything and confirmed on the opened descriptor before the first byte. A file is
// replaced by a new 0600 file in its directory, which must be writable and which nobody but the
// user and root may change (check_secret_directory): the secret goes into an unnamed file,
// which is written, synced, linked in under a random name and renamed over the entry; the entry
// must then be that file, and the directory is synced. Where the file system or the kernel
// offers no unnamed file, or no way to link one in, the random name is created at first.
// SIGINT, SIGTERM and SIGHUP are held back while a named file holds the secret; one that came
// meanwhile removes it (or, once it is renamed, is let through after the rename). Until the
// rename any failure leaves the old entry whole and no new name behind. Fails as the judgement
// does, with ForeignSecretFile when such an entry took the destination's place meanwhile or the
// directory is not safe, and with Io.
Result<WrittenSecret> write_secret_file(const std::filesystem::path& out, std::string_view text,
                                        const AfterJudging& after_judging = {});

}  // namespace srb
