// The handheld's DRAM frames, the program's regions and reservations over them, and the
// device registers behind mapped physical addresses. See physical_memory.h.
#include "platform/handheld/physical_memory.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/handheld/state.h"

namespace handheld {

namespace {

constexpr std::uint32_t PageMask = PhysicalMemory::FrameSize - 1;

std::uint64_t splitmix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::uint64_t mix(std::uint64_t seed, std::uint64_t value) {
  std::uint64_t s = seed ^ (value * 0xD6E8FEB86659FD93ull);
  return splitmix(s);
}

[[noreturn]] void fault(const char* what, const volatile void* address) {
  std::fprintf(stderr, "handheld: %s at %p\n", what, const_cast<const void*>(address));
  std::abort();
}

std::uint8_t* allocatePages(std::uint32_t bytes) {
  auto* p = static_cast<std::uint8_t*>(::operator new(bytes, std::align_val_t(PhysicalMemory::FrameSize),
                                                        std::nothrow));
  return p;
}

void freePages(std::uint8_t* p) {
  ::operator delete(p, std::align_val_t(PhysicalMemory::FrameSize));
}

}  // namespace

PhysicalMemory::PhysicalMemory(const std::vector<DramBank>& banks, PageOrder order, std::uint32_t seed)
    : seed_(0x6B657374ull << 32 | seed) {
  // Frames ascending by physical address, whatever order the profile lists its banks in.
  for (const DramBank& b : banks)
    if (b.size >= FrameSize) banks_.push_back({b.base & ~PageMask, b.size & ~PageMask});
  std::sort(banks_.begin(), banks_.end(), [](const DramBank& a, const DramBank& b) { return a.base < b.base; });
  for (const DramBank& b : banks_) {
    for (std::uint64_t off = 0; off < b.size; off += FrameSize) {
      Frame f;
      f.physical = static_cast<std::uint32_t>(b.base + off);
      frames_.push_back(std::move(f));
    }
  }
  if (frames_.empty()) return;

  // What the running Windows CE keeps for itself.
  const std::uint32_t firstBase = banks_.front().base;
  for (Frame& f : frames_) {
    bool low = f.physical - firstBase < SystemLowBytes && f.physical >= firstBase;
    if (low || mix(seed_ ^ 0x5157ull, f.physical) % SystemShare == 0) f.use = FrameUse::System;
  }

  std::vector<std::uint32_t> free;
  for (std::uint32_t i = 0; i < frames_.size(); ++i)
    if (frames_[i].use == FrameUse::Free) free.push_back(i);

  auto shuffle = [this](std::vector<std::uint32_t>& v) {
    std::uint64_t state = seed_;
    for (std::size_t i = v.size(); i > 1; --i) {
      std::size_t j = static_cast<std::size_t>(splitmix(state) % i);
      std::swap(v[i - 1], v[j]);
    }
  };

  switch (order) {
    case PageOrder::Sequential:
      order_ = free;
      break;
    case PageOrder::Reverse:
      order_.assign(free.rbegin(), free.rend());
      break;
    case PageOrder::Shuffle:
      order_ = free;
      shuffle(order_);
      break;
    case PageOrder::Hostile: {
      // The kernel's destination window first, lowest first; then the rest shuffled.
      const std::uint64_t lo = std::uint64_t{firstBase} + SystemLowBytes;
      const std::uint64_t hi = std::min<std::uint64_t>(lo + KernelWindowBytes,
                                                       std::uint64_t{firstBase} + banks_.front().size);
      std::vector<std::uint32_t> rest;
      for (std::uint32_t i : free) {
        if (frames_[i].physical >= lo && frames_[i].physical < hi)
          order_.push_back(i);
        else
          rest.push_back(i);
      }
      shuffle(rest);
      order_.insert(order_.end(), rest.begin(), rest.end());
      break;
    }
  }
}

PhysicalMemory::~PhysicalMemory() {
  for (auto& [base, r] : regions_) freePages(r.memory);
}

std::uint32_t PhysicalMemory::residue(std::uint32_t physical) const {
  auto v = static_cast<std::uint32_t>(mix(seed_, physical & ~3u));
  return v | 0x01010101u;
}

std::uint8_t PhysicalMemory::residueByte(std::uint32_t physical) const {
  std::uint32_t w = residue(physical);
  std::uint8_t bytes[4];
  std::memcpy(bytes, &w, 4);  // the same byte order materialise uses
  return bytes[physical & 3];
}

std::uint32_t PhysicalMemory::frameIndex(std::uint32_t physical) const {
  std::uint32_t index = 0;
  for (const DramBank& b : banks_) {
    std::uint32_t frames = b.size / FrameSize;
    if (physical >= b.base && physical - b.base < b.size) return index + (physical - b.base) / FrameSize;
    index += frames;
  }
  return NoFrame;
}

std::size_t PhysicalMemory::freeFrameCount() const {
  return static_cast<std::size_t>(
      std::count_if(frames_.begin(), frames_.end(), [](const Frame& f) { return f.use == FrameUse::Free; }));
}

bool PhysicalMemory::isDram(std::uint32_t physical, std::uint32_t length) const {
  if (length == 0) return frameIndex(physical) != NoFrame;
  std::uint64_t end = std::uint64_t{physical} + length;
  if (end > 0x100000000ull) return false;
  for (std::uint64_t p = physical & ~PageMask; p < end; p += FrameSize)
    if (frameIndex(static_cast<std::uint32_t>(p)) == NoFrame) return false;
  return true;
}

FrameUse PhysicalMemory::frameUse(std::uint32_t physical) const {
  std::uint32_t i = frameIndex(physical);
  return i == NoFrame ? FrameUse::Free : frames_[i].use;
}

std::vector<std::uint32_t> PhysicalMemory::handOutOrder() const {
  std::vector<std::uint32_t> out;
  for (std::uint32_t i : order_)
    if (frames_[i].use == FrameUse::Free) out.push_back(frames_[i].physical);
  return out;
}

void PhysicalMemory::materialise(Frame& frame) {
  if (frame.live) return;
  frame.own.reset(new std::uint8_t[FrameSize]);
  for (std::uint32_t off = 0; off < FrameSize; off += 4) {
    std::uint32_t w = residue(frame.physical + off);
    std::memcpy(frame.own.get() + off, &w, 4);  // byte order is irrelevant for a pattern
  }
  frame.live = frame.own.get();
}

void PhysicalMemory::detach(Frame& frame) {
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[FrameSize]);
  std::memcpy(copy.get(), frame.live, FrameSize);
  frame.own = std::move(copy);
  frame.live = frame.own.get();
  frame.use = FrameUse::Free;
}

