// Counts heap allocations made by this process, so a benchmark can show that a
// code path allocates nothing.
#pragma once

#include <cstdint>

namespace bench {
std::uint64_t allocationCount();
}
