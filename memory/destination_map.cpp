#include "memory/destination_map.h"

namespace kestrel {

void DestinationMap::addDestination(std::vector<AddressRange>& out, std::uint64_t start, std::uint64_t length) const {
  if (length == 0) return;
  std::uint64_t end = (start + length + 3) & ~std::uint64_t{3};
  if (end > 0x100000000ull) end = 0x100000000ull;
  out.push_back({static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(end - start)});
}

const DestinationMap& identityDestinations() {
  static const struct Identity final : DestinationMap {
  } identity;
  return identity;
}

bool insideBanks(const MemoryManager& memory, const AddressRange& range) {
  const std::uint64_t start = range.start, end = start + range.length;
  for (int i = 0; i < memory.bankCount(); ++i) {
    const MemoryBank& bank = memory.bank(i);
    if (start >= bank.start && end <= std::uint64_t{bank.start} + bank.size) return true;
  }
  return false;
}

}  // namespace kestrel
