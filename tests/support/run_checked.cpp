#include "tests/support/run_checked.hpp"

#include <gtest/gtest.h>

#include "core/text.hpp"

namespace srb::test {

ProcessResult run_checked(const std::vector<std::string>& args, const RunOptions& options) {
  ProcessResult result = run_process(args, options);
  EXPECT_EQ(result.status, 0) << joined(args, " ") << "\n" << result.out << result.err;
  return result;
}

}  // namespace srb::test
