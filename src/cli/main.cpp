#include <unistd.h>

#include "cli/run.hpp"

int main(int argc, char** argv) {
  srb::Output out(STDOUT_FILENO);
  srb::Output err(STDERR_FILENO);
  return srb::run(argc, argv, out, err);
}
