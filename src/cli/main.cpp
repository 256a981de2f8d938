#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <new>
#include <string_view>

#include "cli/run.hpp"
#include "signing/libcrypto_setup.hpp"

// The process's own settings, which the library leaves alone: every fault ends a command with
// one error line and status 1 (or 0), not with a signal.

namespace {

std::terminate_handler runtime_handler = nullptr;

// The C++ runtime gives up when it cannot allocate even the exception that reports exhausted
// memory (its reserve for that is allocated at start-up, which may have failed too), and when a
// std::bad_alloc reaches a function that may not throw. Both are the command failing for want
// of memory, reported as run() reports it before the command is known. Anything else is a fault
// of the program, left to the runtime's handler.
[[noreturn]] void end_for_want_of_memory() {
  bool memory = true;
  if (const std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const std::bad_alloc&) {
    } catch (...) {
      memory = false;
    }
  }
  if (!memory) {
    if (runtime_handler != nullptr) runtime_handler();
    std::abort();
  }
  constexpr std::string_view kLine =
      "sarn-runtime-bundle: i/o: Cannot allocate memory (os error 12)\n";
  if (::write(STDERR_FILENO, kLine.data(), kLine.size()) < 0) {
    // Nothing is left to tell it with.
  }
  ::_exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  // A write beyond the file-size limit (RLIMIT_FSIZE) then fails with EFBIG, "File too large",
  // which the command reports, instead of ending the process with SIGXFSZ and no word.
  ::signal(SIGXFSZ, SIG_IGN);
  runtime_handler = std::set_terminate(end_for_want_of_memory);
  // The tool is OpenSSL's only user in its process.
  srb::initialise_libcrypto_for_ed25519_only();
  srb::Output out(STDOUT_FILENO);
  srb::Output err(STDERR_FILENO);
  return srb::run(argc, argv, out, err);
}
