// Times file_digest on one file, the way build and verify call it. Prints one line:
//   <runs> <best seconds> <median seconds> <bytes> <digest>
// and leaves the table to bench/digest-throughput, which runs b3sum on the same file.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "manifest/digest.hpp"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: digest_bench FILE [RUNS]\n");
    return 2;
  }
  const int runs = argc == 3 ? std::max(1, std::stoi(argv[2])) : 5;
  std::vector<double> seconds;
  srb::FileDigest digest;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    srb::Result<srb::FileDigest> result = srb::file_digest(argv[1]);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (!result) {
      std::fprintf(stderr, "digest_bench: %s\n", srb::message(result.error()).c_str());
      return 1;
    }
    digest = std::move(*result);
    seconds.push_back(elapsed.count());
  }
  std::sort(seconds.begin(), seconds.end());
  std::printf("%d %.4f %.4f %llu %s\n", runs, seconds.front(), seconds[seconds.size() / 2],
              static_cast<unsigned long long>(digest.size), digest.hash.c_str());
  return 0;
}
