#pragma once

// Kept apart from libcrypto.hpp, which brings OpenSSL's headers and the result types, so that the
// tool's main compiles in a fraction of the time.

namespace srb {

// Called by a program that is the only user of OpenSSL in its process (the tool), before the
// first libcrypto() call. The library is then initialised for Ed25519 alone: without reading
// OpenSSL's configuration file (or OPENSSL_CONF), filling the legacy tables of every cipher and
// digest name, or tearing it all down again at exit, which together cost a signed verify of a
// host bundle a fifth of its instructions. A library inside someone else's program must not do
// this: OpenSSL is initialised once per process, and the program may need all three.
void initialise_libcrypto_for_ed25519_only();

}  // namespace srb
