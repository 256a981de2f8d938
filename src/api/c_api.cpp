// The C interface over the subsystems. It is all the shared library exports, so no C++ type,
// standard-library layout or exception crosses it: texts go in as pointer and length and come
// out as NUL-terminated bytes owned by a handle or by the caller. Every entry point catches
// everything, since an exception must not unwind into a C caller; the only one the library
// raises is std::bad_alloc, which becomes the i/o error "Cannot allocate memory".

#include <sarn_runtime_bundle/sarn_runtime_bundle.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sarn_runtime_bundle/location.hpp>

#include "api/error_record.hpp"
#include "api/launch_plan.hpp"
#include "api/launch_safety.hpp"
#include "build/build.hpp"
#include "core/hex.hpp"
#include "location/bundle_path.hpp"
#include "manifest/digest.hpp"
#include "manifest/manifest.hpp"
#include "signing/identity.hpp"
#include "verify/verify.hpp"

struct srb_error {
  srb::ErrorRecord record;
};
struct srb_manifest {
  srb::BundleManifest manifest;
};
struct srb_verify_request {
  srb::VerifyRequest request;
};
struct srb_build_request {
  srb::BuildRequest request;
};
struct srb_launch_plan {
  srb_manifest manifest;
  std::string loader;
  std::vector<std::string> library_dirs;
  bool loader_takes_argv0 = false;
};
struct srb_launch_request {
  srb::LaunchSpec spec;
};
struct srb_installed {
  std::vector<srb::InstalledBundle> bundles;
};

namespace {

// The version the build system stamps on the library; the header's macros must say the same.
#define SRB_STRINGIFY(x) #x
#define SRB_VERSION_TEXT(major, minor, patch) \
  SRB_STRINGIFY(major) "." SRB_STRINGIFY(minor) "." SRB_STRINGIFY(patch)
static_assert(SARN_RUNTIME_BUNDLE_VERSION_MAJOR == SRB_PROJECT_VERSION_MAJOR &&
                  SARN_RUNTIME_BUNDLE_VERSION_MINOR == SRB_PROJECT_VERSION_MINOR &&
                  SARN_RUNTIME_BUNDLE_VERSION_PATCH == SRB_PROJECT_VERSION_PATCH,
              "sarn_runtime_bundle.h states the project's version");
constexpr const char* kVersion = SRB_VERSION_TEXT(
    SRB_PROJECT_VERSION_MAJOR, SRB_PROJECT_VERSION_MINOR, SRB_PROJECT_VERSION_PATCH);

static_assert(sarn_runtime_bundle::SYSTEM_BUNDLE_ROOT == srb::SYSTEM_BUNDLE_ROOT,
              "the public header states the system root the library resolves to");

srb::ErrorRecord io_error(int code) {
  return srb::error_record(srb::Io{srb::os_error(code)});
}

// Handed out when not even an error record can be allocated; srb_error_free leaves it alone.
// Made when the library is loaded, so that handing it out needs no memory.
srb_error out_of_memory_error{io_error(ENOMEM)};

srb_error* out_of_memory() {
  return &out_of_memory_error;
}

// What a null handle or text, or a path holding NUL, gets in place of a crash or another file.
srb::ErrorRecord invalid_argument() {
  return io_error(EINVAL);
}

void report(srb_error** slot, srb_error* error) {
  if (slot != nullptr)
    *slot = error;
  else if (error != &out_of_memory_error)
    delete error;
}

void report(srb_error** slot, srb::ErrorRecord record) {
  if (slot == nullptr) return;
  srb_error* error = new (std::nothrow) srb_error;
  if (error == nullptr) return report(slot, out_of_memory());
  error->record = std::move(record);
  *slot = error;
}

// A text argument: the empty text for (NULL, 0), nothing for NULL with a length.
std::optional<std::string_view> text_of(const char* text, size_t length) {
  if (text == nullptr) return length == 0 ? std::optional<std::string_view>("") : std::nullopt;
  return std::string_view(text, length);
}

// The kernel ends a path at its first NUL, so a path holding one would name another file.
bool names_a_file(std::string_view path) {
  return path.find('\0') == std::string_view::npos;
}

// What an operation hands back: a value, or the record of what stopped it.
template <typename T>
struct Outcome {
  std::optional<T> value;
  srb::ErrorRecord error;
};

template <typename T>
Outcome<T> outcome(srb::Result<T>&& result) {
  if (!result) return {std::nullopt, srb::error_record(result.error())};
  return {std::move(*result), {}};
}
template <typename T>
Outcome<T> refused() {
  return {std::nullopt, invalid_argument()};
}

// Runs one operation: its value made into the caller's form by `hand_out`, or its error in
// `slot`. An exception, which can only be std::bad_alloc, becomes the out-of-memory error.
template <typename Operation, typename Give>
auto run(srb_error** slot, Operation operation, Give give) -> decltype(give(*operation().value)) {
  report(slot, static_cast<srb_error*>(nullptr));
  try {
    auto done = operation();
    if (!done.value) {
      report(slot, std::move(done.error));
      return nullptr;
    }
    return give(*std::move(done.value));
  } catch (...) {
    report(slot, out_of_memory());
    return nullptr;
  }
}

srb_manifest* manifest_handle(srb::BundleManifest manifest) {
  return new srb_manifest{std::move(manifest)};
}

// A copy the caller frees with srb_string_free (free), so it is made with malloc.
char* malloc_copy(std::string_view text, size_t* length) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy == nullptr) throw std::bad_alloc();
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  if (length != nullptr) *length = text.size();
  return copy;
}
char* malloc_text(const std::string& text) {
  return malloc_copy(text, nullptr);
}

