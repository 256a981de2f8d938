/* The C interface of libsarn-runtime-bundle, for launchers written in C or in any language with
 * a C foreign-function interface: verify a bundle, find an installed one, build one, read and
 * write manifests and signing identities. The C++ headers beside this one are inline wrappers
 * over it.
 *
 * Conventions:
 * - Every text passed in is a pointer and a length in bytes, so that a text may hold NUL bytes
 *   and need not end in one. A path holding a NUL byte names no file: the operation fails with
 *   SRB_ERROR_IO "Invalid argument (os error 22)".
 * - Every text handed out ends in a NUL byte. Where it may also hold NUL bytes before that end
 *   (manifest fields, messages and paths of errors, resolved paths), the function takes a
 *   `size_t *length` that receives its length when not NULL.
 * - Every handle is opaque and owned by the caller, who frees it with the matching *_free
 *   function; a `char *` result is freed with srb_string_free. Every *_free function accepts
 *   NULL. A `const char *` result belongs to the handle it came from and lives as long as it.
 * - A function that can fail returns NULL (or -1) and, when `error` is not NULL, stores a new
 *   srb_error there; on success it stores NULL. The caller frees that error.
 * - Nothing prints, and no C++ exception ever leaves a function of this header. When memory runs
 *   out, the failure is an SRB_ERROR_IO error whose message says so.
 * - A null pointer where a handle or a text is expected is refused, never followed: the function
 *   returns NULL, -1 or 0, and one that reports errors reports SRB_ERROR_IO with
 *   "Invalid argument (os error 22)". A null text with length 0 is the empty text.
 * - The system's libcrypto.so.3 (OpenSSL) is loaded the first time a key is made or a signature
 *   made or checked, never before; when it cannot be loaded, those calls fail with SRB_ERROR_IO,
 *   "i/o: Can not access a needed shared library (os error 79)".
 *
 *   const char *dir = "/usr/lib/sarn-runtime/1.0";
 *   srb_verify_request *request = srb_verify_request_new(dir, strlen(dir));
 *   srb_error *error = NULL;
 *   srb_manifest *manifest = request ? srb_verify(request, &error) : NULL;
 *   if (manifest == NULL && error != NULL) fprintf(stderr, "%s\n", srb_error_message(error, NULL));
 *   srb_manifest_free(manifest);
 *   srb_error_free(error);
 *   srb_verify_request_free(request);
 *
 * Link with `pkg-config --cflags --libs sarn-runtime-bundle`. docs/library.md states the ABI
 * policy, which calls may run concurrently and the error model. */
#ifndef SARN_RUNTIME_BUNDLE_H
#define SARN_RUNTIME_BUNDLE_H

#include <stddef.h>
#include <stdint.h>

/* The version of this header. A program built against MAJOR runs with any library of the same
 * MAJOR (the SONAME libsarn-runtime-bundle.so.MAJOR) and at least its MINOR. */
#define SARN_RUNTIME_BUNDLE_VERSION_MAJOR 1
#define SARN_RUNTIME_BUNDLE_VERSION_MINOR 1
#define SARN_RUNTIME_BUNDLE_VERSION_PATCH 0

#if defined(SARN_RUNTIME_BUNDLE_BUILDING)
#define SARN_RUNTIME_BUNDLE_API __attribute__((visibility("default")))
#else
#define SARN_RUNTIME_BUNDLE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* "MAJOR.MINOR.PATCH" of the library loaded, which may be newer than the header. */
SARN_RUNTIME_BUNDLE_API const char* srb_version(void);
/* Since 1.1. The same as numbers; a null pointer skips its part. A program built against 1.1 that
 * may find an older library loaded asks for the version the other way first: srb_version. */
SARN_RUNTIME_BUNDLE_API void srb_version_numbers(unsigned* major, unsigned* minor, unsigned* patch);
/* Whether the header is at least MAJOR.MINOR.PATCH, for code that uses what a version added:
 * #if SARN_RUNTIME_BUNDLE_VERSION_AT_LEAST(1, 1, 0) */
#define SARN_RUNTIME_BUNDLE_VERSION_AT_LEAST(major, minor, patch) \
  (SARN_RUNTIME_BUNDLE_VERSION_MAJOR > (major) ||                 \
   (SARN_RUNTIME_BUNDLE_VERSION_MAJOR == (major) &&               \
    (SARN_RUNTIME_BUNDLE_VERSION_MINOR > (minor) ||               \
     (SARN_RUNTIME_BUNDLE_VERSION_MINOR == (minor) &&             \
      SARN_RUNTIME_BUNDLE_VERSION_PATCH >= (patch)))))

