// Physical memory of a machine at the jump, as the hand-off tools see it: a sparse set of 4 KiB
// frames at their physical addresses. Frames that are not there are not memory: reading them
// fails. Writing creates them, filled with the memory's fill byte first, so that a word nobody
// wrote is recognisable (a zero-clear that never happened shows when the fill is not zero).
//
// Images hold whole DRAMs and every tool keeps its own copy of one (the walk's result, the
// emulator's), so copies share their frames until one side writes to a frame.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace kestrel::handoff {

constexpr std::uint32_t FrameSize = 4096;
constexpr std::uint32_t FrameMask = FrameSize - 1;

class PhysicalMemory {
 public:
  using Frame = std::array<std::uint8_t, FrameSize>;

  explicit PhysicalMemory(std::uint8_t fill = 0) : fill_(fill) {}

  std::uint8_t fill() const { return fill_; }
  // The frames in ascending order: `it->first` the base address, `it->second` the bytes.
  struct FrameEntry {
    std::uint32_t first;
    const Frame& second;
  };
  class FrameIterator {
   public:
    using Inner = std::map<std::uint32_t, std::shared_ptr<Frame>>::const_iterator;
    explicit FrameIterator(Inner it) : it_(it) {}
    FrameEntry operator*() const { return {it_->first, *it_->second}; }
    struct Arrow {
      FrameEntry entry;
      const FrameEntry* operator->() const { return &entry; }
    };
    Arrow operator->() const { return {**this}; }
    FrameIterator& operator++() {
      ++it_;
      return *this;
    }
    bool operator==(const FrameIterator& other) const { return it_ == other.it_; }
    bool operator!=(const FrameIterator& other) const { return it_ != other.it_; }

   private:
    Inner it_;
  };
  struct FrameRange {
    FrameIterator first, last;
    FrameIterator begin() const { return first; }
    FrameIterator end() const { return last; }
  };
  FrameRange frames() const { return {FrameIterator(frames_.begin()), FrameIterator(frames_.end())}; }
  std::size_t frameCount() const { return frames_.size(); }

  // True when every byte of [address, address + length) lies in a present frame; false for a
  // range that passes 4 GiB.
  bool contains(std::uint32_t address, std::uint32_t length = 1) const;

  // The frame whose base is `base` (a multiple of FrameSize), null when absent.
  const Frame* frame(std::uint32_t base) const;
  // The frame holding `address` to write to, created (filled) when absent.
  Frame& frameAt(std::uint32_t address);

  // Little-endian words and byte ranges. Reads fail, leaving `out` alone, unless the whole
  // range is present; writes create what is missing. A range may cross frames but not 4 GiB
  // (such a write is cut off there).
  bool read32(std::uint32_t address, std::uint32_t& value) const;
  void write32(std::uint32_t address, std::uint32_t value);
  bool read(std::uint32_t address, void* out, std::size_t length) const;
  void write(std::uint32_t address, const void* in, std::size_t length);

  // The lowest address at which the two differ, treating a frame missing on one side as
  // different from any contents; none when they are the same.
  static std::optional<std::uint32_t> firstDifference(const PhysicalMemory& a, const PhysicalMemory& b);

 private:
  std::uint8_t fill_;
  std::map<std::uint32_t, std::shared_ptr<Frame>> frames_;
};

}  // namespace kestrel::handoff
