// The hand-off image: a machine captured at the jump into the second stage, written by the
// simulated handheld's FlatJump and read by the reference walk and the emulator runners.
//
// File format, version 1; every number a little-endian 32-bit word:
//
//   offset  size  content
//   0       4     magic 0x464F484B ("KHOF")
//   4       4     version, 1
//   8       4     processor family: 0 SA-11x0, 1 PXA-2x0
//   12      16    r0, r1, r2, r3 as the jump routine receives them: argument block, first
//                 chain link, stack pointer, second stage (all physical addresses)
//   28      4     P: bytes of the profile name (0..255)
//   32      4     Q: bytes of the processor name (0..63)
//   36      4     F: number of frames (0..1048576)
//   40      P     profile name, UTF-8, no terminator ("Compaq iPAQ H3600")
//   40+P    Q     processor name ("SA-1110", "PXA255", "PXA270", ...)
//           0-3   zero bytes up to a multiple of 4
//           F ×   one frame each: its physical address (a multiple of 4096), then its 4096
//                 bytes; addresses strictly ascending
//
// Nothing follows the last frame. Physical memory not in the file is not part of the machine.
#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "handoff/memory.h"
#include "platform/handheld/handoff_image.h"
#include "platform/handheld/machine.h"

namespace kestrel::handoff {

// The format is the handheld's, which writes it at the jump (platform/handheld/handoff_image.h).
constexpr std::uint32_t ImageMagic = handheld::HandoffImageMagic;
constexpr std::uint32_t ImageVersion = handheld::HandoffImageVersion;
constexpr std::uint32_t ImageHeaderSize = 40;
constexpr std::uint32_t ImageMaxProfileName = handheld::HandoffMaxProfileName;
constexpr std::uint32_t ImageMaxProcessorName = handheld::HandoffMaxProcessorName;
constexpr std::uint32_t ImageMaxFrames = 1u << 20;  // all of 4 GiB

struct HandoffImage {
  handheld::Family family = handheld::Family::SA11x0;
  std::string profile;
  std::string processor;
  // r[0] argument block, r[1] first link, r[2] stack pointer, r[3] second stage.
  std::uint32_t r[4] = {0, 0, 0, 0};
  PhysicalMemory memory;
};

// Everything up to the first frame record, for producers that stream their frames
// (`appendFrameRecord` each, in ascending order, `frameCount` of them). Names longer than
// the limits are cut.
std::vector<std::uint8_t> encodeImageHeader(handheld::Family family, const std::string& profile,
                                            const std::string& processor, const std::uint32_t (&r)[4],
                                            std::uint32_t frameCount);
void appendFrameRecord(std::vector<std::uint8_t>& out, std::uint32_t physical, const std::uint8_t* bytes);

std::vector<std::uint8_t> encodeImage(const HandoffImage& image);
// Parses a whole file's bytes. On failure returns false with one lower-case line in `error`;
// a processor name that is not a known one, or not of the image's family, is such a failure.
// The memory of the result has fill byte 0.
bool decodeImage(const std::uint8_t* data, std::size_t size, HandoffImage& image, std::string& error);

// The size a file must have, from its first ImageHeaderSize bytes (fewer: not an image).
bool imageSizeFromHeader(const std::uint8_t* data, std::size_t size, std::uint64_t& expected, std::string& error);

bool writeImage(const std::filesystem::path& file, const HandoffImage& image, std::string& error);
// A regular file whose size is the one its header gives, read and parsed; the error line
// names the file.
bool readImage(const std::filesystem::path& file, HandoffImage& image, std::string& error);

}  // namespace kestrel::handoff
