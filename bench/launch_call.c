/* The one call a launcher makes before it starts an application from a bundle, timed in process
 * against digesting the bundle's files in the same process: srb_plan_launch on the installed
 * VERSION under ROOT (found, verified, ownership checked, planned), and the floor's loop over
 * FILE... (file_digest_floor.c). After WARMUP untimed turns, each of RUNS turns times both with
 * the process's CPU clock, in alternating order, and prints
 *   TURN  LAUNCH-NS  DIGEST-NS
 * Linked against the static archive, as a launcher that wants the fast path links it.
 *   launch_call RUNS WARMUP ROOT VERSION FILE... */

#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <sarn_runtime_bundle/sarn_runtime_bundle.h>

#include "file_digest_floor.h"

static long long cpu_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

/* Kept out of line, so that a profiler can count it alone (callgrind --toggle-collect). */
__attribute__((noinline)) int plan_launch_once(const srb_launch_request* request) {
  srb_error* error = NULL;
  srb_launch_plan* plan = srb_plan_launch(request, &error);
  if (plan == NULL) {
    fprintf(stderr, "launch_call: %s\n", srb_error_message(error, NULL));
    srb_error_free(error);
    return -1;
  }
  srb_launch_plan_free(plan);
  return 0;
}

__attribute__((noinline)) int digest_files(char** files, int count) {
  for (int i = 0; i < count; ++i) {
    unsigned char digest[BLAKE3_OUT_LEN];
    if (floor_digest(files[i], digest) != 0) {
      fprintf(stderr, "launch_call: %s: %s\n", files[i], strerror(errno));
      return -1;
    }
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 6) {
    fprintf(stderr, "usage: launch_call RUNS WARMUP ROOT VERSION FILE...\n");
    return 2;
  }
  const int runs = atoi(argv[1]);
  const int warmup = atoi(argv[2]);
  const char* root = argv[3];
  const char* version = argv[4];
  srb_launch_request* request = srb_launch_request_new(version, strlen(version));
  if (request == NULL || srb_launch_request_set_user_root(request, root, strlen(root)) != 0 ||
      srb_launch_request_set_system_root(request, root, strlen(root)) != 0) {
    fprintf(stderr, "launch_call: out of memory\n");
    return 1;
  }
  int status = 0;
  for (int turn = -warmup; turn < runs && status == 0; ++turn) {
    long long launch = 0, digest = 0;
    for (int k = 0; k < 2 && status == 0; ++k) {
      const int launch_now = (k == 0) == (turn % 2 == 0);
      const long long start = cpu_ns();
      status = launch_now ? plan_launch_once(request) : digest_files(argv + 5, argc - 5);
      *(launch_now ? &launch : &digest) = cpu_ns() - start;
    }
    if (status == 0 && turn >= 0) printf("%d\t%lld\t%lld\n", turn, launch, digest);
  }
  srb_launch_request_free(request);
  return status == 0 ? 0 : 1;
}