/* What went wrong. The values are fixed for good: new kinds are appended, none is ever
 * renumbered or reused, so a program must expect numbers it does not know. Each kind has one
 * message template; srb_error_message gives the filled-in text, exactly as the
 * sarn-runtime-bundle tool prints it after its command prefix. */
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
  SRB_ERROR_VERSION_MISMATCH = 28,
  /* Since 1.1. */
  SRB_ERROR_UNSAFE_BUNDLE = 29,
  SRB_ERROR_NOT_INSTALLED = 30
} srb_error_kind;

typedef struct srb_error srb_error;
typedef struct srb_manifest srb_manifest;
typedef struct srb_verify_request srb_verify_request;
typedef struct srb_build_request srb_build_request;
typedef struct srb_launch_plan srb_launch_plan;
typedef struct srb_launch_request srb_launch_request;
typedef struct srb_installed srb_installed;

/* ---- Errors ---- */

SARN_RUNTIME_BUNDLE_API srb_error_kind srb_error_get_kind(const srb_error* error);
/* The message, without a trailing line feed. */
SARN_RUNTIME_BUNDLE_API const char* srb_error_message(const srb_error* error, size_t* length);
/* The file the error concerns, as its message shows it: a payload entry's bundle path
 * ("lib/libc.so.6", also for SRB_ERROR_HASH_MISMATCH, whose message names no file), or the
 * path of a manifest, an include or a destination as it was given. NULL when the error concerns
 * no single file (a hash mismatch of the root hash among them). */
SARN_RUNTIME_BUNDLE_API const char* srb_error_path(const srb_error* error, size_t* length);
/* The operating system's error number (errno) behind the error: that of an i/o failure or of an
 * unreadable identity, ENOENT for the kinds that say a file is absent (manifest, payload entry,
 * include); 0 when there is none. */
SARN_RUNTIME_BUNDLE_API int srb_error_os_code(const srb_error* error);
SARN_RUNTIME_BUNDLE_API void srb_error_free(srb_error* error);

/* ---- Manifests: the record form of bundle.toml ---- */

SARN_RUNTIME_BUNDLE_API const char* srb_manifest_version(const srb_manifest* manifest,
                                                         size_t* length);
SARN_RUNTIME_BUNDLE_API const char* srb_manifest_arch(const srb_manifest* manifest, size_t* length);
/* 64 lower-case hexadecimal characters in a manifest build or verify wrote or accepted. */
SARN_RUNTIME_BUNDLE_API const char* srb_manifest_root_hash(const srb_manifest* manifest,
                                                           size_t* length);
/* Seconds since the epoch. */
SARN_RUNTIME_BUNDLE_API uint64_t srb_manifest_produced_at(const srb_manifest* manifest);
/* NULL for an unsigned bundle. */
SARN_RUNTIME_BUNDLE_API const char* srb_manifest_publisher_hex(const srb_manifest* manifest,
                                                               size_t* length);
SARN_RUNTIME_BUNDLE_API const char* srb_manifest_signature_hex(const srb_manifest* manifest,
                                                               size_t* length);
SARN_RUNTIME_BUNDLE_API size_t srb_manifest_file_count(const srb_manifest* manifest);
/* The payload entries in manifest order; NULL (or 0) for an index past the end. A path is
 * "/"-separated and relative to the bundle root ("lib/libc.so.6"). */
SARN_RUNTIME_BUNDLE_API const char* srb_manifest_file_path(const srb_manifest* manifest,
                                                           size_t index, size_t* length);
SARN_RUNTIME_BUNDLE_API const char* srb_manifest_file_hash(const srb_manifest* manifest,
                                                           size_t index, size_t* length);
SARN_RUNTIME_BUNDLE_API uint64_t srb_manifest_file_size(const srb_manifest* manifest, size_t index);
SARN_RUNTIME_BUNDLE_API void srb_manifest_free(srb_manifest* manifest);

/* An empty manifest to fill in, for srb_manifest_render and srb_manifest_compute_root_hash.
 * NULL when out of memory. The setters copy their argument and return 0, or -1 when out of
 * memory. */
SARN_RUNTIME_BUNDLE_API srb_manifest* srb_manifest_new(void);
SARN_RUNTIME_BUNDLE_API int srb_manifest_set_version(srb_manifest* manifest, const char* version,
                                                     size_t length);
