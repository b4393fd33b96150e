// What the build machine's backend may do for the handheld's memory. Blocks of several MiB
// (a kernel or an image fetched whole over the network) are backed by large pages where the
// build machine has them, so that filling them does not cost a fault per 4 KiB page.
#pragma once
#include <cstddef>

namespace handheld {

// A hint for a block of `bytes` at `block` that was just allocated; it changes no content.
void adviseLargeBlock(void* block, std::size_t bytes);

}  // namespace handheld