std::uint8_t* PhysicalMemory::frameData(std::uint32_t physical) {
  std::uint32_t i = frameIndex(physical);
  if (i == NoFrame) return nullptr;
  materialise(frames_[i]);
  return frames_[i].live;
}

bool PhysicalMemory::read(std::uint32_t physical, void* out, std::uint32_t length) {
  if (!isDram(physical, length)) return false;
  auto* dst = static_cast<std::uint8_t*>(out);
  while (length > 0) {
    std::uint32_t off = physical & PageMask;
    std::uint32_t n = std::min(length, FrameSize - off);
    Frame& f = frames_[frameIndex(physical)];
    if (f.live) {
      std::memcpy(dst, f.live + off, n);
    } else {
      for (std::uint32_t k = 0; k < n; ++k) dst[k] = residueByte(physical + k);
    }
    dst += n;
    physical += n;
    length -= n;
  }
  return true;
}

bool PhysicalMemory::write(std::uint32_t physical, const void* in, std::uint32_t length) {
  if (!isDram(physical, length)) return false;
  auto* src = static_cast<const std::uint8_t*>(in);
  while (length > 0) {
    std::uint32_t off = physical & PageMask;
    std::uint32_t n = std::min(length, FrameSize - off);
    std::memcpy(frameData(physical) + off, src, n);
    src += n;
    physical += n;
    length -= n;
  }
  return true;
}

