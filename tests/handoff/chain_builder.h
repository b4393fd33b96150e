// Hand-made machines at the jump for the hand-off tests: links, sources and the argument block
// laid out the way the loader and buildBootArgs do it (links at 16-byte boundaries, each
// load link's data at byte 16 of a page of its own), in a memory whose untouched bytes are 0xA5.
#pragma once
#include <cstdint>
#include <vector>

#include "handoff/image.h"

namespace kestrel::handoff::testing {

constexpr std::uint8_t Fill = 0xA5;
constexpr std::uint32_t FillWord = 0xA5A5A5A5u;

class ChainBuilder {
 public:
  // `scratch`: a free 1 MiB area for links, sources and the argument block; the second stage
  // page is its last page.
  ChainBuilder(handheld::Family family, std::uint32_t scratch) : scratch_(scratch), nextSource_(scratch + 0x1000) {
    image_.family = family;
    image_.profile = family == handheld::Family::PXA2x0 ? "Sharp W-ZERO3 (WS003SH)" : "Compaq iPAQ H3600";
    image_.processor = family == handheld::Family::PXA2x0 ? "PXA270" : "SA-1110";
    image_.memory = PhysicalMemory(Fill);
    image_.r[3] = scratch + 0xFF000;
  }

  // A load link of `length` bytes (default: all of `words`) from a fresh source page.
  ChainBuilder& load(std::uint32_t destination, const std::vector<std::uint32_t>& words, std::uint32_t length = ~0u) {
    std::uint32_t source = nextSource_ + 16;
    nextSource_ += 0x1000;
    for (std::size_t i = 0; i < words.size(); ++i) image_.memory.write32(source + 4 * static_cast<std::uint32_t>(i), words[i]);
    return link(source, destination, length == ~0u ? static_cast<std::uint32_t>(4 * words.size()) : length);
  }

  ChainBuilder& zero(std::uint32_t destination, std::uint32_t length) { return link(0xFFFFFFFFu, destination, length); }

  // A link with every field given; `next` is filled by the following link or by `finish`.
  ChainBuilder& link(std::uint32_t source, std::uint32_t destination, std::uint32_t length) {
    std::uint32_t at = scratch_ + 16 * count_++;
    if (count_ > 1) image_.memory.write32(at - 16, at);
    image_.memory.write32(at, 0xFFFFFFFFu);
    image_.memory.write32(at + 4, source);
    image_.memory.write32(at + 8, destination);
    image_.memory.write32(at + 12, length);
    return *this;
  }

  // The argument block (entry, r0, r1, r2 for the kernel) and the jump's registers.
  HandoffImage finish(std::uint32_t entry, std::uint32_t r0 = 3, std::uint32_t r1 = 0xC1FFE034u,
                      std::uint32_t r2 = 0xC1FFE010u) {
    std::uint32_t block = scratch_ + 0xFD000;
    image_.memory.write32(block, entry);
    image_.memory.write32(block + 4, r0);
    image_.memory.write32(block + 8, r1);
    image_.memory.write32(block + 12, r2);
    image_.r[0] = block;
    image_.r[1] = count_ ? scratch_ : 0xFFFFFFFFu;
    image_.r[2] = scratch_ + 0xFF000;  // the stack page's top: just below the second stage
    return image_;
  }

 private:
  HandoffImage image_;
  std::uint32_t scratch_;
  std::uint32_t nextSource_;
  std::uint32_t count_ = 0;
};

// n words counting up from `first`.
inline std::vector<std::uint32_t> counting(std::uint32_t first, std::size_t n) {
  std::vector<std::uint32_t> words(n);
  for (std::size_t i = 0; i < n; ++i) words[i] = first + static_cast<std::uint32_t>(i);
  return words;
}

}  // namespace kestrel::handoff::testing
