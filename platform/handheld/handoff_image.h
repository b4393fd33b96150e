// The hand-off image: the machine as the jump routine leaves it. FlatJump writes one; the
// host tools (handoff/) read it to walk the chain, run the 2nd bootloader or boot the whole
// machine in an emulator. Portable C++ so the handheld writes it in both builds.
//
// File layout, little-endian, written and read field by field:
//
//   0   8  magic "KSTRLHO\0"
//   8   4  version (1)
//   12  4  family: 0 SA-11x0, 1 PXA-2x0
//   16  16 r0, r1, r2, r3 at the jump (argument block, first link, stack pointer, 2nd
//          bootloader page)
//   32  4  CPSR at the jump
//   36  4  cpu word, 40 4 machine word (the platform table's), 44 4 CP15 register 0
//   48  4  bank count B, then B × (base, size)
//   ..  4  profile name length, the name (UTF-8, no terminator)
//   ..  4  processor name length, the name ("SA-1110", "PXA255", ...)
//   ..  4  frame count F, then F × (physical address, 4096 bytes), ascending, each frame
//          inside one bank
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/handheld/machine.h"

namespace handheld {

struct HandoffImage {
  static constexpr char Magic[8] = {'K', 'S', 'T', 'R', 'L', 'H', 'O', '\0'};
  static constexpr std::uint32_t Version = 1;
  static constexpr std::uint32_t FrameSize = 4096;

  Family family = Family::SA11x0;
  std::uint32_t r[4] = {0, 0, 0, 0};
  std::uint32_t cpsr = 0;
  std::uint32_t cpu = 0, machine = 0, cp15Id = 0;
  std::vector<DramBank> banks;
  std::string profile;    // "Compaq iPAQ H3600"
  std::string processor;  // "SA-1110"

  struct Frame {
    std::uint32_t physical = 0;
    std::vector<std::uint8_t> data;  // FrameSize bytes
  };
  std::vector<Frame> frames;  // ascending physical address

  // The frame holding `physical`, or null.
  const Frame* frameAt(std::uint32_t physical) const;
  // Copies `length` bytes at `physical` out of the frames; false when any byte is missing.
  bool read(std::uint32_t physical, void* out, std::uint32_t length) const;
  // Little-endian word at `physical`; false when it is not in the image.
  bool word(std::uint32_t physical, std::uint32_t& value) const;
};

// Writes the header fields of `image` and then the frames that `frames` supplies, in
// ascending order (so a whole DRAM need not be in memory at once). The frame source calls
// its callback once per frame.
using FrameSource = std::function<void(const std::function<void(std::uint32_t physical, const std::uint8_t* data)>&)>;
bool writeHandoffImage(const std::filesystem::path& file, const HandoffImage& header, std::uint32_t frameCount,
                       const FrameSource& frames, std::string& error);
// Header and the frames held in `image`.
bool writeHandoffImage(const std::filesystem::path& file, const HandoffImage& image, std::string& error);
// Reads and checks an image: magic, version, family, every count against the file's size,
// frames aligned, ascending, inside a bank. On failure `error` says what is wrong.
bool readHandoffImage(const std::filesystem::path& file, HandoffImage& image, std::string& error);

}  // namespace handheld
