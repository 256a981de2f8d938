#pragma once
// Fresh secret bytes from the kernel.

#include <span>

#include "core/result.hpp"

namespace srb {

// Fills `out` from getrandom(2), which blocks until the kernel's pool is initialised. Where the
// call is missing (ENOSYS) or refused (EPERM, e.g. by a seccomp filter), waits until
// /dev/random is readable, then reads /dev/urandom. Fails with Io.
Result<void> fill_from_system_random(std::span<unsigned char> out);

}  // namespace srb