SARN_RUNTIME_BUNDLE_API int srb_manifest_set_arch(srb_manifest* manifest, const char* arch,
                                                  size_t length);
SARN_RUNTIME_BUNDLE_API int srb_manifest_set_root_hash(srb_manifest* manifest,
                                                       const char* root_hash, size_t length);
SARN_RUNTIME_BUNDLE_API void srb_manifest_set_produced_at(srb_manifest* manifest,
                                                          uint64_t produced_at);
/* A NULL text removes the field (an unsigned manifest). */
SARN_RUNTIME_BUNDLE_API int srb_manifest_set_publisher_hex(srb_manifest* manifest,
                                                           const char* publisher_hex,
                                                           size_t length);
SARN_RUNTIME_BUNDLE_API int srb_manifest_set_signature_hex(srb_manifest* manifest,
                                                           const char* signature_hex,
                                                           size_t length);
/* Appends one payload entry. */
SARN_RUNTIME_BUNDLE_API int srb_manifest_add_file(srb_manifest* manifest, const char* path,
                                                  size_t path_length, const char* hash,
                                                  size_t hash_length, uint64_t size);

/* Reads and parses bundle_dir/bundle.toml without checking the payload (srb_verify does). */
SARN_RUNTIME_BUNDLE_API srb_manifest* srb_manifest_load(const char* bundle_dir, size_t length,
                                                        srb_error** error);
/* A bundle.toml text as a record; fails with SRB_ERROR_MANIFEST_PARSE. */
SARN_RUNTIME_BUNDLE_API srb_manifest* srb_manifest_parse(const char* text, size_t length,
                                                         srb_error** error);
/* The exact text of bundle.toml for a manifest. */
SARN_RUNTIME_BUNDLE_API char* srb_manifest_render(const srb_manifest* manifest, size_t* length,
                                                  srb_error** error);
/* The root hash of the manifest's entries in their order: BLAKE3 over "path TAB hash LF" lines,
 * as 64 lower-case hexadecimal characters. Fails only when out of memory. */
SARN_RUNTIME_BUNDLE_API char* srb_manifest_compute_root_hash(const srb_manifest* manifest,
                                                             srb_error** error);

/* ---- Verifying ---- */

/* A request to verify the bundle in `bundle_dir`, with no requirement set. NULL when out of
 * memory. The setters copy their argument and return 0, or -1 when out of memory. */
SARN_RUNTIME_BUNDLE_API srb_verify_request* srb_verify_request_new(const char* bundle_dir,
                                                                   size_t length);
/* The manifest's arch must equal `arch` byte for byte (SRB_ERROR_ARCH_MISMATCH). */
SARN_RUNTIME_BUNDLE_API int srb_verify_request_require_arch(srb_verify_request* request,
                                                            const char* arch, size_t length);
/* The manifest's version must equal `version` byte for byte (SRB_ERROR_VERSION_MISMATCH),
 * checked right after the arch. A launcher that resolved a version tag passes the same tag, so
 * that a bundle copied under another tag is refused. */
SARN_RUNTIME_BUNDLE_API int srb_verify_request_require_version(srb_verify_request* request,
                                                               const char* version, size_t length);
/* The bundle must be signed by this public key (hexadecimal, either case); implies a
 * signature. */
SARN_RUNTIME_BUNDLE_API int srb_verify_request_require_publisher(srb_verify_request* request,
                                                                 const char* publisher_hex,
                                                                 size_t length);
/* Non-zero: an unsigned bundle fails with SRB_ERROR_SIGNATURE_REQUIRED. */
SARN_RUNTIME_BUNDLE_API void srb_verify_request_require_signature(srb_verify_request* request,
                                                                  int required);
SARN_RUNTIME_BUNDLE_API void srb_verify_request_free(srb_verify_request* request);

/* Checks the bundle: every listed file present with its digest, nothing unlisted, the root hash,
 * the signature, and the requirements. Returns the manifest as read, or NULL and the first
 * failure found. Reads, never writes, and reads nothing outside the bundle directory: a link in
 * the bundle that leads out of it counts as nothing there. An empty bundle directory fails with
 * SRB_ERROR_IO "Invalid argument (os error 22)". */
SARN_RUNTIME_BUNDLE_API srb_manifest* srb_verify(const srb_verify_request* request,
                                                 srb_error** error);

/* ---- Locating ---- */

