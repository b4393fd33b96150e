// Large heap blocks on Linux: transparent huge pages where the kernel offers them on request
// (the common "madvise" setting), for the 2 MiB-aligned part of the block.
#include <sys/mman.h>

#include <cstdint>

#include "platform/handheld/host_memory.h"

namespace handheld {

void adviseLargeBlock(void* block, std::size_t bytes) {
  constexpr std::uintptr_t huge = 2u << 20;
  const std::uintptr_t from = (reinterpret_cast<std::uintptr_t>(block) + huge - 1) & ~(huge - 1);
  const std::uintptr_t to = (reinterpret_cast<std::uintptr_t>(block) + bytes) & ~(huge - 1);
  if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}

}  // namespace handheld
