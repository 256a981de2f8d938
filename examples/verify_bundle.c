/* verify_bundle DIR [PUBLISHER_HEX], in C: checks a runtime bundle in-process, as a launcher
 * does before it runs a program on it, and insists on a signature by the given publisher when
 * one is named. Texts go to the library as pointer and length.
 * Build it against an installation with pkg-config:
 *   cc -o verify_bundle_c verify_bundle.c $(pkg-config --cflags --libs sarn-runtime-bundle) */
#include <sarn_runtime_bundle/sarn_runtime_bundle.h>

#include <inttypes.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    fputs("usage: verify_bundle DIR [PUBLISHER_HEX]\n", stderr);
    return 2;
  }
  srb_verify_request* request = srb_verify_request_new(argv[1], strlen(argv[1]));
  if (request == NULL ||
      (argc == 3 && srb_verify_request_require_publisher(request, argv[2], strlen(argv[2])))) {
    fputs("verify_bundle: out of memory\n", stderr);
    srb_verify_request_free(request);
    return 1;
  }

  srb_error* error = NULL;
  srb_manifest* manifest = srb_verify(request, &error);
  srb_verify_request_free(request);
  if (manifest == NULL) {
    const char* path = srb_error_path(error, NULL);
    fprintf(stderr, "verify_bundle: %s (kind %d", srb_error_message(error, NULL),
            (int)srb_error_get_kind(error));
    if (path != NULL) fprintf(stderr, ", file %s", path);
    fputs(")\n", stderr);
    srb_error_free(error);
    return 1;
  }
  printf("runtime %s for %s: %zu files, root hash %s\n", srb_manifest_version(manifest, NULL),
         srb_manifest_arch(manifest, NULL), srb_manifest_file_count(manifest),
         srb_manifest_root_hash(manifest, NULL));
  for (size_t i = 0; i < srb_manifest_file_count(manifest); ++i)
    printf("  %s %" PRIu64 "\n", srb_manifest_file_path(manifest, i, NULL),
           srb_manifest_file_size(manifest, i));
  if (srb_manifest_publisher_hex(manifest, NULL) != NULL)
    printf("signed by %s\n", srb_manifest_publisher_hex(manifest, NULL));
  srb_manifest_free(manifest);
  return 0;
}
