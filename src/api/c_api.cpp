// The C interface over the public C++ functions. Every entry point catches everything: an
// exception must not unwind into a C caller, and the only one the library raises is
// std::bad_alloc, which becomes the i/o error "Cannot allocate memory".

#include <sarn_runtime_bundle/sarn_runtime_bundle.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include <sarn_runtime_bundle/bundle.hpp>

#include "api/convert.hpp"
#include "core/error.hpp"

namespace api = ::sarn_runtime_bundle;

struct srb_error {
  api::Error error;
};
struct srb_manifest {
  api::BundleManifest manifest;
};
struct srb_verify_request {
  api::VerifyRequest request;
};
struct srb_build_request {
  api::BuildRequest request;
};

namespace {

api::Error io_error(int code) {
  return srb::to_public(srb::Io{srb::os_error(code)});
}

// Handed out when not even an error record can be allocated; srb_error_free leaves it alone.
// Made when the library is loaded, so that handing it out needs no memory.
srb_error out_of_memory_error{io_error(ENOMEM)};

srb_error* out_of_memory() {
  return &out_of_memory_error;
}

// What a null handle or string gets in place of a crash.
api::Error invalid_argument() {
  return io_error(EINVAL);
}

void report(srb_error** slot, srb_error* error) {
  if (slot != nullptr)
    *slot = error;
  else if (error != &out_of_memory_error)
    delete error;
}

void report(srb_error** slot, api::Error error) {
  if (slot == nullptr) return;
  srb_error* record = new (std::nothrow) srb_error;
  if (record == nullptr) return report(slot, out_of_memory());
  record->error = std::move(error);
  *slot = record;
}

// Runs one operation returning a Result: its value in a new handle, or its error in `slot`.
template <typename Handle, typename Operation>
Handle* result_handle(srb_error** slot, Operation operation) {
  report(slot, static_cast<srb_error*>(nullptr));
  try {
    auto result = operation();
    if (!result) {
      report(slot, std::move(result).error());
      return nullptr;
    }
    return new Handle{std::move(*result)};
  } catch (...) {
    report(slot, out_of_memory());
    return nullptr;
  }
}

// A setter's copy of its argument: 0, or -1 when out of memory or given a null pointer.
template <typename Request, typename Assign>
int assign(Request* request, const char* text, Assign assign_value) {
  if (request == nullptr || text == nullptr) return -1;
  try {
    assign_value();
    return 0;
  } catch (...) {
    return -1;
  }
}

const api::BundleFile* file_at(const srb_manifest* manifest, std::size_t index) {
  if (manifest == nullptr || index >= manifest->manifest.files.size()) return nullptr;
  return &manifest->manifest.files[index];
}

const char* optional_text(const std::optional<std::string>& text) {
  return text ? text->c_str() : nullptr;
}

}  // namespace

