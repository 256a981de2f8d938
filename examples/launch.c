/* launch VERSION PUBLISHER_HEX PROGRAM [ARG...], in C: runs PROGRAM on the installed runtime
 * bundle of VERSION, the way a launcher does. It finds the bundle, verifies it with the
 * publisher's signature and the version itself required (a bundle copied under another
 * version's directory is refused), and execs the bundle's loader on PROGRAM with the bundle's
 * library directories, so that PROGRAM runs on the bundle's C library, not the host's.
 * Build it against an installation with pkg-config:
 *   cc -o launch launch.c $(pkg-config --cflags --libs sarn-runtime-bundle) */
#include <sarn_runtime_bundle/sarn_runtime_bundle.h>

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

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

  /* The requirements; the version itself is bound by srb_launch_plan_for_version. */
  srb_verify_request* requirements = srb_verify_request_new(NULL, 0);
  if (requirements == NULL ||
      srb_verify_request_require_publisher(requirements, publisher, strlen(publisher)) != 0) {
    fputs("launch: out of memory\n", stderr);
    srb_verify_request_free(requirements);
    return 1;
  }
  srb_error* error = NULL;
  /* Resolve the tag, verify the bundle found with every requirement, and plan the launch. */
  srb_launch_plan* plan =
      srb_launch_plan_for_version(version, strlen(version), 0, requirements, &error);
  srb_verify_request_free(requirements);
  if (plan == NULL) return fail(error);

  /* loader --library-path DIR:DIR... PROGRAM ARG... */
  char** command =
      srb_launch_plan_argv(plan, argv[3], (const char* const*)argv + 4, (size_t)(argc - 4), &error);
  srb_launch_plan_free(plan);
  if (command == NULL) return fail(error);
  execv(command[0], command);
  fprintf(stderr, "launch: %s: %s\n", command[0], strerror(errno));
  srb_argv_free(command);
  return 127;
}
