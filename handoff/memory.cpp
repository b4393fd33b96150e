#include "handoff/memory.h"

#include <algorithm>
#include <cstring>

namespace kestrel::handoff {

bool PhysicalMemory::contains(std::uint32_t address, std::uint32_t length) const {
  if (length == 0) return true;
  std::uint64_t last = std::uint64_t{address} + length - 1;
  if (last > 0xFFFFFFFFu) return false;
  for (std::uint64_t base = address & ~std::uint64_t{FrameMask}; base <= last; base += FrameSize)
    if (!frames_.count(static_cast<std::uint32_t>(base))) return false;
  return true;
}

const PhysicalMemory::Frame* PhysicalMemory::frame(std::uint32_t base) const {
  auto it = frames_.find(base);
  return it == frames_.end() ? nullptr : it->second.get();
}

PhysicalMemory::Frame& PhysicalMemory::frameAt(std::uint32_t address) {
  std::uint32_t base = address & ~FrameMask;
  auto it = frames_.find(base);
  if (it == frames_.end()) {
    auto frame = std::make_shared<Frame>();
    frame->fill(fill_);
    it = frames_.emplace(base, std::move(frame)).first;
  } else if (it->second.use_count() > 1) {
    it->second = std::make_shared<Frame>(*it->second);  // shared with a copy: this side's own now
  }
  return *it->second;
}

bool PhysicalMemory::read(std::uint32_t address, void* out, std::size_t length) const {
  if (length > 0xFFFFFFFFu || !contains(address, static_cast<std::uint32_t>(length))) return false;
  auto* o = static_cast<std::uint8_t*>(out);
  while (length > 0) {
    const Frame& f = *frames_.find(address & ~FrameMask)->second;
    std::uint32_t offset = address & FrameMask;
    std::size_t n = std::min<std::size_t>(length, FrameSize - offset);
    std::memcpy(o, f.data() + offset, n);
    o += n;
    length -= n;
    address += static_cast<std::uint32_t>(n);
  }
  return true;
}

void PhysicalMemory::write(std::uint32_t address, const void* in, std::size_t length) {
  auto* p = static_cast<const std::uint8_t*>(in);
  std::uint64_t room = std::uint64_t{0x100000000} - address;
  if (length > room) length = static_cast<std::size_t>(room);
  while (length > 0) {
    Frame& f = frameAt(address);
    std::uint32_t offset = address & FrameMask;
    std::size_t n = std::min<std::size_t>(length, FrameSize - offset);
    std::memcpy(f.data() + offset, p, n);
    p += n;
    length -= n;
    address += static_cast<std::uint32_t>(n);
  }
}

bool PhysicalMemory::read32(std::uint32_t address, std::uint32_t& value) const {
  std::uint8_t b[4];
  if ((address & FrameMask) <= FrameSize - 4) {
    // Within one frame: the walk's every word, so the short way.
    const Frame* f = frame(address & ~FrameMask);
    if (!f) return false;
    std::memcpy(b, f->data() + (address & FrameMask), 4);
  } else if (!read(address, b, 4)) {
    return false;
  }
  value = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
          static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
  return true;
}

void PhysicalMemory::write32(std::uint32_t address, std::uint32_t value) {
  const std::uint8_t b[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                             static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  if ((address & FrameMask) <= FrameSize - 4)
    std::memcpy(frameAt(address).data() + (address & FrameMask), b, 4);
  else
    write(address, b, 4);
}

std::optional<std::uint32_t> PhysicalMemory::firstDifference(const PhysicalMemory& a, const PhysicalMemory& b) {
  auto i = a.frames_.begin(), j = b.frames_.begin();
  while (i != a.frames_.end() || j != b.frames_.end()) {
    if (i == a.frames_.end()) return j->first;
    if (j == b.frames_.end()) return i->first;
    if (i->first != j->first) return std::min(i->first, j->first);
    if (i->second != j->second && *i->second != *j->second) {
      for (std::uint32_t k = 0; k < FrameSize; ++k)
        if ((*i->second)[k] != (*j->second)[k]) return i->first + k;
    }
    ++i;
    ++j;
  }
  return std::nullopt;
}

}  // namespace kestrel::handoff
