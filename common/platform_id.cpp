#include "common/platform_id.h"

namespace kestrel {

namespace {

struct Field {
  bool inCpu;
  std::uint32_t mask;
};

// The eight compared fields. Bits 7-0 of cpu are not among them.
constexpr Field fields[] = {
    {true, 0xFC000000u},  {true, 0x03F00000u},  {true, 0x000FC000u},  {true, 0x00003F00u},
    {false, 0xFFC00000u}, {false, 0x003F0000u}, {false, 0x0000FF00u}, {false, 0x000000FFu},
};

}  // namespace

unsigned platformMatch(const PlatformId& id, const PlatformId& pattern) {
  unsigned score = 1;
  for (const Field& f : fields) {
    std::uint32_t mine = (f.inCpu ? id.cpu : id.machine) & f.mask;
    std::uint32_t theirs = (f.inCpu ? pattern.cpu : pattern.machine) & f.mask;
    if (mine == theirs) {
      ++score;
    } else if (theirs != 0) {
      return 0;
    }
  }
  return score;
}

}  // namespace kestrel