/* The directory of the bundle for a version tag: the per-user one if it holds that version,
 * else the system one if it does, else the per-user one. With `system_only` non-zero, the system
 * location. A tag that is not a single file name (empty, ".", "..", or holding "/" or NUL)
 * fails with SRB_ERROR_INVALID_VERSION_TAG. `*installed` (when `installed` is not NULL) becomes 1
 * when the directory returned holds a bundle.toml and 0 when it does not, which tells "not
 * installed" from a bundle whose manifest went missing: verifying the latter fails, the former need
 * not be tried. Only a bundle.toml that is not there (a missing file, a dangling or looping link,
 * a directory on the way that is no directory or may not be searched) counts as not installed; a
 * status query that fails otherwise (EIO, ENOMEM...) fails the call with SRB_ERROR_IO. */
SARN_RUNTIME_BUNDLE_API char* srb_resolve_bundle_path(const char* version, size_t version_length,
                                                      int system_only, int* installed,
                                                      size_t* length, srb_error** error);
SARN_RUNTIME_BUNDLE_API void srb_string_free(char* text);

/* ---- Building ---- */

/* A request to build the bundle for `version` into the directory `out` from this host ("/"),
 * for the architecture the library was built for, unsigned. NULL when out of memory. The
 * setters copy their argument and return 0, or -1 when out of memory. */
SARN_RUNTIME_BUNDLE_API srb_build_request* srb_build_request_new(const char* version,
                                                                 size_t version_length,
                                                                 const char* out,
                                                                 size_t out_length);
/* The host root whose loader and C runtime are copied. */
SARN_RUNTIME_BUNDLE_API int srb_build_request_set_from(srb_build_request* request,
                                                       const char* host_root, size_t length);
SARN_RUNTIME_BUNDLE_API int srb_build_request_set_arch(srb_build_request* request, const char* arch,
                                                       size_t length);
/* Sign with the identity file at this path. */
SARN_RUNTIME_BUNDLE_API int srb_build_request_set_identity(srb_build_request* request,
                                                           const char* identity_path,
                                                           size_t length);
/* One more shared object to place at the top of the bundle's lib/. */
SARN_RUNTIME_BUNDLE_API int srb_build_request_add_include(srb_build_request* request,
                                                          const char* path, size_t length);
SARN_RUNTIME_BUNDLE_API void srb_build_request_free(srb_build_request* request);

/* Builds the bundle and returns its manifest as written to bundle.toml, or NULL and the first
 * failure. A failed build leaves what it already wrote. */
SARN_RUNTIME_BUNDLE_API srb_manifest* srb_build(const srb_build_request* request,
                                                srb_error** error);

/* ---- Signing identities: JSON files holding an Ed25519 secret key ---- */

/* Writes a fresh identity to `out` (mode 0600) and returns its public key as 64 lower-case
 * hexadecimal characters. The directory of `out` must be one that nobody but the caller and
 * root may change (docs/library.md, thread safety, for the signals it holds back). */
SARN_RUNTIME_BUNDLE_API char* srb_identity_generate(const char* out, size_t length,
                                                    srb_error** error);
/* The public key of the identity file at `path`, as 64 lower-case hexadecimal characters. */
SARN_RUNTIME_BUNDLE_API char* srb_identity_public_key(const char* path, size_t length,
                                                      srb_error** error);

/* ---- Launching: running a program on a verified bundle ---- */

/* Verifies like srb_verify and returns what a launcher needs to exec a program on the bundle,
 * taken from what verify read: the loader and the library directories. NULL and the first
 * failure otherwise; besides srb_verify's, SRB_ERROR_UNSUPPORTED_ARCH for a manifest arch the
 * library has no table for, and SRB_ERROR_IO "Exec format error (os error 8)" when the bundle
 * lists no loader whose ELF header is of the manifest's arch. Free with srb_launch_plan_free. */
SARN_RUNTIME_BUNDLE_API srb_launch_plan* srb_verify_for_launch(const srb_verify_request* request,
                                                               srb_error** error);
/* The whole job for a version tag: srb_resolve_bundle_path, then srb_verify_for_launch on the
 * directory found with the requirements of `requirements` (arch, publisher, signature; its own
 * directory is ignored, NULL sets none) and the version bound to `version`. A version that is
 * not installed fails with SRB_ERROR_MANIFEST_MISSING. */
SARN_RUNTIME_BUNDLE_API srb_launch_plan* srb_launch_plan_for_version(
    const char* version, size_t version_length, int system_only,
    const srb_verify_request* requirements, srb_error** error);
