/* What a launcher does before it starts an application from a bundle: check the bundle. Either in
 * process, through the library's C interface (linked from the static archive or the shared
 * library), or by spawning the tool's `verify` and waiting for it, its output discarded.
 *   launcher BUNDLE                  verify in process
 *   launcher --spawn TOOL BUNDLE     TOOL verify BUNDLE
 * Exits 0 when the bundle verified, 1 otherwise. */

#define _POSIX_C_SOURCE 200809L

#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sarn_runtime_bundle/sarn_runtime_bundle.h>

extern char** environ;

static int verify_in_process(const char* bundle) {
  srb_verify_request* request = srb_verify_request_new(bundle, strlen(bundle));
  srb_error* error = NULL;
  srb_manifest* manifest = request ? srb_verify(request, &error) : NULL;
  if (manifest == NULL && error != NULL)
    fprintf(stderr, "launcher: %s\n", srb_error_message(error, NULL));
  const int status = manifest != NULL ? 0 : 1;
  srb_manifest_free(manifest);
  srb_error_free(error);
  srb_verify_request_free(request);
  return status;
}

static int verify_by_spawning(const char* tool, const char* bundle) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  char* argv[] = {(char*)tool, "verify", (char*)bundle, NULL};
  pid_t pid;
  const int failed = posix_spawn(&pid, tool, &actions, NULL, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed) {
    fprintf(stderr, "launcher: %s: %s\n", tool, strerror(failed));
    return 1;
  }
  int status;
  if (waitpid(pid, &status, 0) < 0) return 1;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
  if (argc == 2) return verify_in_process(argv[1]);
  if (argc == 4 && strcmp(argv[1], "--spawn") == 0) return verify_by_spawning(argv[2], argv[3]);
  fprintf(stderr, "usage: launcher BUNDLE | launcher --spawn TOOL BUNDLE\n");
  return 2;
}
