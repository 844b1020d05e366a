#pragma once

#include <string>

namespace talvorin {

// A new random (version 4) UUID in its canonical text: 36 characters, upper-case
// hexadecimal in groups of 8-4-4-4-12.
std::string makeUUIDString();

}  // namespace talvorin