/* The manifest as verified; it belongs to the plan. */
SARN_RUNTIME_BUNDLE_API const srb_manifest* srb_launch_plan_manifest(const srb_launch_plan* plan);
/* The absolute path of the bundle's loader for its arch. */
SARN_RUNTIME_BUNDLE_API const char* srb_launch_plan_loader(const srb_launch_plan* plan,
                                                           size_t* length);
/* The absolute library directories, in the order the loader is to search them: those of the
 * architecture's libraries in the order the host source table probes them, then the bundle's
 * lib/, where included libraries lie. NULL for an index past the end. */
SARN_RUNTIME_BUNDLE_API size_t srb_launch_plan_library_dir_count(const srb_launch_plan* plan);
SARN_RUNTIME_BUNDLE_API const char* srb_launch_plan_library_dir(const srb_launch_plan* plan,
                                                                size_t index, size_t* length);
SARN_RUNTIME_BUNDLE_API void srb_launch_plan_free(srb_launch_plan* plan);

/* The argument vector that runs `program` with `args` on the plan, for execv(argv[0], argv):
 * { loader, "--library-path", "DIR:DIR...", program, args..., NULL }. `program` and `args` are
 * NUL-terminated, as exec takes them. Fails with SRB_ERROR_IO "Invalid argument (os error 22)"
 * when the loader, a library directory or `program` holds ':', ';' or '$' (the loader splits
 * --library-path at ':' and ';' and expands $ORIGIN, $LIB and $PLATFORM), when `program` has no
 * '/' (the loader would search for it among the library directories, not on PATH: resolve it
 * first), or when it starts with '-' (the loader would take it for one of its options). Free
 * with srb_argv_free. */
SARN_RUNTIME_BUNDLE_API char** srb_launch_plan_argv(const srb_launch_plan* plan,
                                                    const char* program, const char* const* args,
                                                    size_t arg_count, srb_error** error);
/* The same from a plan's parts, for a program that keeps them itself. */
SARN_RUNTIME_BUNDLE_API char** srb_launch_argv(const char* loader, const char* const* library_dirs,
                                               size_t library_dir_count, const char* program,
                                               const char* const* args, size_t arg_count,
                                               srb_error** error);
/* Frees a vector from srb_launch_plan_argv, srb_launch_argv, srb_launch_plan_command,
 * srb_launch_command or srb_launch_environment, and every text in it. */
SARN_RUNTIME_BUNDLE_API void srb_argv_free(char** argv);

/* ---- Installed bundles (since 1.1) ---- */

/* Every version installed under the two roots: each directory right below a root whose name is
 * a version tag and that holds a bundle.toml, sorted by tag byte-wise, a tag installed under both
 * roots listed twice, the per-user one first. A NULL root is the one `path` uses: the per-user
 * root from SARN_RUNTIME_BUNDLE_DIR, XDG_DATA_HOME or HOME, and /usr/lib/sarn-runtime. A root that
 * does not exist holds none; one that cannot be read fails with SRB_ERROR_IO. Free with
 * srb_installed_free. */
SARN_RUNTIME_BUNDLE_API srb_installed* srb_list_installed(const char* user_root,
                                                          size_t user_root_length,
                                                          const char* system_root,
                                                          size_t system_root_length,
                                                          srb_error** error);
SARN_RUNTIME_BUNDLE_API size_t srb_installed_count(const srb_installed* installed);
/* The tag and the directory of the entry at `index`; NULL past the end. */
SARN_RUNTIME_BUNDLE_API const char* srb_installed_version(const srb_installed* installed,
                                                          size_t index, size_t* length);
SARN_RUNTIME_BUNDLE_API const char* srb_installed_location(const srb_installed* installed,
                                                           size_t index, size_t* length);
/* 1 when the entry lies under the per-user root, 0 under the system root. */
SARN_RUNTIME_BUNDLE_API int srb_installed_is_per_user(const srb_installed* installed, size_t index);
SARN_RUNTIME_BUNDLE_API void srb_installed_free(srb_installed* installed);

/* ---- Launching safely (since 1.1) ---- */

/* The name the host source tables give the machine the library runs on ("x86_64", "aarch64"),
 * or NULL when the library has no table for it. A static text. */
SARN_RUNTIME_BUNDLE_API const char* srb_host_arch(void);

