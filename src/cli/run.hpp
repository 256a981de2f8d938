#pragma once

#include "cli/output.hpp"

namespace srb {

// The whole program: parse, run one handler, print its result or its error line, and return
// the exit status (0 success, 1 failure, 2 usage error).
int run(int argc, char** argv, Output& out, Output& err);

}  // namespace srb
