#define _POSIX_C_SOURCE 200809L

#include "file_digest_floor.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

int floor_digest(const char* path, unsigned char out[BLAKE3_OUT_LEN]) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  blake3_hasher hasher;
  blake3_hasher_init(&hasher);
  unsigned char buffer[8192];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      close(fd);
      errno = error;
      return -1;
    }
    if (n == 0) break;
    blake3_hasher_update(&hasher, buffer, (size_t)n);
  }
  close(fd);
  blake3_hasher_finalize(&hasher, out, BLAKE3_OUT_LEN);
  return 0;
}
