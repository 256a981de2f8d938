/* The least work a digest of one file can be under this design: read it from its first byte
 * through one 8192-byte buffer and feed every chunk to BLAKE3, nothing else. The floor program
 * and the in-process launch benchmark share it, so both compare against the same loop. */
#ifndef SRB_BENCH_FILE_DIGEST_FLOOR_H
#define SRB_BENCH_FILE_DIGEST_FLOOR_H

#include "blake3.h"

/* Digests `path` into `out`; 0 on success, -1 with errno set. */
int floor_digest(const char* path, unsigned char out[BLAKE3_OUT_LEN]);

#endif
