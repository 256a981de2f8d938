/* Verifies signed bundles on several threads at once through the C interface, with every
 * requirement set, while other threads read manifests, resolve versions and meet errors: built
 * with ThreadSanitizer together with the library's own sources and BLAKE3's C code, so a data
 * race anywhere on these paths (shared state in the library, in its error records or in what it
 * or BLAKE3 initialises on first use) ends the program with ThreadSanitizer's report.
 *
 * The identity and the bundles are made by a child process, so that this process calls into the
 * library for the first time on its threads: whatever is initialised on first use (BLAKE3's
 * choice of SIMD code, libcrypto) is met by six threads at once, as in a program that starts
 * them before it verifies anything.
 *
 *   verify_threads SCRATCH_DIR */
#include <sarn_runtime_bundle/sarn_runtime_bundle.h>

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

enum { kThreads = 6, kRounds = 4 };

static char bundle_dir[4096];
static char tampered_dir[4096];
static char publisher[65];

static int report(const char* what, srb_error* error) {
  fprintf(stderr, "verify_threads: %s: %s\n", what, srb_error_message(error, NULL));
  srb_error_free(error);
  return 1;
}

static int generate_identity(const char* identity) {
  srb_error* error = NULL;
  char* key = srb_identity_generate(identity, strlen(identity), &error);
  if (key == NULL) return report("identity", error);
  snprintf(publisher, sizeof publisher, "%s", key);
  srb_string_free(key);
  return 0;
}

static int build_signed(const char* identity, const char* out) {
  srb_error* error = NULL;
  srb_build_request* request = srb_build_request_new("1.0", 3, out, strlen(out));
  if (request == NULL || srb_build_request_set_identity(request, identity, strlen(identity)))
    return report("build request", NULL);
  srb_manifest* manifest = srb_build(request, &error);
  srb_build_request_free(request);
  if (manifest == NULL) return report("build", error);
  srb_manifest_free(manifest);
  return 0;
}

/* Appends to the first payload file the manifest lists, so its digest no longer matches. */
static int tamper_first_file(const char* dir) {
  srb_error* error = NULL;
  srb_manifest* manifest = srb_manifest_load(dir, strlen(dir), &error);
  if (manifest == NULL) return report("load", error);
  char path[8192];
  snprintf(path, sizeof path, "%s/%s", dir, srb_manifest_file_path(manifest, 0, NULL));
  srb_manifest_free(manifest);
  FILE* file = fopen(path, "ab");
  if (file == NULL || fputs("tampered", file) < 0 || fclose(file) != 0) {
    perror(path);
    return 1;
  }
  return 0;
}

/* Makes the identity, the bundle and its tampered copy in a child process, which hands the
 * publisher key back through a pipe. */
static int prepare_in_child(const char* scratch) {
  int key_pipe[2];
  if (pipe(key_pipe) != 0) {
    perror("pipe");
    return 1;
  }
  const pid_t child = fork();
  if (child < 0) {
    perror("fork");
    return 1;
  }
  if (child == 0) {
    close(key_pipe[0]);
    char identity[4096 + 32];
    snprintf(identity, sizeof identity, "%s/identity.json", scratch);
    if (generate_identity(identity) || build_signed(identity, bundle_dir) ||
        build_signed(identity, tampered_dir) || tamper_first_file(tampered_dir))
      _exit(1);
    const size_t length = strlen(publisher);
    _exit(write(key_pipe[1], publisher, length) == (ssize_t)length ? 0 : 1);
  }
  close(key_pipe[1]);
  size_t have = 0;
  while (have < sizeof publisher - 1) {
    const ssize_t n = read(key_pipe[0], publisher + have, sizeof publisher - 1 - have);
    if (n <= 0) break;
    have += (size_t)n;
  }
  close(key_pipe[0]);
  publisher[have] = '\0';
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      have != sizeof publisher - 1) {
    fputs("verify_threads: preparing the bundles failed\n", stderr);
    return 1;
  }
  return 0;
}

/* One thread's work: each round verifies the intact bundle with every requirement, the tampered
 * copy (which must fail, naming its file), and round-trips the manifest through its text. */
static void* work(void* unused) {
  (void)unused;
  long failures = 0;
  for (int round = 0; round < kRounds; ++round) {
    srb_verify_request* request = srb_verify_request_new(bundle_dir, strlen(bundle_dir));
    srb_verify_request_require_publisher(request, publisher, strlen(publisher));
    srb_verify_request_require_version(request, "1.0", 3);
    srb_verify_request_require_signature(request, 1);
    srb_error* error = NULL;
    srb_manifest* manifest = srb_verify(request, &error);
    srb_verify_request_free(request);
    if (manifest == NULL) {
      failures += report("verify", error);
      continue;
    }
    size_t length = 0;
    char* text = srb_manifest_render(manifest, &length, &error);
    srb_manifest* parsed = text ? srb_manifest_parse(text, length, &error) : NULL;
    if (parsed == NULL ||
        strcmp(srb_manifest_root_hash(parsed, NULL), srb_manifest_root_hash(manifest, NULL)) != 0)
      failures += report("render and parse", error);
    srb_manifest_free(parsed);
    srb_string_free(text);
    srb_manifest_free(manifest);

    srb_verify_request* tampered = srb_verify_request_new(tampered_dir, strlen(tampered_dir));
    manifest = srb_verify(tampered, &error);
    srb_verify_request_free(tampered);
    if (manifest != NULL || srb_error_get_kind(error) != SRB_ERROR_HASH_MISMATCH ||
        srb_error_path(error, NULL) == NULL) {
      fputs("verify_threads: the tampered copy did not fail with its file\n", stderr);
      ++failures;
    }
    srb_manifest_free(manifest);
    srb_error_free(error);

    int installed = 0;
    char* path = srb_resolve_bundle_path("1.0", 3, 1, &installed, NULL, NULL);
    srb_string_free(path);
  }
  return (void*)failures;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fputs("usage: verify_threads SCRATCH_DIR\n", stderr);
    return 2;
  }
  snprintf(bundle_dir, sizeof bundle_dir, "%s/bundle", argv[1]);
  snprintf(tampered_dir, sizeof tampered_dir, "%s/tampered", argv[1]);
  if (prepare_in_child(argv[1])) return 1;

  pthread_t threads[kThreads];
  for (int i = 0; i < kThreads; ++i)
    if (pthread_create(&threads[i], NULL, work, NULL) != 0) return 1;
  long failures = 0;
  for (int i = 0; i < kThreads; ++i) {
    void* result = NULL;
    pthread_join(threads[i], &result);
    failures += (long)result;
  }
  printf("%d threads verified %d rounds each, %ld failures\n", kThreads, kRounds, failures);
  return failures == 0 ? 0 : 1;
}
