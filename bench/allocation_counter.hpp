#pragma once

#include <cstdint>

namespace talvorin::bench {

// How many times operator new has been called in this program so far. The benchmark binary
// replaces the global operator new and delete to count them.
std::uint64_t allocationCount();

}  // namespace talvorin::bench
