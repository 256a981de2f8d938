// The C interface's shared pieces, its version and its errors.

#include "api/c_layer.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>

#include <sarn_runtime_bundle/location.hpp>

namespace srb::c_layer {
namespace {

// Made when the library is loaded, so that handing it out needs no memory.
srb_error out_of_memory_error{io_error(ENOMEM)};

}  // namespace

ErrorRecord io_error(int code) {
  return error_record(Io{os_error(code)});
}

ErrorRecord invalid_argument() {
  return io_error(EINVAL);
}

srb_error* out_of_memory() {
  return &out_of_memory_error;
}

bool is_out_of_memory(const srb_error* error) {
  return error == &out_of_memory_error;
}

void report(srb_error** slot, srb_error* error) {
  if (slot != nullptr)
    *slot = error;
  else if (!is_out_of_memory(error))
    delete error;
}

void report(srb_error** slot, ErrorRecord record) {
  if (slot == nullptr) return;
  srb_error* error = new (std::nothrow) srb_error;
  if (error == nullptr) return report(slot, out_of_memory());
  error->record = std::move(record);
  *slot = error;
}

std::optional<std::string_view> text_of(const char* text, size_t length) {
  if (text == nullptr) return length == 0 ? std::optional<std::string_view>("") : std::nullopt;
  return std::string_view(text, length);
}

bool names_a_file(std::string_view path) {
  return path.find('\0') == std::string_view::npos;
}

ErrorRecord exception_record(std::exception_ptr exception) {
  try {
    std::rethrow_exception(exception);
  } catch (const std::system_error& error) {
    return io_error(error.code().value());
  } catch (...) {
    return io_error(EIO);
  }
}

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

const char* lend(const std::string& text, size_t* length) {
  if (length != nullptr) *length = text.size();
  return text.c_str();
}

const char* lend(const std::optional<std::string>& text, size_t* length) {
  if (!text) return no_text(length);
  return lend(*text, length);
}

const char* no_text(size_t* length) {
  if (length != nullptr) *length = 0;
  return nullptr;
}

srb_manifest* manifest_handle(BundleManifest manifest) {
  return new srb_manifest{std::move(manifest)};
}

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

void free_argv(char** argv) {
  if (argv == nullptr) return;
  for (char** arg = argv; *arg != nullptr; ++arg)
    std::free(*arg);
  std::free(static_cast<void*>(argv));
}

}  // namespace srb::c_layer

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

}  // namespace

using namespace srb::c_layer;  // NOLINT: the helpers of every C function here

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
  return lend(error->record.message, length);
}
const char* srb_error_path(const srb_error* error, size_t* length) {
  return error ? lend(error->record.path, length) : no_text(length);
}
int srb_error_os_code(const srb_error* error) {
  return error ? error->record.os_code : 0;
}
void srb_error_free(srb_error* error) {
  if (!is_out_of_memory(error)) delete error;
}

void srb_version_numbers(unsigned* major, unsigned* minor, unsigned* patch) {
  if (major != nullptr) *major = SRB_PROJECT_VERSION_MAJOR;
  if (minor != nullptr) *minor = SRB_PROJECT_VERSION_MINOR;
  if (patch != nullptr) *patch = SRB_PROJECT_VERSION_PATCH;
}

void srb_string_free(char* text) {
  std::free(text);
}

void srb_argv_free(char** argv) {
  free_argv(argv);
}
}  // extern "C"
