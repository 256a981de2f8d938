#include <unistd.h>

#include "cli/run.hpp"
#include "signing/libcrypto.hpp"

int main(int argc, char** argv) {
  // The tool is OpenSSL's only user in its process.
  srb::initialise_libcrypto_for_ed25519_only();
  srb::Output out(STDOUT_FILENO);
  srb::Output err(STDERR_FILENO);
  return srb::run(argc, argv, out, err);
}
