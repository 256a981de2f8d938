#include "tests/support/temp_dir.hpp"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>

namespace srb::test {
namespace {

// Tests may leave directories without permissions behind; give them back before removal.
void make_removable(const std::filesystem::path& root) {
  std::error_code ec;
  ::chmod(root.c_str(), 0700);
  for (auto it = std::filesystem::recursive_directory_iterator(
           root, std::filesystem::directory_options::skip_permission_denied, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0700);
  }
}

}  // namespace

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/srb-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::TempDir(const std::filesystem::path& base) {
  std::string pattern = (base / "srb-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  make_removable(path_);
  std::filesystem::remove_all(path_, ec);
}

void write_file(const std::filesystem::path& path, std::string_view content, mode_t mode) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(content.data(), static_cast<std::streamsize>(content.size()));
  file.close();
  if (!file || ::chmod(path.c_str(), mode) != 0)
    throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::string> names_in(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  for (const std::filesystem::directory_entry& entry :
       std::filesystem::directory_iterator(directory))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool make_memory_device(const std::filesystem::path& path, unsigned minor) {
  return ::mknod(path.c_str(), S_IFCHR | 0666, ::makedev(1, minor)) == 0 &&
         ::chmod(path.c_str(), 0666) == 0;
}

mode_t permissions_of(const std::filesystem::path& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0)
    throw std::runtime_error("cannot read the status of " + path.string());
  return status.st_mode & 07777;
}

std::optional<std::string> read_file_if_present(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

std::string read_file(const std::filesystem::path& path) {
  std::optional<std::string> content = read_file_if_present(path);
  if (!content) throw std::runtime_error("cannot read " + path.string());
  return std::move(*content);
}

void make_host_root(const std::filesystem::path& root,
                    std::initializer_list<std::string_view> host_paths) {
  for (std::string_view host_path : host_paths) {
    write_file(root / std::filesystem::path(host_path).relative_path(),
               "content of " + std::string(host_path) + "\n");
  }
}

}  // namespace srb::test
