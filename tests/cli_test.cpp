// End-to-end checks of the command line: statuses and streams of the binary itself.

#include <gtest/gtest.h>

#include "tests/support/process.hpp"

namespace srb::test {
namespace {

TEST(CommandLine, NoArgumentsShowsHelpOnStderrWithStatus2) {
  const ProcessResult r = run_tool({});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("Produce and verify Sarn runtime bundles."), std::string::npos);
}

TEST(CommandLine, HelpGoesToStdoutWithStatus0) {
  const ProcessResult r = run_tool({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Produce and verify Sarn runtime bundles."), std::string::npos);
  EXPECT_EQ(r.err, "");
}

TEST(CommandLine, HelpThatCannotBeWrittenIsNotSuccess) {
  RunOptions options;
  options.stdout_file = "/dev/full";
  EXPECT_NE(run_tool({"--help"}, options).status, 0);
}

}  // namespace
}  // namespace srb::test