void PhysicalMemory::forEachCommittedFrame(
    const std::function<void(std::uint32_t physical, const std::uint8_t* data)>& visit) {
  for (Frame& f : frames_)
    if (f.use == FrameUse::Committed) visit(f.physical, f.live);
}

// --- regions ----------------------------------------------------------------------------

void* PhysicalMemory::commit(std::uint32_t size, std::uint32_t protect) {
  if (size == 0 || size > 0xFFFFFFFFu - PageMask) return nullptr;
  std::uint32_t bytes = (size + PageMask) & ~PageMask;
  std::uint32_t pages = bytes / FrameSize;

  std::vector<std::uint32_t> taken;
  taken.reserve(pages);
  for (std::uint32_t i : order_) {
    if (taken.size() == pages) break;
    if (frames_[i].use == FrameUse::Free) taken.push_back(i);
  }
  if (taken.size() < pages) return nullptr;
  std::uint8_t* memory = allocatePages(bytes);
  if (!memory) return nullptr;

  Region r;
  r.base = reinterpret_cast<std::uintptr_t>(memory);
  r.size = bytes;
  r.memory = memory;
  r.committed = true;
  r.frames = taken;
  r.mapped.assign(pages, NoFrame);
  for (std::uint32_t p = 0; p < pages; ++p) {
    Frame& f = frames_[taken[p]];
    std::uint8_t* page = memory + std::size_t{p} * FrameSize;
    // The page starts with whatever the frame holds.
    materialise(f);
    std::memcpy(page, f.live, FrameSize);
    f.own.reset();
    f.live = page;
    f.use = FrameUse::Committed;
  }
  regions_.emplace(r.base, std::move(r));
  return memory;
}

void* PhysicalMemory::reserve(std::uint32_t size) {
  if (size == 0 || size > 0xFFFFFFFFu - PageMask) return nullptr;
  std::uint32_t bytes = (size + PageMask) & ~PageMask;
  std::uint8_t* memory = allocatePages(bytes);
  if (!memory) return nullptr;
  std::memset(memory, 0, bytes);
  Region r;
  r.base = reinterpret_cast<std::uintptr_t>(memory);
  r.size = bytes;
  r.memory = memory;
  r.frames.assign(bytes / FrameSize, NoFrame);
  r.mapped.assign(bytes / FrameSize, NoFrame);
  regions_.emplace(r.base, std::move(r));
  return memory;
}

bool PhysicalMemory::release(void* base) {
  auto it = regions_.find(reinterpret_cast<std::uintptr_t>(base));
  if (it == regions_.end()) return false;
  for (std::uint32_t i : it->second.frames)
    if (i != NoFrame) detach(frames_[i]);
  freePages(it->second.memory);
  regions_.erase(it);
  return true;
}

bool PhysicalMemory::decommit(void* address, std::uint32_t size) {
  auto a = reinterpret_cast<std::uintptr_t>(address);
  Region* r = regionAt(a);
  if (!r || !r->committed || size == 0) return false;
  std::uintptr_t first = (a - r->base) / FrameSize;
  std::uintptr_t last = (a - r->base + size - 1) / FrameSize;
  if (last >= r->frames.size()) return false;
  for (std::uintptr_t p = first; p <= last; ++p) {
    if (r->frames[p] != NoFrame) detach(frames_[r->frames[p]]);
    r->frames[p] = NoFrame;
  }
  return true;
}

PhysicalMemory::Region* PhysicalMemory::regionAt(std::uintptr_t address) {
  auto it = regions_.upper_bound(address);
  if (it == regions_.begin()) return nullptr;
  --it;
  return address - it->first < it->second.size ? &it->second : nullptr;
}

const PhysicalMemory::Region* PhysicalMemory::regionAt(std::uintptr_t address) const {
  return const_cast<PhysicalMemory*>(this)->regionAt(address);
}