extern "C" {

srb_error_kind srb_error_get_kind(const srb_error* error) {
  return error ? static_cast<srb_error_kind>(error->error.kind) : srb_error_kind{};
}
const char* srb_error_message(const srb_error* error) {
  return error ? error->error.message.c_str() : "";
}
void srb_error_free(srb_error* error) {
  if (error != &out_of_memory_error) delete error;
}

const char* srb_manifest_version(const srb_manifest* m) {
  return m ? m->manifest.version.c_str() : nullptr;
}
const char* srb_manifest_arch(const srb_manifest* m) {
  return m ? m->manifest.arch.c_str() : nullptr;
}
const char* srb_manifest_root_hash(const srb_manifest* m) {
  return m ? m->manifest.root_hash.c_str() : nullptr;
}
uint64_t srb_manifest_produced_at(const srb_manifest* m) {
  return m ? m->manifest.produced_at : 0;
}
const char* srb_manifest_publisher_hex(const srb_manifest* m) {
  return m ? optional_text(m->manifest.publisher_hex) : nullptr;
}
const char* srb_manifest_signature_hex(const srb_manifest* m) {
  return m ? optional_text(m->manifest.signature_hex) : nullptr;
}
size_t srb_manifest_file_count(const srb_manifest* m) {
  return m ? m->manifest.files.size() : 0;
}
const char* srb_manifest_file_path(const srb_manifest* m, size_t index) {
  const api::BundleFile* file = file_at(m, index);
  return file ? file->path.c_str() : nullptr;
}
const char* srb_manifest_file_hash(const srb_manifest* m, size_t index) {
  const api::BundleFile* file = file_at(m, index);
  return file ? file->hash.c_str() : nullptr;
}
uint64_t srb_manifest_file_size(const srb_manifest* m, size_t index) {
  const api::BundleFile* file = file_at(m, index);
  return file ? file->size : 0;
}
void srb_manifest_free(srb_manifest* manifest) {
  delete manifest;
}

srb_verify_request* srb_verify_request_new(const char* bundle_dir) {
  if (bundle_dir == nullptr) return nullptr;
  try {
    auto* request = new srb_verify_request;
    request->request.bundle_dir = bundle_dir;
    return request;
  } catch (...) {
    return nullptr;
  }
}
int srb_verify_request_require_arch(srb_verify_request* request, const char* arch) {
  return assign(request, arch, [&] { request->request.require_arch = arch; });
}
int srb_verify_request_require_publisher(srb_verify_request* request, const char* publisher_hex) {
  return assign(request, publisher_hex,
                [&] { request->request.require_publisher = publisher_hex; });
}
void srb_verify_request_require_signature(srb_verify_request* request, int required) {
  if (request == nullptr) return;
  request->request.require_signature =
      required ? api::RequireSignature::yes : api::RequireSignature::no;
}
void srb_verify_request_free(srb_verify_request* request) {
  delete request;
}

srb_manifest* srb_verify(const srb_verify_request* request, srb_error** error) {
  return result_handle<srb_manifest>(error, [&]() -> api::Result<api::BundleManifest> {
    if (request == nullptr) return invalid_argument();
    return api::verify_bundle(request->request);
  });
}

char* srb_resolve_bundle_path(const char* version, int system_only, srb_error** error) {
  report(error, static_cast<srb_error*>(nullptr));
  if (version == nullptr) {
    report(error, invalid_argument());
    return nullptr;
  }
  try {
    const api::SystemOnly system = system_only ? api::SystemOnly::yes : api::SystemOnly::no;
    api::Result<std::string> path = api::resolve_bundle_path(version, system);
    if (!path) {
      report(error, std::move(path).error());
      return nullptr;
    }
    char* text = static_cast<char*>(std::malloc(path->size() + 1));
    if (text == nullptr) {
      report(error, out_of_memory());
      return nullptr;
    }
    std::memcpy(text, path->c_str(), path->size() + 1);
    return text;
  } catch (...) {
    report(error, out_of_memory());
    return nullptr;
  }
}
void srb_string_free(char* text) {
  std::free(text);
}

srb_build_request* srb_build_request_new(const char* version, const char* out) {
  if (version == nullptr || out == nullptr) return nullptr;
  try {
    auto* request = new srb_build_request;
    request->request.version = version;
    request->request.out = out;
    return request;
  } catch (...) {
    return nullptr;
  }
}
int srb_build_request_set_from(srb_build_request* request, const char* host_root) {
  return assign(request, host_root, [&] { request->request.from = host_root; });
}
int srb_build_request_set_arch(srb_build_request* request, const char* arch) {
  return assign(request, arch, [&] { request->request.arch = arch; });
}
int srb_build_request_set_identity(srb_build_request* request, const char* identity_path) {
  return assign(request, identity_path, [&] { request->request.identity = identity_path; });
}
int srb_build_request_add_include(srb_build_request* request, const char* path) {
  return assign(request, path, [&] { request->request.includes.emplace_back(path); });
}
void srb_build_request_free(srb_build_request* request) {
  delete request;
}

srb_manifest* srb_build(const srb_build_request* request, srb_error** error) {
  return result_handle<srb_manifest>(error, [&]() -> api::Result<api::BundleManifest> {
    if (request == nullptr) return invalid_argument();
    return api::build_bundle(request->request);
  });
}

}  // extern "C"
