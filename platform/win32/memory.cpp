// Large heap blocks on Windows: the system's heap as it is (large pages need a privilege a
// test run does not have).
#include "platform/handheld/host_memory.h"

namespace handheld {

void adviseLargeBlock(void*, std::size_t) {}

}  // namespace handheld
