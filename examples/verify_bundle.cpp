// verify_bundle DIR [PUBLISHER_HEX]: checks a runtime bundle in-process, as a launcher does
// before it runs a program on it, and insists on a signature by the given publisher when one is
// named. The library's C++ headers are C++17.

#include <sarn_runtime_bundle/bundle.hpp>

#include <iostream>
#include <optional>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::cerr << "usage: verify_bundle DIR [PUBLISHER_HEX]\n";
    return 2;
  }
  srb::VerifyRequest request;
  request.bundle_dir = argv[1];
  if (argc == 3) request.require_publisher = std::string(argv[2]);

  const srb::Result<srb::BundleManifest> manifest = srb::verify_bundle(request);
  if (!manifest) {
    std::cerr << "verify_bundle: " << srb::message(manifest.error()) << '\n';
    return 1;
  }
  std::cout << "runtime " << manifest->version << " for " << manifest->arch << ": "
            << manifest->files.size() << " files, root hash " << manifest->root_hash << '\n';
  if (manifest->publisher_hex) std::cout << "signed by " << *manifest->publisher_hex << '\n';
  return 0;
}
