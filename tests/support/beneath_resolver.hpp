#pragma once
// Running a test through both ways of opening inside a bundle: the kernel's openat2 and the walk
// that a kernel without it, or a system-call filter that refuses it, gets.

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "verify/beneath.hpp"

namespace srb {

// Names the resolver in a failure message instead of its bytes.
inline void PrintTo(BeneathResolver resolver, std::ostream* out) {
  *out << (resolver == BeneathResolver::kernel ? "kernel" : "walk");
}

}  // namespace srb

namespace srb::test {

// A test suite whose cases run once per resolver, restoring the one in use afterwards. Use with
// INSTANTIATE_TEST_SUITE_P(BothResolvers, Suite, kBothResolvers, resolver_name).
class BothResolvers : public ::testing::TestWithParam<BeneathResolver> {
 protected:
  void SetUp() override {
    saved_ = beneath_resolver();
    use_beneath_resolver(GetParam());
  }
  void TearDown() override { use_beneath_resolver(saved_); }

 private:
  BeneathResolver saved_ = BeneathResolver::kernel;
};

inline const auto kBothResolvers =
    ::testing::Values(BeneathResolver::kernel, BeneathResolver::walk);

inline std::string resolver_name(const ::testing::TestParamInfo<BeneathResolver>& info) {
  return info.param == BeneathResolver::kernel ? "kernel" : "walk";
}

}  // namespace srb::test
