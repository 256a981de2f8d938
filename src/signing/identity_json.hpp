#pragma once
// The JSON half of the identity file reader: text in, the secret_key_hex text out.

#include <string_view>

#include "core/result.hpp"
#include "signing/secret_string.hpp"

namespace srb {

// Reads one JSON value that must be an object with a string member "secret_key_hex" (other
// members are skipped whatever they hold) or an array whose only element is that string, and
// returns that string. Fails with IdentityInvalid whose detail is "{msg} at line L column C":
// a syntax error, "missing field `secret_key_hex`", "duplicate field `secret_key_hex`",
// "invalid type: {what}, expected a string" / "... expected struct File", or
// "invalid length N, expected struct File with 1 element" for an array of any other length.
Result<SecretString> parse_identity_json(std::string_view text);

}  // namespace srb
