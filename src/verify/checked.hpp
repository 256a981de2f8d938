#pragma once
// What verify saw of the files and directories it checked, taken from the descriptors it opened,
// so that whoever judges them further (a launcher checking ownership, or choosing its loader by
// an ELF header) judges what was verified rather than whatever a second look would find.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <string>

namespace srb {

// How many bytes of each listed file verify keeps: an ELF header fits.
inline constexpr std::size_t kCheckedHeadSize = 64;

// One file's identity, owner and bits, from fstat on the descriptor verify opened.
struct CheckedStatus {
  dev_t device = 0;
  ino_t inode = 0;
  uid_t owner = 0;
  gid_t group = 0;
  mode_t mode = 0;  // the type and the permission bits
};

inline CheckedStatus checked_status(const struct stat& status) {
  return {status.st_dev, status.st_ino, status.st_uid, status.st_gid, status.st_mode};
}

// A listed file: the manifest's path, its status, and its first bytes as the digest read them.
struct CheckedFile {
  std::string path;
  CheckedStatus status;
  std::string head;  // up to kCheckedHeadSize bytes; fewer for a shorter file
  // Whether the bytes the digest read hold the text a request searched this file for.
  bool holds_text = false;
};

// A directory of the payload: its location relative to the bundle as the listing spells it
// ("" for the bundle directory itself), and its status as the listing opened it.
struct CheckedDirectory {
  std::string path;
  CheckedStatus status;
};

}  // namespace srb