// A setter's copy of its argument: 0, or -1 when out of memory or given a null pointer.
template <typename Handle, typename Assign>
int assign(Handle* handle, const char* text, size_t length, Assign assign_value) {
  const std::optional<std::string_view> value = text_of(text, length);
  if (handle == nullptr || !value) return -1;
  try {
    assign_value(std::string(*value));
    return 0;
  } catch (...) {
    return -1;
  }
}

// A handle made from texts, or NULL when one is null or memory runs out.
template <typename Handle, typename Fill>
Handle* new_handle(Fill fill) {
  try {
    auto handle = std::make_unique<Handle>();
    if (!fill(*handle)) return nullptr;
    return handle.release();
  } catch (...) {
    return nullptr;
  }
}

// A text handed out with its length, which may be asked for.
const char* hand_out(const std::string& text, size_t* length) {
  if (length != nullptr) *length = text.size();
  return text.c_str();
}
const char* hand_out(const std::optional<std::string>& text, size_t* length) {
  if (!text) {
    if (length != nullptr) *length = 0;
    return nullptr;
  }
  return hand_out(*text, length);
}
const char* nothing(size_t* length) {
  if (length != nullptr) *length = 0;
  return nullptr;
}

const srb::BundleFile* file_at(const srb_manifest* manifest, size_t index) {
  if (manifest == nullptr || index >= manifest->manifest.files.size()) return nullptr;
  return &manifest->manifest.files[index];
}

template <typename Text>
const char* manifest_text(const srb_manifest* m, size_t* length, Text srb::BundleManifest::*field) {
  return m ? hand_out(m->manifest.*field, length) : nothing(length);
}

template <typename Text>
int set_manifest_text(srb_manifest* m, const char* text, size_t length,
                      Text srb::BundleManifest::*field) {
  return assign(m, text, length, [&](std::string value) { m->manifest.*field = std::move(value); });
}

// A signature field: a null text removes it.
int set_signature_field(srb_manifest* m, const char* text, size_t length,
                        std::optional<std::string> srb::BundleManifest::*field) {
  if (m != nullptr && text == nullptr) {
    (m->manifest.*field).reset();
    return 0;
  }
  return set_manifest_text(m, text, length, field);
}

