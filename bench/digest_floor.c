/* The floor of verify: the files a bundle lists, digested one after the other in one process,
 * each read through one 8192-byte buffer into BLAKE3, and nothing else (no manifest, no listing,
 * no root hash, no C++ runtime). Prints each digest as b3sum does, so the result can be checked
 * against the tool's, and so it can fabricate a manifest's digests.
 *   digest_floor FILE... */

#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "file_digest_floor.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: digest_floor FILE...\n");
    return 2;
  }
  for (int i = 1; i < argc; ++i) {
    unsigned char digest[BLAKE3_OUT_LEN];
    if (floor_digest(argv[i], digest) != 0) {
      fprintf(stderr, "digest_floor: %s: %s\n", argv[i], strerror(errno));
      return 1;
    }
    for (size_t k = 0; k < BLAKE3_OUT_LEN; ++k)
      printf("%02x", digest[k]);
    printf("  %s\n", argv[i]);
  }
  return 0;
}
