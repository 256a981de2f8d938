#include "tests/support/run_checked.hpp"

#include <gtest/gtest.h>

namespace srb::test {

ProcessResult run_checked(const std::vector<std::string>& args, const RunOptions& options) {
  ProcessResult result = run_process(args, options);
  std::string command;
  for (const std::string& arg : args)
    command += (command.empty() ? "" : " ") + arg;
  EXPECT_EQ(result.status, 0) << command << "\n" << result.out << result.err;
  return result;
}

}  // namespace srb::test
