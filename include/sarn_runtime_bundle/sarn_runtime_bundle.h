/* The C interface of libsarn-runtime-bundle, for launchers written in C or in any language with
 * a C foreign-function interface: verify a bundle, find an installed one, build one.
 *
 * Conventions:
 * - Strings are NUL-terminated byte strings; paths are passed and returned as the bytes the
 *   file system uses. A manifest text that holds a NUL byte (TOML can write one as \u0000) ends
 *   there when read through this interface; the C++ interface has it whole.
 * - Every handle is opaque and owned by the caller, who frees it with the matching *_free
 *   function. Every *_free function accepts NULL.
 * - A function that can fail returns NULL (or -1) and, when `error` is not NULL, stores a new
 *   srb_error there; on success it stores NULL. The caller frees that error.
 * - Nothing prints, and no C++ exception ever leaves a function of this header. When memory runs
 *   out, the failure is an SRB_ERROR_IO error whose message says so.
 * - A null pointer where a handle or a string is expected is refused, never followed: the
 *   function returns NULL, -1 or 0, and one that reports errors reports SRB_ERROR_IO with
 *   "Invalid argument (os error 22)".
 * - The system's libcrypto.so.3 (OpenSSL) is loaded the first time a key is made or a signature
 *   made or checked, never before; when it cannot be loaded, those calls fail with SRB_ERROR_IO,
 *   "i/o: Can not access a needed shared library (os error 79)".
 *
 *   srb_verify_request *request = srb_verify_request_new("/usr/lib/sarn-runtime/1.0");
 *   srb_error *error = NULL;
 *   srb_manifest *manifest = request ? srb_verify(request, &error) : NULL;
 *   if (manifest == NULL && error != NULL) fprintf(stderr, "%s\n", srb_error_message(error));
 *   srb_manifest_free(manifest);
 *   srb_error_free(error);
 *   srb_verify_request_free(request);
 *
 * Link with `pkg-config --cflags --libs sarn-runtime-bundle`. */
#ifndef SARN_RUNTIME_BUNDLE_H
#define SARN_RUNTIME_BUNDLE_H

#include <stddef.h>
#include <stdint.h>

#if defined(SARN_RUNTIME_BUNDLE_BUILDING)
#define SARN_RUNTIME_BUNDLE_API __attribute__((visibility("default")))
#else
#define SARN_RUNTIME_BUNDLE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* What went wrong. The values are fixed for good: new kinds are appended, none is ever
 * renumbered or reused. Each kind has one message template; srb_error_message gives the
 * filled-in text, exactly as the sarn-runtime-bundle tool prints it after its command prefix. */
typedef enum srb_error_kind {
  SRB_ERROR_IO = 1,
  SRB_ERROR_NO_BUNDLE_SOURCES = 2,
  SRB_ERROR_MANIFEST_MISSING = 3,
  SRB_ERROR_MANIFEST_PARSE = 4,
  SRB_ERROR_HASH_MISMATCH = 5,
  SRB_ERROR_MISSING_FROM_PAYLOAD = 6,
  SRB_ERROR_UNLISTED_PAYLOAD_FILE = 7,
  SRB_ERROR_INVALID_PAYLOAD_PATH = 8,
  SRB_ERROR_NOT_REGULAR_FILE = 9,
  SRB_ERROR_DATA_DIR_UNRESOLVABLE = 10,
  SRB_ERROR_INVALID_SOURCE_DATE_EPOCH = 11,
  SRB_ERROR_SIGNATURE_REQUIRED = 12,
  SRB_ERROR_SIGNATURE_INVALID = 13,
  SRB_ERROR_PUBLISHER_MISMATCH = 14,
  SRB_ERROR_ARCH_MISMATCH = 15,
  SRB_ERROR_UNSUPPORTED_ARCH = 16,
  SRB_ERROR_IDENTITY_READ = 17,
  SRB_ERROR_IDENTITY_INVALID = 18,
  SRB_ERROR_MALFORMED_SIGNATURE_FIELD = 19,
  SRB_ERROR_INCLUDE_MISSING = 20,
  SRB_ERROR_INCLUDE_NO_FILE_NAME = 21,
  SRB_ERROR_DUPLICATE_INCLUDE = 22,
  SRB_ERROR_INCLUDE_INVALID_FILE_NAME = 23,
  SRB_ERROR_UNSAFE_DESTINATION = 24,
  SRB_ERROR_DESTINATION_CHANGED = 25,
  SRB_ERROR_FOREIGN_SECRET_FILE = 26,
  SRB_ERROR_INVALID_VERSION_TAG = 27,
  SRB_ERROR_VERSION_MISMATCH = 28
} srb_error_kind;

typedef struct srb_error srb_error;
typedef struct srb_manifest srb_manifest;
typedef struct srb_verify_request srb_verify_request;
typedef struct srb_build_request srb_build_request;

/* ---- Errors ---- */

SARN_RUNTIME_BUNDLE_API srb_error_kind srb_error_get_kind(const srb_error *error);
/* The message, without a trailing line feed; valid until the error is freed. */
SARN_RUNTIME_BUNDLE_API const char *srb_error_message(const srb_error *error);
SARN_RUNTIME_BUNDLE_API void srb_error_free(srb_error *error);

