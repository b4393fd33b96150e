// What the simulated heap can tell tests about itself.
#pragma once
#include <cstddef>

namespace handheld {

// Blocks obtained from LocalAlloc and not yet given back with LocalFree, on any machine.
std::size_t heapBlocksInUse();

}  // namespace handheld