bool PhysicalMemory::mapPhysical(void* destination, std::uint32_t physical, std::uint32_t size) {
  auto d = reinterpret_cast<std::uintptr_t>(destination);
  Region* r = regionAt(d);
  if (!r || r->committed || size == 0 || (d & PageMask) || (physical & PageMask)) return false;
  std::uint64_t pages = (std::uint64_t{size} + PageMask) / FrameSize;
  std::uint64_t first = (d - r->base) / FrameSize;
  if (first + pages > r->mapped.size()) return false;
  if (std::uint64_t{physical} + pages * FrameSize > 0x100000000ull) return false;
  for (std::uint64_t p = 0; p < pages; ++p)
    r->mapped[first + p] = static_cast<std::uint32_t>(physical + p * FrameSize);
  return true;
}

bool PhysicalMemory::mapVirtual(void* destination, const void* source, std::uint32_t size) {
  auto d = reinterpret_cast<std::uintptr_t>(destination);
  auto s = reinterpret_cast<std::uintptr_t>(source);
  Region* r = regionAt(d);
  if (!r || r->committed || size == 0 || (d & PageMask) || (s & PageMask)) return false;
  std::uint64_t pages = (std::uint64_t{size} + PageMask) / FrameSize;
  std::uint64_t first = (d - r->base) / FrameSize;
  if (first + pages > r->mapped.size()) return false;
  std::vector<std::uint32_t> physical;
  for (std::uint64_t p = 0; p < pages; ++p) {
    std::uint32_t phys;
    if (!physicalOf(reinterpret_cast<const void*>(s + p * FrameSize), phys)) return false;
    physical.push_back(phys);
  }
  for (std::uint64_t p = 0; p < pages; ++p) r->mapped[first + p] = physical[p];
  return true;
}

bool PhysicalMemory::physicalOf(const void* address, std::uint32_t& physical) const {
  auto a = reinterpret_cast<std::uintptr_t>(address);
  const Region* r = regionAt(a);
  if (!r) return false;
  std::size_t page = (a - r->base) / FrameSize;
  if (r->frames[page] != NoFrame) {
    physical = frames_[r->frames[page]].physical;
    return true;
  }
  if (r->mapped[page] != NoFrame) {
    physical = r->mapped[page];
    return true;
  }
  return false;
}

// --- mmio -------------------------------------------------------------------------------

void PhysicalMemory::registerDevice(std::uint32_t physBase, std::uint32_t size, MmioDevice device) {
  devices_.push_back({physBase, size, std::move(device)});
}

const PhysicalMemory::Device* PhysicalMemory::deviceAt(std::uint32_t physical) const {
  // The device registered last wins, so a test can put its own in front of a board's.
  for (auto it = devices_.rbegin(); it != devices_.rend(); ++it)
    if (physical >= it->base && physical - it->base < it->size) return &*it;
  return nullptr;
}

bool PhysicalMemory::resolve(std::uintptr_t address, Region*& region, std::uint32_t& physical) {
  region = regionAt(address);
  if (!region) return false;
  std::size_t page = (address - region->base) / FrameSize;
  auto offset = static_cast<std::uint32_t>((address - region->base) % FrameSize);
  if (region->mapped[page] != NoFrame) {
    physical = region->mapped[page] + offset;
    return true;
  }
  if (region->frames[page] != NoFrame) {
    physical = frames_[region->frames[page]].physical + offset;
    return true;
  }
  return false;
}

std::uint8_t PhysicalMemory::readPhysical8(std::uint32_t physical) {
  if (const Device* d = deviceAt(physical)) return d->hooks.read8 ? d->hooks.read8(physical) : 0;
  std::uint32_t i = frameIndex(physical);
  if (i == NoFrame) return 0;  // nothing answers on the bus
  const Frame& f = frames_[i];
  return f.live ? f.live[physical & PageMask] : residueByte(physical);
}

void PhysicalMemory::writePhysical8(std::uint32_t physical, std::uint8_t value) {
  if (const Device* d = deviceAt(physical)) {
    if (d->hooks.write8) d->hooks.write8(physical, value);
    return;
  }
  if (std::uint8_t* data = frameData(physical)) data[physical & PageMask] = value;
}

