#include "cli/output.hpp"

#include <cerrno>
#include <variant>

#include "core/unique_fd.hpp"

namespace srb {
namespace {

// Enough for any help screen in one write; a build's summary is a few lines.
constexpr std::size_t kFlushAt = 16 * 1024;

}  // namespace

Output& Output::operator<<(std::string_view text) {
  std::string& buffer = text_ != nullptr ? *text_ : pending_;
  buffer += text;
  if (text_ == nullptr && pending_.size() >= kFlushAt) flush();
  return *this;
}

void Output::flush() {
  if (text_ != nullptr || pending_.empty()) return;
  if (!failure_) {
    const Result<void> written = write_all(fd_, pending_);
    if (!written) {
      const auto* io = std::get_if<Io>(&written.error());
      failure_ = io != nullptr && io->error.code != 0 ? io->error.code : EIO;
    }
  }
  pending_.clear();
}

}  // namespace srb
