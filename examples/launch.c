/* launch VERSION PUBLISHER_HEX PROGRAM [ARG...], in C: runs PROGRAM on the installed runtime
 * bundle of VERSION, the way a launcher does. It finds the bundle (per user first, then the
 * system's), verifies it with the publisher's signature, the version itself and this machine's
 * architecture required, checks that nobody but root and the caller can change it, and execs the
 * bundle's loader on PROGRAM with the bundle's library directories and the caller's environment
 * without its LD_ variables, so that PROGRAM runs on the bundle's C library, not the host's.
 * PROGRAM must be a path (with a '/'): the loader does not search PATH.
 * Build it against an installation with pkg-config:
 *   cc -o launch launch.c $(pkg-config --cflags --libs sarn-runtime-bundle) */
#include <sarn_runtime_bundle/sarn_runtime_bundle.h>

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#if !SARN_RUNTIME_BUNDLE_VERSION_AT_LEAST(1, 1, 0)
#error "this launcher needs the checked launch of sarn-runtime-bundle 1.1"
#endif

static int fail(srb_error* error) {
  const char* path = srb_error_path(error, NULL);
  fprintf(stderr, "launch: %s (kind %d", srb_error_message(error, NULL),
          (int)srb_error_get_kind(error));
  if (path != NULL) fprintf(stderr, ", file %s", path);
  fputs(")\n", stderr);
  srb_error_free(error);
  return 1;
}

int main(int argc, char** argv) {
  if (argc < 4) {
    fputs("usage: launch VERSION PUBLISHER_HEX PROGRAM [ARG...]\n", stderr);
    return 2;
  }
  const char* version = argv[1];
  const char* publisher = argv[2];

  srb_launch_request* request = srb_launch_request_new(version, strlen(version));
  if (request == NULL ||
      srb_launch_request_require_publisher(request, publisher, strlen(publisher)) != 0) {
    fputs("launch: out of memory\n", stderr);
    srb_launch_request_free(request);
    return 1;
  }
  srb_error* error = NULL;
  /* Find, verify, check ownership and plan, in one call. */
  srb_launch_plan* plan = srb_plan_launch(request, &error);
  srb_launch_request_free(request);
  if (plan == NULL) return fail(error);

  /* loader --library-path DIR:DIR... PROGRAM ARG... */
  char** command = srb_launch_plan_command(plan, argv[3], NULL, (const char* const*)argv + 4,
                                           (size_t)(argc - 4), &error);
  srb_launch_plan_free(plan);
  if (command == NULL) return fail(error);
  char** environment = srb_launch_environment(NULL, &error);
  if (environment == NULL) {
    srb_argv_free(command);
    return fail(error);
  }
  execve(command[0], command, environment);
  fprintf(stderr, "launch: %s: %s\n", command[0], strerror(errno));
  srb_argv_free(environment);
  srb_argv_free(command);
  return 127;
}