// The load or the identity operation on a path argument, which must name a file.
template <typename T, typename Operation>
Outcome<T> on_path(const char* text, size_t length, Operation operation) {
  const std::optional<std::string_view> path = text_of(text, length);
  if (!path || !names_a_file(*path)) return refused<T>();
  return outcome(operation(std::filesystem::path(*path)));
}

srb::Result<std::string> identity_public_key_hex(const std::filesystem::path& file) {
  TRY_ASSIGN(const srb::SigningKey key, srb::load_identity(file));
  return srb::encode_hex(key.public_key());
}

bool build_request_names_files(const srb::BuildRequest& request) {
  if (!names_a_file(request.out.native()) || !names_a_file(request.from.native())) return false;
  if (request.identity && !names_a_file(request.identity->native())) return false;
  for (const std::string& include : request.includes)
    if (!names_a_file(include)) return false;
  return true;
}

srb_launch_plan* launch_plan_handle(srb::LaunchPlan plan) {
  return new srb_launch_plan{{std::move(plan.manifest)},
                             std::move(plan.loader),
                             std::move(plan.library_dirs),
                             plan.loader_takes_argv0};
}

// The bundle directory for a tag, and whether it is installed there: a failed test is an error,
// not a version that is absent.
srb::Result<std::string> resolve_and_test(std::string_view tag, srb::SystemOnly system,
                                          bool& installed) {
  TRY_ASSIGN(std::string path, srb::resolve_bundle_path(tag, system));
  TRY_ASSIGN(installed, srb::is_installed(path));
  return path;
}

Outcome<srb::LaunchPlan> launch_plan_for(const srb::VerifyRequest& request) {
  if (!names_a_file(request.bundle_dir.native())) return refused<srb::LaunchPlan>();
  return outcome(srb::verify_for_launch(request));
}

// exec's arguments end at their first NUL, so they come as C strings.
std::vector<std::string> c_strings(const char* const* texts, size_t count) {
  std::vector<std::string> strings;
  strings.reserve(count);
  for (size_t i = 0; i < count; ++i)
    strings.emplace_back(texts[i]);
  return strings;
}
bool all_present(const char* const* texts, size_t count) {
  if (texts == nullptr) return count == 0;
  for (size_t i = 0; i < count; ++i)
    if (texts[i] == nullptr) return false;
  return true;
}

void free_argv(char** argv) {
  if (argv == nullptr) return;
  for (char** arg = argv; *arg != nullptr; ++arg)
    std::free(*arg);
  std::free(static_cast<void*>(argv));
}

// A NULL-terminated vector of malloc'd copies, freed with srb_argv_free.
char** malloc_argv(const std::vector<std::string>& strings) {
  char** argv = static_cast<char**>(std::calloc(strings.size() + 1, sizeof(char*)));
  if (argv == nullptr) throw std::bad_alloc();
  try {
    for (size_t i = 0; i < strings.size(); ++i)
      argv[i] = malloc_copy(strings[i], nullptr);
  } catch (...) {
    free_argv(argv);
    throw;
  }
  return argv;
}

// The command of launch_command for a plan, from C arguments.
char** launch_command_of(const srb::LaunchPlan& plan, const char* program, const char* argv0,
                         const char* const* args, size_t arg_count, srb_error** error) {
  return run(
      error,
      [&] {
        if (plan.loader.empty() || program == nullptr || !all_present(args, arg_count))
          return refused<std::vector<std::string>>();
        std::optional<std::string_view> chosen_argv0;
        if (argv0 != nullptr) chosen_argv0 = argv0;
        return outcome(
            srb::launch_command(plan, program, chosen_argv0, c_strings(args, arg_count)));
      },
      malloc_argv);
}

