#pragma once
// Joining the "/"-separated byte-string paths of the bundle roots and version tags.

#include <string>
#include <string_view>

namespace srb {

// `right` alone when it begins with "/"; otherwise `left`, one "/" unless `left` is empty or
// already ends in "/", then `right`. Nothing is normalised: ".", ".." and "//" stay as written.
std::string join_path(std::string_view left, std::string_view right);

}  // namespace srb
