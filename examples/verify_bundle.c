/* verify_bundle DIR [PUBLISHER_HEX], in C: checks a runtime bundle in-process, as a launcher
 * would before mounting it, and insists on a signature by the given publisher when one is named.
 * Build it against an installation with pkg-config:
 *   cc -o verify_bundle_c verify_bundle.c $(pkg-config --cflags --libs sarn-runtime-bundle) */
#include <sarn_runtime_bundle/sarn_runtime_bundle.h>

#include <inttypes.h>
#include <stdio.h>

int main(int argc, char **argv) {
  if (argc < 2 || argc > 3) {
    fputs("usage: verify_bundle DIR [PUBLISHER_HEX]\n", stderr);
    return 2;
  }
  srb_verify_request *request = srb_verify_request_new(argv[1]);
  if (request == NULL || (argc == 3 && srb_verify_request_require_publisher(request, argv[2]))) {
    fputs("verify_bundle: out of memory\n", stderr);
    srb_verify_request_free(request);
    return 1;
  }

  srb_error *error = NULL;
  srb_manifest *manifest = srb_verify(request, &error);
  srb_verify_request_free(request);
  if (manifest == NULL) {
    fprintf(stderr, "verify_bundle: %s (kind %d)\n", srb_error_message(error),
            (int)srb_error_get_kind(error));
    srb_error_free(error);
    return 1;
  }
  printf("runtime %s for %s: %zu files, root hash %s\n", srb_manifest_version(manifest),
         srb_manifest_arch(manifest), srb_manifest_file_count(manifest),
         srb_manifest_root_hash(manifest));
  for (size_t i = 0; i < srb_manifest_file_count(manifest); ++i)
    printf("  %s %" PRIu64 "\n", srb_manifest_file_path(manifest, i),
           srb_manifest_file_size(manifest, i));
  if (srb_manifest_publisher_hex(manifest) != NULL)
    printf("signed by %s\n", srb_manifest_publisher_hex(manifest));
  srb_manifest_free(manifest);
  return 0;
}
