#pragma once
// A child process that must succeed, for tests that install, link and package.

#include <string>
#include <vector>

#include "tests/support/process.hpp"

namespace srb::test {

// run_process, adding a test failure that shows the command and its output unless it exits 0.
ProcessResult run_checked(const std::vector<std::string>& args, const RunOptions& options = {});

}  // namespace srb::test