/* What a launch of an installed version is bound to: the version tag, which the manifest's
 * version must be; the roots it is looked for under (by default those of `path`); the publisher
 * and the signature required (none by default: a launcher should require its publisher); the
 * architecture the manifest must name (by default srb_host_arch(); name another only to run the
 * bundle under an emulator); and the ownership check, on unless skipped. NULL when out of memory
 * or given a NULL version. Free with srb_launch_request_free. */
SARN_RUNTIME_BUNDLE_API srb_launch_request* srb_launch_request_new(const char* version,
                                                                   size_t length);
SARN_RUNTIME_BUNDLE_API int srb_launch_request_set_user_root(srb_launch_request* request,
                                                             const char* root, size_t length);
SARN_RUNTIME_BUNDLE_API int srb_launch_request_set_system_root(srb_launch_request* request,
                                                               const char* root, size_t length);
SARN_RUNTIME_BUNDLE_API int srb_launch_request_require_publisher(srb_launch_request* request,
                                                                 const char* publisher_hex,
                                                                 size_t length);
SARN_RUNTIME_BUNDLE_API void srb_launch_request_require_signature(srb_launch_request* request,
                                                                  int required);
SARN_RUNTIME_BUNDLE_API int srb_launch_request_set_arch(srb_launch_request* request,
                                                        const char* arch, size_t length);
/* With `skip` non-zero, the bundle's files and the directories on the way to them need not be
 * owned by root or the caller. Reasonable only where nobody can change them anyway, such as a
 * bundle on a read-only image the launcher mounted itself. */
SARN_RUNTIME_BUNDLE_API void srb_launch_request_skip_ownership_check(srb_launch_request* request,
                                                                     int skip);
SARN_RUNTIME_BUNDLE_API void srb_launch_request_free(srb_launch_request* request);

/* The launch of an installed version, checked in full:
 * - found under the roots, per-user first: SRB_ERROR_NOT_INSTALLED when neither root holds a
 *   bundle.toml for the tag (an installed bundle that fails to verify fails as verify does, so
 *   "not installed" and "installed but damaged" are told apart in this one call);
 * - verified with the version, the architecture and the request's requirements
 *   (SRB_ERROR_ARCH_MISMATCH for a bundle of another architecture, before any file is read);
 * - unless skipped, every directory on the way to the bundle from "/" (link targets included),
 *   every directory of the bundle, bundle.toml and every listed file owned by root or the
 *   caller's effective user, writable neither by every user nor by a group with members besides
 *   the owner (a directory on the way may be writable by others when it has the sticky bit),
 *   judged on what verify opened: SRB_ERROR_UNSAFE_BUNDLE names the first path that fails;
 * - planned from what verify read, including whether the loader offers --argv0.
 * SRB_ERROR_UNSUPPORTED_ARCH when no architecture is named and the host has no table. */
SARN_RUNTIME_BUNDLE_API srb_launch_plan* srb_plan_launch(const srb_launch_request* request,
                                                         srb_error** error);
/* 1 when the plan's loader offers --argv0, as its verified bytes show. */
SARN_RUNTIME_BUNDLE_API int srb_launch_plan_loader_takes_argv0(const srb_launch_plan* plan);
/* srb_launch_plan_argv with the program's argv[0] chosen: `argv0` (NULL: the program's path) is
 * passed with the loader's --argv0 when the loader offers it; a loader without it fails any
 * other argv0 with SRB_ERROR_IO "Operation not supported (os error 95)". */
SARN_RUNTIME_BUNDLE_API char** srb_launch_plan_command(const srb_launch_plan* plan,
                                                       const char* program, const char* argv0,
                                                       const char* const* args, size_t arg_count,
                                                       srb_error** error);
/* The same from a plan's parts. */
SARN_RUNTIME_BUNDLE_API char** srb_launch_command(const char* loader,
                                                  const char* const* library_dirs,
                                                  size_t library_dir_count, int loader_takes_argv0,
                                                  const char* program, const char* argv0,
                                                  const char* const* args, size_t arg_count,
                                                  srb_error** error);
/* The environment to exec the loader with: `environment` ("NAME=value" entries up to a NULL;
 * NULL: the process's own) without every variable whose name starts with "LD_", which the loader
 * would act on (LD_PRELOAD, LD_AUDIT, LD_LIBRARY_PATH...). Free with srb_argv_free. */
SARN_RUNTIME_BUNDLE_API char** srb_launch_environment(const char* const* environment,
                                                      srb_error** error);

#ifdef __cplusplus
}
#endif

#endif