/* ---- Manifests: the record form of bundle.toml ---- */

SARN_RUNTIME_BUNDLE_API const char *srb_manifest_version(const srb_manifest *manifest);
SARN_RUNTIME_BUNDLE_API const char *srb_manifest_arch(const srb_manifest *manifest);
/* 64 lower-case hexadecimal characters. */
SARN_RUNTIME_BUNDLE_API const char *srb_manifest_root_hash(const srb_manifest *manifest);
SARN_RUNTIME_BUNDLE_API uint64_t srb_manifest_produced_at(const srb_manifest *manifest);
/* NULL for an unsigned bundle. */
SARN_RUNTIME_BUNDLE_API const char *srb_manifest_publisher_hex(const srb_manifest *manifest);
SARN_RUNTIME_BUNDLE_API const char *srb_manifest_signature_hex(const srb_manifest *manifest);
SARN_RUNTIME_BUNDLE_API size_t srb_manifest_file_count(const srb_manifest *manifest);
/* The payload entries in manifest order; NULL (or 0) for an index past the end. */
SARN_RUNTIME_BUNDLE_API const char *srb_manifest_file_path(const srb_manifest *manifest,
                                                           size_t index);
SARN_RUNTIME_BUNDLE_API const char *srb_manifest_file_hash(const srb_manifest *manifest,
                                                           size_t index);
SARN_RUNTIME_BUNDLE_API uint64_t srb_manifest_file_size(const srb_manifest *manifest,
                                                        size_t index);
SARN_RUNTIME_BUNDLE_API void srb_manifest_free(srb_manifest *manifest);

/* ---- Verifying ---- */

/* A request to verify the bundle in `bundle_dir`, with no requirement set. NULL when out of
 * memory. The setters copy their argument and return 0, or -1 when out of memory. */
SARN_RUNTIME_BUNDLE_API srb_verify_request *srb_verify_request_new(const char *bundle_dir);
/* The manifest's arch must equal `arch` byte for byte. */
SARN_RUNTIME_BUNDLE_API int srb_verify_request_require_arch(srb_verify_request *request,
                                                            const char *arch);
/* The bundle must be signed by this public key (hexadecimal, either case); implies a
 * signature. */
SARN_RUNTIME_BUNDLE_API int srb_verify_request_require_publisher(srb_verify_request *request,
                                                                 const char *publisher_hex);
/* Non-zero: an unsigned bundle fails with SRB_ERROR_SIGNATURE_REQUIRED. */
SARN_RUNTIME_BUNDLE_API void srb_verify_request_require_signature(srb_verify_request *request,
                                                                  int required);
SARN_RUNTIME_BUNDLE_API void srb_verify_request_free(srb_verify_request *request);

/* Checks the bundle: every listed file present with its digest, nothing unlisted, the root hash,
 * the signature, and the requirements. Returns the manifest as read, or NULL and the first
 * failure found. Reads, never writes. */
SARN_RUNTIME_BUNDLE_API srb_manifest *srb_verify(const srb_verify_request *request,
                                                 srb_error **error);

/* ---- Locating ---- */

/* The directory of the bundle for a version tag, to be freed with srb_string_free: the per-user
 * one if it holds that version, else the system one if it does, else the per-user one. With
 * `system_only` non-zero, the system location, looking at nothing. */
SARN_RUNTIME_BUNDLE_API char *srb_resolve_bundle_path(const char *version, int system_only,
                                                      srb_error **error);
SARN_RUNTIME_BUNDLE_API void srb_string_free(char *text);

/* ---- Building ---- */

/* A request to build the bundle for `version` into the directory `out` from this host ("/"),
 * for the architecture the library was built for, unsigned. NULL when out of memory. The
 * setters copy their argument and return 0, or -1 when out of memory. */
SARN_RUNTIME_BUNDLE_API srb_build_request *srb_build_request_new(const char *version,
                                                                 const char *out);
/* The host root whose loader and C runtime are copied. */
SARN_RUNTIME_BUNDLE_API int srb_build_request_set_from(srb_build_request *request,
                                                       const char *host_root);
SARN_RUNTIME_BUNDLE_API int srb_build_request_set_arch(srb_build_request *request,
                                                       const char *arch);
/* Sign with the identity file at this path. */
SARN_RUNTIME_BUNDLE_API int srb_build_request_set_identity(srb_build_request *request,
                                                           const char *identity_path);
/* One more shared object to place at the top of the bundle's lib/. */
SARN_RUNTIME_BUNDLE_API int srb_build_request_add_include(srb_build_request *request,
                                                          const char *path);
SARN_RUNTIME_BUNDLE_API void srb_build_request_free(srb_build_request *request);

/* Builds the bundle and returns its manifest as written to bundle.toml, or NULL and the first
 * failure. A failed build leaves what it already wrote. */
SARN_RUNTIME_BUNDLE_API srb_manifest *srb_build(const srb_build_request *request,
                                                srb_error **error);

#ifdef __cplusplus
}
#endif

#endif
