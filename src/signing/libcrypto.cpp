#include "signing/libcrypto.hpp"

#include <dlfcn.h>

#include <cerrno>
#include <cstdint>
#include <mutex>
#include <optional>

namespace srb {
namespace {

// RTLD_LOCAL keeps OpenSSL's symbols out of the global scope, so the library cannot take the
// place of another copy a program loaded itself; RTLD_NOW finds a missing function here rather
// than at its first call.
std::optional<Libcrypto> load(const char* soname) {
  void* library = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return std::nullopt;
  Libcrypto crypto;
  bool complete = true;
#define SRB_LIBCRYPTO_RESOLVE(name)                                           \
  crypto.name = reinterpret_cast<decltype(&::name)>(::dlsym(library, #name)); \
  complete = complete && crypto.name != nullptr;
  SRB_LIBCRYPTO_FUNCTIONS(SRB_LIBCRYPTO_RESOLVE)
#undef SRB_LIBCRYPTO_RESOLVE
  if (!complete) {
    ::dlclose(library);
    return std::nullopt;
  }
  return crypto;
}

struct Loader {
  std::once_flag once;
  const char* soname = "libcrypto.so.3";
  bool ed25519_only = false;
  std::optional<Libcrypto> crypto;
};

constexpr std::uint64_t kEd25519OnlyInit = OPENSSL_INIT_NO_LOAD_CONFIG |
                                           OPENSSL_INIT_NO_ADD_ALL_CIPHERS |
                                           OPENSSL_INIT_NO_ADD_ALL_DIGESTS | OPENSSL_INIT_NO_ATEXIT;

Loader& loader() {
  static Loader instance;
  return instance;
}

}  // namespace

Result<const Libcrypto*> libcrypto() {
  Loader& state = loader();
  std::call_once(state.once, [&state] {
    state.crypto = load(state.soname);
    // A failed initialisation leaves OpenSSL to initialise itself as usual on first use.
    if (state.crypto && state.ed25519_only)
      state.crypto->OPENSSL_init_crypto(kEd25519OnlyInit, nullptr);
  });
  if (!state.crypto) return Io{os_error(ELIBACC)};
  return &*state.crypto;
}

void set_libcrypto_soname(const char* soname) {
  loader().soname = soname;
}

void initialise_libcrypto_for_ed25519_only() {
  loader().ed25519_only = true;
}

}  // namespace srb
