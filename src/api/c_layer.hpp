#pragma once
// What the files of the C interface share: the records behind its opaque handles, and how a call
// takes its texts in, hands its values out and reports its error. The C interface is all the
// shared library exports, so no C++ type, standard-library layout or exception crosses it: texts
// go in as pointer and length and come out as NUL-terminated bytes owned by a handle or by the
// caller, and every entry point catches every exception, since none may unwind into a C caller.

#include <sarn_runtime_bundle/sarn_runtime_bundle.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "api/error_record.hpp"
#include "api/launch_plan.hpp"
#include "build/build.hpp"
#include "core/result.hpp"
#include "location/bundle_path.hpp"
#include "manifest/manifest.hpp"
#include "verify/verify.hpp"

struct srb_error {
  srb::ErrorRecord record;
};
struct srb_manifest {
  srb::BundleManifest manifest;
};
struct srb_verify_request {
  srb::VerifyOptions request;
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
  std::vector<srb::InstalledVersion> bundles;
};

namespace srb::c_layer {

ErrorRecord io_error(int code);
// What a null handle or text, or a path holding NUL, gets in place of a crash or another file.
ErrorRecord invalid_argument();
// Handed out when not even an error record can be allocated; srb_error_free leaves it alone.
srb_error* out_of_memory();
bool is_out_of_memory(const srb_error* error);

// Stores `error` in `slot`, or frees it when there is no slot.
void report(srb_error** slot, srb_error* error);
void report(srb_error** slot, ErrorRecord record);

// A text argument: the empty text for (NULL, 0), nothing for NULL with a length.
std::optional<std::string_view> text_of(const char* text, size_t length);
// The kernel ends a path at its first NUL, so a path holding one would name another file.
bool names_a_file(std::string_view path);

// What an operation gives back to the C layer: its value, or the record of what stopped it.
template <typename T>
struct CallResult {
  std::optional<T> value;
  ErrorRecord error;
};
template <typename T>
CallResult<T> result_of(Result<T>&& result) {
  if (!result) return {std::nullopt, error_record(result.error())};
  return {std::move(*result), {}};
}
template <typename T>
CallResult<T> refused() {
  return {std::nullopt, invalid_argument()};
}

// The error record of an exception that reached the C layer: std::bad_alloc is out of memory, a
// std::system_error its own error number, anything else an i/o error.
ErrorRecord exception_record(std::exception_ptr exception);

// Runs one C call: `operation`'s value made into the caller's form by `to_caller`, or its error
// stored in `slot` (and a null value returned). No exception leaves it.
template <typename Operation, typename ToCaller>
auto call(srb_error** slot, Operation operation, ToCaller to_caller)
    -> decltype(to_caller(*operation().value)) {
  report(slot, static_cast<srb_error*>(nullptr));
  try {
    auto done = operation();
    if (!done.value) {
      report(slot, std::move(done.error));
      return nullptr;
    }
    return to_caller(*std::move(done.value));
  } catch (const std::bad_alloc&) {
    report(slot, out_of_memory());
  } catch (...) {
    report(slot, exception_record(std::current_exception()));
  }
  return nullptr;
}

// `operation` on a path argument, which must name a file.
template <typename T, typename Operation>
CallResult<T> on_path(const char* text, size_t length, Operation operation) {
  const std::optional<std::string_view> path = text_of(text, length);
  if (!path || !names_a_file(*path)) return refused<T>();
  return result_of(operation(std::filesystem::path(*path)));
}

// A copy the caller frees with srb_string_free (free), so it is made with malloc.
char* malloc_copy(std::string_view text, size_t* length);
char* malloc_text(const std::string& text);

// A setter's copy of its argument into a handle: 0, or -1 when out of memory or given a null
// pointer.
template <typename Handle, typename Set>
int copy_into(Handle* handle, const char* text, size_t length, Set set) {
  const std::optional<std::string_view> value = text_of(text, length);
  if (handle == nullptr || !value) return -1;
  try {
    set(std::string(*value));
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

// A text a handle lends the caller, with its length when asked; no_text lends none.
const char* lend(const std::string& text, size_t* length);
const char* lend(const std::optional<std::string>& text, size_t* length);
const char* no_text(size_t* length);

srb_manifest* manifest_handle(BundleManifest manifest);

// exec's arguments end at their first NUL, so they come as C strings.
std::vector<std::string> c_strings(const char* const* texts, size_t count);
bool all_present(const char* const* texts, size_t count);
// A NULL-terminated vector of malloc'd copies, freed with srb_argv_free.
char** malloc_argv(const std::vector<std::string>& strings);
void free_argv(char** argv);

}  // namespace srb::c_layer
