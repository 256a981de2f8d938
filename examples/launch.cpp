// launch VERSION PUBLISHER_HEX PROGRAM [ARG...], in C++17: the launcher of launch.c through the
// library's C++ interface. It finds the installed bundle of VERSION, verifies it with the
// publisher, the version and this machine's architecture required, checks that nobody but root
// and the caller can change it, and execs the bundle's loader on PROGRAM (a path) with the
// caller's environment less its LD_ variables. Built by examples/CMakeLists.txt.
#include <sarn_runtime_bundle/bundle.hpp>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

int fail(const srb::Error& error) {
  std::cerr << "launch: " << error.message << " (kind " << static_cast<int>(error.kind);
  if (error.path) std::cerr << ", file " << *error.path;
  std::cerr << ")\n";
  return 1;
}

// What execve takes: pointers into `texts`, ended by a null pointer.
std::vector<char*> c_vector(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts)
    pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: launch VERSION PUBLISHER_HEX PROGRAM [ARG...]\n";
    return 2;
  }
  srb::LaunchRequest request;
  request.version = argv[1];
  request.require_publisher = argv[2];
  const srb::Result<srb::LaunchPlan> plan = srb::plan_launch(request);
  if (!plan) return fail(plan.error());

  srb::Result<std::vector<std::string>> command =
      srb::launch_command(*plan, argv[3], std::vector<std::string>(argv + 4, argv + argc));
  if (!command) return fail(command.error());
  srb::Result<std::vector<std::string>> environment = srb::launch_environment();
  if (!environment) return fail(environment.error());
  std::vector<char*> command_argv = c_vector(*command);
  std::vector<char*> command_env = c_vector(*environment);
  ::execve(command_argv[0], command_argv.data(), command_env.data());
  std::cerr << "launch: " << command_argv[0] << ": " << std::strerror(errno) << '\n';
  return 127;
}
