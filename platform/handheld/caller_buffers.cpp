// 32-bit addresses for buffers named inside request records. The program's memory lies
// anywhere in the host's address space, while the device's records carry 32-bit pointers, so
// each CallerBuffer is given a range of a 32-bit space of its own for its lifetime. A driver
// turns an address and a length back into memory only when the whole range lies inside one
// live buffer, the way a driver on the device checks a caller's pointer before using it.
#include <cstdint>
#include <map>

#include "platform/files.h"
#include "platform/handheld/devices.h"

namespace {

struct Lease {
  void* memory;
  ce::DWORD length;
};

// Leased ranges by their first address. Addresses start well above 0 and leave a page between
// ranges, so an address that runs off one buffer never lands in the next.
constexpr std::uint64_t FirstAddress = 0x10000000;
constexpr std::uint64_t LastAddress = 0xF0000000;
constexpr std::uint64_t Gap = 0x1000;

std::map<std::uint64_t, Lease>& leases() {
  static std::map<std::uint64_t, Lease> table;
  return table;
}
std::uint64_t nextAddress = FirstAddress;

}  // namespace

namespace ce {

CallerBuffer::CallerBuffer(void* buffer, DWORD length) {
  if (!buffer) return;
  auto& table = leases();
  if (table.empty()) nextAddress = FirstAddress;
  const std::uint64_t end = nextAddress + length;
  if (end > LastAddress) return;  // address() stays 0: the driver refuses it
  table.emplace(nextAddress, Lease{buffer, length});
  address_ = static_cast<DWORD>(nextAddress);
  nextAddress = (end + 2 * Gap - 1) & ~(Gap - 1);
}

CallerBuffer::~CallerBuffer() {
  if (address_) leases().erase(address_);
}

}  // namespace ce

namespace handheld {

void* callerMemory(ce::DWORD address, ce::DWORD length) {
  auto& table = leases();
  auto it = table.upper_bound(address);
  if (it == table.begin()) return nullptr;
  --it;
  const std::uint64_t offset = address - it->first;
  if (offset + length > it->second.length) return nullptr;
  return static_cast<std::uint8_t*>(it->second.memory) + offset;
}

}  // namespace handheld