// A plan from a launcher's own parts, which are C strings.
srb::LaunchPlan plan_of(const char* loader, const char* const* library_dirs, size_t count,
                        bool loader_takes_argv0) {
  srb::LaunchPlan plan;
  if (loader != nullptr) plan.loader = loader;
  plan.library_dirs = c_strings(library_dirs, count);
  plan.loader_takes_argv0 = loader_takes_argv0;
  return plan;
}

srb::LaunchPlan plan_of(const srb_launch_plan& handle) {
  srb::LaunchPlan plan;
  plan.loader = handle.loader;
  plan.library_dirs = handle.library_dirs;
  plan.loader_takes_argv0 = handle.loader_takes_argv0;
  return plan;
}

// A root given as text, or the default for NULL.
std::optional<std::optional<std::string>> root_of(const char* text, size_t length) {
  if (text == nullptr) return std::optional<std::string>();
  if (!names_a_file(std::string_view(text, length))) return std::nullopt;
  return std::optional<std::string>(std::string(text, length));
}

}  // namespace

extern "C" {

const char* srb_version(void) {
  return kVersion;
}

srb_error_kind srb_error_get_kind(const srb_error* error) {
  return error ? error->record.kind : srb_error_kind{};
}
const char* srb_error_message(const srb_error* error, size_t* length) {
  if (error == nullptr) {
    if (length != nullptr) *length = 0;
    return "";
  }
  return hand_out(error->record.message, length);
}
const char* srb_error_path(const srb_error* error, size_t* length) {
  return error ? hand_out(error->record.path, length) : nothing(length);
}
int srb_error_os_code(const srb_error* error) {
  return error ? error->record.os_code : 0;
}
void srb_error_free(srb_error* error) {
  if (error != &out_of_memory_error) delete error;
}

const char* srb_manifest_version(const srb_manifest* m, size_t* length) {
  return manifest_text(m, length, &srb::BundleManifest::version);
}
const char* srb_manifest_arch(const srb_manifest* m, size_t* length) {
  return manifest_text(m, length, &srb::BundleManifest::arch);
}
const char* srb_manifest_root_hash(const srb_manifest* m, size_t* length) {
  return manifest_text(m, length, &srb::BundleManifest::root_hash);
}
uint64_t srb_manifest_produced_at(const srb_manifest* m) {
  return m ? m->manifest.produced_at : 0;
}
const char* srb_manifest_publisher_hex(const srb_manifest* m, size_t* length) {
  return manifest_text(m, length, &srb::BundleManifest::publisher_hex);
}
const char* srb_manifest_signature_hex(const srb_manifest* m, size_t* length) {
  return manifest_text(m, length, &srb::BundleManifest::signature_hex);
}
size_t srb_manifest_file_count(const srb_manifest* m) {
  return m ? m->manifest.files.size() : 0;
}
const char* srb_manifest_file_path(const srb_manifest* m, size_t index, size_t* length) {
  const srb::BundleFile* file = file_at(m, index);
  return file ? hand_out(file->path, length) : nothing(length);
}
const char* srb_manifest_file_hash(const srb_manifest* m, size_t index, size_t* length) {
  const srb::BundleFile* file = file_at(m, index);
  return file ? hand_out(file->hash, length) : nothing(length);
}
uint64_t srb_manifest_file_size(const srb_manifest* m, size_t index) {
  const srb::BundleFile* file = file_at(m, index);
  return file ? file->size : 0;
}
void srb_manifest_free(srb_manifest* manifest) {
  delete manifest;
}

srb_manifest* srb_manifest_new(void) {
  return new_handle<srb_manifest>([](srb_manifest&) { return true; });
}
int srb_manifest_set_version(srb_manifest* m, const char* version, size_t length) {
  return set_manifest_text(m, version, length, &srb::BundleManifest::version);
}
int srb_manifest_set_arch(srb_manifest* m, const char* arch, size_t length) {
  return set_manifest_text(m, arch, length, &srb::BundleManifest::arch);
}
int srb_manifest_set_root_hash(srb_manifest* m, const char* root_hash, size_t length) {
  return set_manifest_text(m, root_hash, length, &srb::BundleManifest::root_hash);
}
void srb_manifest_set_produced_at(srb_manifest* m, uint64_t produced_at) {
  if (m != nullptr) m->manifest.produced_at = produced_at;
}
int srb_manifest_set_publisher_hex(srb_manifest* m, const char* publisher_hex, size_t length) {
  return set_signature_field(m, publisher_hex, length, &srb::BundleManifest::publisher_hex);
}
int srb_manifest_set_signature_hex(srb_manifest* m, const char* signature_hex, size_t length) {
  return set_signature_field(m, signature_hex, length, &srb::BundleManifest::signature_hex);
}
int srb_manifest_add_file(srb_manifest* m, const char* path, size_t path_length, const char* hash,
                          size_t hash_length, uint64_t size) {
  const std::optional<std::string_view> hash_text = text_of(hash, hash_length);
  if (!hash_text) return -1;
  return assign(m, path, path_length, [&](std::string text) {
    m->manifest.files.push_back(
        {.path = std::move(text), .hash = std::string(*hash_text), .size = size});
  });
}

srb_manifest* srb_manifest_load(const char* bundle_dir, size_t length, srb_error** error) {
  return run(
      error, [&] { return on_path<srb::BundleManifest>(bundle_dir, length, srb::load_manifest); },
      manifest_handle);
}
srb_manifest* srb_manifest_parse(const char* text, size_t length, srb_error** error) {
  return run(
      error,
      [&] {
        const std::optional<std::string_view> content = text_of(text, length);
        if (!content) return refused<srb::BundleManifest>();
        return outcome(srb::parse_manifest(*content));
      },
      manifest_handle);
}
char* srb_manifest_render(const srb_manifest* manifest, size_t* length, srb_error** error) {
  return run(
      error,
      [&] {
        if (manifest == nullptr) return refused<std::string>();
        return outcome(srb::render_manifest(manifest->manifest));
      },
      [&](const std::string& text) { return malloc_copy(text, length); });
}
char* srb_manifest_compute_root_hash(const srb_manifest* manifest, srb_error** error) {
  return run(
      error,
      [&] {
        if (manifest == nullptr) return refused<std::string>();
        return Outcome<std::string>{srb::compute_root_hash(manifest->manifest.files), {}};
      },
      malloc_text);
}

srb_verify_request* srb_verify_request_new(const char* bundle_dir, size_t length) {
  const std::optional<std::string_view> dir = text_of(bundle_dir, length);
  return new_handle<srb_verify_request>([&](srb_verify_request& request) {
    if (!dir) return false;
    request.request.bundle_dir = std::string(*dir);
    return true;
  });
}
int srb_verify_request_require_arch(srb_verify_request* request, const char* arch, size_t length) {
  return assign(request, arch, length,
                [&](std::string text) { request->request.require_arch = std::move(text); });
}
int srb_verify_request_require_version(srb_verify_request* request, const char* version,
                                       size_t length) {
  return assign(request, version, length,
                [&](std::string text) { request->request.require_version = std::move(text); });
}
int srb_verify_request_require_publisher(srb_verify_request* request, const char* publisher_hex,
                                         size_t length) {
  return assign(request, publisher_hex, length,
                [&](std::string text) { request->request.require_publisher = std::move(text); });
}
void srb_verify_request_require_signature(srb_verify_request* request, int required) {
  if (request == nullptr) return;
  request->request.require_signature =
      required ? srb::RequireSignature::yes : srb::RequireSignature::no;
}
void srb_verify_request_free(srb_verify_request* request) {
  delete request;
}

srb_manifest* srb_verify(const srb_verify_request* request, srb_error** error) {
  return run(
      error,
      [&] {
        if (request == nullptr || !names_a_file(request->request.bundle_dir.native()))
          return refused<srb::BundleManifest>();
        srb::Result<srb::VerifiedBundle> verified = srb::verify_bundle(request->request);
        if (!verified)
          return outcome(srb::Result<srb::BundleManifest>(std::move(verified).error()));
        return outcome(srb::Result<srb::BundleManifest>(std::move(verified->manifest)));
      },
      manifest_handle);
}

char* srb_resolve_bundle_path(const char* version, size_t version_length, int system_only,
                              int* installed, size_t* length, srb_error** error) {
  if (installed != nullptr) *installed = 0;
  bool is_installed = false;
  return run(
      error,
      [&] {
        const std::optional<std::string_view> tag = text_of(version, version_length);
        if (!tag) return refused<std::string>();
        const srb::SystemOnly system = system_only ? srb::SystemOnly::yes : srb::SystemOnly::no;
        return outcome(resolve_and_test(*tag, system, is_installed));
      },
      [&](const std::string& path) {
        if (installed != nullptr) *installed = is_installed ? 1 : 0;
        return malloc_copy(path, length);
      });
}
void srb_string_free(char* text) {
  std::free(text);
}

srb_build_request* srb_build_request_new(const char* version, size_t version_length,
                                         const char* out, size_t out_length) {
  const std::optional<std::string_view> tag = text_of(version, version_length);
  const std::optional<std::string_view> out_dir = text_of(out, out_length);
  return new_handle<srb_build_request>([&](srb_build_request& request) {
    if (!tag || !out_dir) return false;
    request.request.version = std::string(*tag);
    request.request.out = std::string(*out_dir);
    return true;
  });
}
int srb_build_request_set_from(srb_build_request* request, const char* host_root, size_t length) {
  return assign(request, host_root, length,
                [&](std::string text) { request->request.from = std::move(text); });
}
int srb_build_request_set_arch(srb_build_request* request, const char* arch, size_t length) {
  return assign(request, arch, length,
                [&](std::string text) { request->request.arch = std::move(text); });
}
int srb_build_request_set_identity(srb_build_request* request, const char* identity_path,
                                   size_t length) {
  return assign(request, identity_path, length, [&](std::string text) {
    request->request.identity = std::filesystem::path(std::move(text));
  });
}
int srb_build_request_add_include(srb_build_request* request, const char* path, size_t length) {
  return assign(request, path, length,
                [&](std::string text) { request->request.includes.emplace_back(std::move(text)); });
}
void srb_build_request_free(srb_build_request* request) {
  delete request;
}

srb_manifest* srb_build(const srb_build_request* request, srb_error** error) {
  return run(
      error,
      [&] {
        if (request == nullptr || !build_request_names_files(request->request))
          return refused<srb::BundleManifest>();
        return outcome(srb::build_bundle(request->request));
      },
      manifest_handle);
}

char* srb_identity_generate(const char* out, size_t length, srb_error** error) {
  return run(
      error, [&] { return on_path<std::string>(out, length, srb::generate_identity); },
      malloc_text);
}
char* srb_identity_public_key(const char* path, size_t length, srb_error** error) {
  return run(
      error, [&] { return on_path<std::string>(path, length, identity_public_key_hex); },
      malloc_text);
}

srb_launch_plan* srb_verify_for_launch(const srb_verify_request* request, srb_error** error) {
  return run(
      error,
      [&] {
        if (request == nullptr) return refused<srb::LaunchPlan>();
        return launch_plan_for(request->request);
      },
      launch_plan_handle);
}
srb_launch_plan* srb_launch_plan_for_version(const char* version, size_t version_length,
                                             int system_only,
                                             const srb_verify_request* requirements,
                                             srb_error** error) {
  return run(
      error,
      [&]() -> Outcome<srb::LaunchPlan> {
        const std::optional<std::string_view> tag = text_of(version, version_length);
        if (!tag) return refused<srb::LaunchPlan>();
        const srb::SystemOnly system = system_only ? srb::SystemOnly::yes : srb::SystemOnly::no;
        srb::Result<std::string> dir = srb::resolve_bundle_path(*tag, system);
        if (!dir) return {std::nullopt, srb::error_record(dir.error())};
        srb::VerifyRequest request = requirements ? requirements->request : srb::VerifyRequest{};
        request.bundle_dir = std::move(*dir);
        request.require_version = std::string(*tag);
        return launch_plan_for(request);
      },
      launch_plan_handle);
}
const srb_manifest* srb_launch_plan_manifest(const srb_launch_plan* plan) {
  return plan ? &plan->manifest : nullptr;
}
const char* srb_launch_plan_loader(const srb_launch_plan* plan, size_t* length) {
  return plan ? hand_out(plan->loader, length) : nothing(length);
}
size_t srb_launch_plan_library_dir_count(const srb_launch_plan* plan) {
  return plan ? plan->library_dirs.size() : 0;
}
const char* srb_launch_plan_library_dir(const srb_launch_plan* plan, size_t index, size_t* length) {
  if (plan == nullptr || index >= plan->library_dirs.size()) return nothing(length);
  return hand_out(plan->library_dirs[index], length);
}
void srb_launch_plan_free(srb_launch_plan* plan) {
  delete plan;
}

char** srb_launch_plan_argv(const srb_launch_plan* plan, const char* program,
                            const char* const* args, size_t arg_count, srb_error** error) {
  return srb_launch_plan_command(plan, program, nullptr, args, arg_count, error);
}
char** srb_launch_argv(const char* loader, const char* const* library_dirs,
                       size_t library_dir_count, const char* program, const char* const* args,
                       size_t arg_count, srb_error** error) {
  return srb_launch_command(loader, library_dirs, library_dir_count, 0, program, nullptr, args,
                            arg_count, error);
}
void srb_argv_free(char** argv) {
  free_argv(argv);
}

void srb_version_numbers(unsigned* major, unsigned* minor, unsigned* patch) {
  if (major != nullptr) *major = SRB_PROJECT_VERSION_MAJOR;
  if (minor != nullptr) *minor = SRB_PROJECT_VERSION_MINOR;
  if (patch != nullptr) *patch = SRB_PROJECT_VERSION_PATCH;
}

const char* srb_host_arch(void) {
  const std::optional<std::string_view> arch = srb::host_arch();
  return arch ? arch->data() : nullptr;
}

srb_installed* srb_list_installed(const char* user_root, size_t user_root_length,
                                  const char* system_root, size_t system_root_length,
                                  srb_error** error) {
  return run(
      error,
      [&]() -> Outcome<std::vector<srb::InstalledBundle>> {
        const auto user = root_of(user_root, user_root_length);
        const auto system = root_of(system_root, system_root_length);
        if (!user || !system) return refused<std::vector<srb::InstalledBundle>>();
        srb::BundleRoots roots{.user = *user};
        if (*system) roots.system = **system;
        return outcome(srb::list_installed_bundles(roots));
      },
      [](std::vector<srb::InstalledBundle> bundles) {
        return new srb_installed{std::move(bundles)};
      });
}
size_t srb_installed_count(const srb_installed* installed) {
  return installed ? installed->bundles.size() : 0;
}
const char* srb_installed_version(const srb_installed* installed, size_t index, size_t* length) {
  if (installed == nullptr || index >= installed->bundles.size()) return nothing(length);
  return hand_out(installed->bundles[index].version, length);
}
const char* srb_installed_location(const srb_installed* installed, size_t index, size_t* length) {
  if (installed == nullptr || index >= installed->bundles.size()) return nothing(length);
  return hand_out(installed->bundles[index].location, length);
}
int srb_installed_is_per_user(const srb_installed* installed, size_t index) {
  if (installed == nullptr || index >= installed->bundles.size()) return 0;
  return installed->bundles[index].per_user ? 1 : 0;
}
void srb_installed_free(srb_installed* installed) {
  delete installed;
}

srb_launch_request* srb_launch_request_new(const char* version, size_t length) {
  const std::optional<std::string_view> tag = text_of(version, length);
  return new_handle<srb_launch_request>([&](srb_launch_request& request) {
    if (!tag) return false;
    request.spec.version = std::string(*tag);
    return true;
  });
}
int srb_launch_request_set_user_root(srb_launch_request* request, const char* root, size_t length) {
  return assign(request, root, length,
                [&](std::string text) { request->spec.roots.user = std::move(text); });
}
int srb_launch_request_set_system_root(srb_launch_request* request, const char* root,
                                       size_t length) {
  return assign(request, root, length,
                [&](std::string text) { request->spec.roots.system = std::move(text); });
}
int srb_launch_request_require_publisher(srb_launch_request* request, const char* publisher_hex,
                                         size_t length) {
  return assign(request, publisher_hex, length,
                [&](std::string text) { request->spec.require_publisher = std::move(text); });
}
void srb_launch_request_require_signature(srb_launch_request* request, int required) {
  if (request == nullptr) return;
  request->spec.require_signature =
      required ? srb::RequireSignature::yes : srb::RequireSignature::no;
}
int srb_launch_request_set_arch(srb_launch_request* request, const char* arch, size_t length) {
  return assign(request, arch, length,
                [&](std::string text) { request->spec.arch = std::move(text); });
}
void srb_launch_request_skip_ownership_check(srb_launch_request* request, int skip) {
  if (request == nullptr) return;
  request->spec.ownership = skip ? srb::OwnershipCheck::skipped : srb::OwnershipCheck::required;
}
void srb_launch_request_free(srb_launch_request* request) {
  delete request;
}

srb_launch_plan* srb_plan_launch(const srb_launch_request* request, srb_error** error) {
  return run(
      error,
      [&] {
        if (request == nullptr || !names_a_file(request->spec.roots.system) ||
            (request->spec.roots.user && !names_a_file(*request->spec.roots.user)))
          return refused<srb::LaunchPlan>();
        return outcome(srb::plan_checked_launch(request->spec));
      },
      launch_plan_handle);
}
int srb_launch_plan_loader_takes_argv0(const srb_launch_plan* plan) {
  return plan != nullptr && plan->loader_takes_argv0 ? 1 : 0;
}

char** srb_launch_plan_command(const srb_launch_plan* plan, const char* program, const char* argv0,
                               const char* const* args, size_t arg_count, srb_error** error) {
  try {
    return launch_command_of(plan ? plan_of(*plan) : srb::LaunchPlan{}, program, argv0, args,
                             arg_count, error);
  } catch (...) {
    report(error, out_of_memory());
    return nullptr;
  }
}
char** srb_launch_command(const char* loader, const char* const* library_dirs,
                          size_t library_dir_count, int loader_takes_argv0, const char* program,
                          const char* argv0, const char* const* args, size_t arg_count,
                          srb_error** error) {
  try {
    if (!all_present(library_dirs, library_dir_count))
      return launch_command_of(srb::LaunchPlan{}, program, argv0, args, arg_count, error);
    return launch_command_of(
        plan_of(loader, library_dirs, library_dir_count, loader_takes_argv0 != 0), program, argv0,
        args, arg_count, error);
  } catch (...) {
    report(error, out_of_memory());
    return nullptr;
  }
}

char** srb_launch_environment(const char* const* environment, srb_error** error) {
  return run(
      error,
      [&] {
        const char* const* entries = environment != nullptr ? environment : environ;
        std::vector<std::string> all;
        for (const char* const* entry = entries; entry != nullptr && *entry != nullptr; ++entry)
          all.emplace_back(*entry);
        return outcome(srb::Result<std::vector<std::string>>(srb::launch_environment(all)));
      },
      malloc_argv);
}

}  // extern "C"