std::uint8_t PhysicalMemory::mmioRead8(const volatile void* address) {
  Region* r;
  std::uint32_t physical;
  if (resolve(reinterpret_cast<std::uintptr_t>(address), r, physical)) return readPhysical8(physical);
  if (r) fault("mmio read of an unmapped page", address);
  return *static_cast<const volatile std::uint8_t*>(address);
}

void PhysicalMemory::mmioWrite8(volatile void* address, std::uint8_t value) {
  Region* r;
  std::uint32_t physical;
  if (resolve(reinterpret_cast<std::uintptr_t>(address), r, physical)) return writePhysical8(physical, value);
  if (r) fault("mmio write to an unmapped page", address);
  *static_cast<volatile std::uint8_t*>(address) = value;
}

std::uint32_t PhysicalMemory::mmioRead32(const volatile void* address) {
  Region* r;
  std::uint32_t physical;
  auto a = reinterpret_cast<std::uintptr_t>(address);
  if (resolve(a, r, physical)) {
    // A byte-wide register answers in the low byte of the word.
    if (const Device* d = deviceAt(physical)) return d->hooks.read8 ? d->hooks.read8(physical) : 0;
    std::uint32_t v = 0;
    for (int k = 0; k < 4; ++k) {
      Region* rk;
      std::uint32_t pk;
      if (!resolve(a + k, rk, pk)) fault("mmio read of an unmapped page", address);
      v |= std::uint32_t{readPhysical8(pk)} << (8 * k);
    }
    return v;
  }
  if (r) fault("mmio read of an unmapped page", address);
  if (a % 4 == 0) return *static_cast<const volatile std::uint32_t*>(address);
  auto p = static_cast<const volatile std::uint8_t*>(address);
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

void PhysicalMemory::mmioWrite32(volatile void* address, std::uint32_t value) {
  Region* r;
  std::uint32_t physical;
  auto a = reinterpret_cast<std::uintptr_t>(address);
  if (resolve(a, r, physical)) {
    if (const Device* d = deviceAt(physical)) {
      if (d->hooks.write8) d->hooks.write8(physical, static_cast<std::uint8_t>(value));
      return;
    }
    for (int k = 0; k < 4; ++k) {
      Region* rk;
      std::uint32_t pk;
      if (!resolve(a + k, rk, pk)) fault("mmio write to an unmapped page", address);
      writePhysical8(pk, static_cast<std::uint8_t>(value >> (8 * k)));
    }
    return;
  }
  if (r) fault("mmio write to an unmapped page", address);
  if (a % 4 == 0) {
    *static_cast<volatile std::uint32_t*>(address) = value;
    return;
  }
  auto p = static_cast<volatile std::uint8_t*>(address);
  for (int k = 0; k < 4; ++k) p[k] = static_cast<std::uint8_t>(value >> (8 * k));
}

bool PhysicalMemory::lockCallFails(long failAt) {
  if (failAt != lockArmed_) {
    lockArmed_ = failAt;
    lockCounted_ = 0;
  }
  return failAt > 0 && ++lockCounted_ == failAt;
}

// --- the current machine ----------------------------------------------------------------

PhysicalMemory& physicalMemory(Machine& machine) {
  auto& slot = machine.state().physicalMemory;
  if (!slot) {
    const Config& c = machine.config();
    slot = std::make_unique<PhysicalMemory>(c.profile.dram, c.pageOrder, c.shuffleSeed);
    attachUart(machine, *slot);  // the family's UART is on the bus from the start
  }
  return *slot;
}

PhysicalMemory& physicalMemory() { return physicalMemory(current()); }

void registerMmioDevice(std::uint32_t physBase, std::uint32_t size,
                        std::function<std::uint8_t(std::uint32_t physical)> read8,
                        std::function<void(std::uint32_t physical, std::uint8_t value)> write8) {
  physicalMemory().registerDevice(physBase, size, MmioDevice{std::move(read8), std::move(write8)});
}

}  // namespace handheld
