// Physical memory of a machine at the jump, as the hand-off tools see it: a sparse set of 4 KiB
// frames at their physical addresses. Frames that are not there are not memory: reading them
// fails. Writing creates them, filled with the memory's fill byte first, so that a word nobody
// wrote is recognisable (a zero-clear that never happened shows when the fill is not zero).
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>

namespace kestrel::handoff {

constexpr std::uint32_t FrameSize = 4096;
constexpr std::uint32_t FrameMask = FrameSize - 1;

class PhysicalMemory {
 public:
  using Frame = std::array<std::uint8_t, FrameSize>;

  explicit PhysicalMemory(std::uint8_t fill = 0) : fill_(fill) {}

  std::uint8_t fill() const { return fill_; }
  // Frames by physical base address, ascending.
  const std::map<std::uint32_t, Frame>& frames() const { return frames_; }
  std::size_t frameCount() const { return frames_.size(); }

  // True when every byte of [address, address + length) lies in a present frame; false for a
  // range that passes 4 GiB.
  bool contains(std::uint32_t address, std::uint32_t length = 1) const;

  // The frame whose base is `base` (a multiple of FrameSize), null when absent.
  const Frame* frame(std::uint32_t base) const;
  // The frame holding `address`, created (filled) when absent.
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
  std::map<std::uint32_t, Frame> frames_;
};

}  // namespace kestrel::handoff
