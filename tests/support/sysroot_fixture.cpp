#include "tests/support/sysroot_fixture.hpp"

#include "tests/support/temp_dir.hpp"

namespace srb::test {

namespace fs = std::filesystem;

fs::path make_linked_root(const fs::path& dir) {
  const fs::path root = dir / "linked";
  make_host_root(root, {"/usr/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2",
                        "/usr/lib/x86_64-linux-gnu/libc.so.6", "/secret", "/etc/ld.so.cache"});
  write_file(dir / "host-only/libm.so.6", "host libm\n");
  write_file(dir / "secret", "host secret\n");
  fs::create_directory_symlink("/usr/lib", root / "lib");
  fs::create_directories(root / "lib64");
  fs::create_symlink("/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2",
                     root / "lib64/ld-linux-x86-64.so.2");
  fs::create_symlink("/usr/lib/x86_64-linux-gnu/libc.so.6", root / "lib64/libc.so.6");
  fs::create_symlink(dir / "host-only/libm.so.6", root / "lib64/libm.so.6");
  fs::create_symlink("../../secret", root / "lib64/libdl.so.2");
  fs::create_symlink("/../../etc/hostname", root / "lib64/libutil.so.1");
  fs::create_symlink("loop", root / "lib64/libpthread.so.0");
  fs::create_symlink("/lib64/libpthread.so.0", root / "lib64/loop");
  return root;
}

void make_debian_like_root(const fs::path& root) {
  make_host_root(root, {"/usr/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2",
                        "/usr/lib/x86_64-linux-gnu/libc.so.6",
                        "/usr/lib/x86_64-linux-gnu/libm.so.6", "/etc/ld.so.cache"});
  fs::create_directory_symlink("usr/lib", root / "lib");
  fs::create_directory_symlink("usr/lib64", root / "lib64");
  fs::create_directories(root / "usr/lib64");
  fs::create_symlink("/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2",
                     root / "usr/lib64/ld-linux-x86-64.so.2");
}

}  // namespace srb::test
