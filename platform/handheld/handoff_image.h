// The writer of the hand-off image on the handheld: FlatJump streams the machine into the file
// format that handoff/image.h describes and reads (the host tools). The header and the frame
// records are written here only; the host tools encode images through these functions too.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/handheld/machine.h"

namespace handheld {

constexpr std::uint32_t HandoffImageMagic = 0x464F484B;  // "KHOF"
constexpr std::uint32_t HandoffImageVersion = 1;
constexpr std::uint32_t HandoffFrameSize = 4096;
constexpr std::uint32_t HandoffMaxProfileName = 255;
constexpr std::uint32_t HandoffMaxProcessorName = 63;

// Everything up to the first frame record. Names longer than the limits are cut.
std::vector<std::uint8_t> encodeHandoffImageHeader(Family family, const std::string& profile,
                                                   const std::string& processor, const std::uint32_t (&r)[4],
                                                   std::uint32_t frameCount);
// One frame record: the frame's physical address, then its HandoffFrameSize bytes.
void appendHandoffFrameRecord(std::vector<std::uint8_t>& out, std::uint32_t physical, const std::uint8_t* bytes);

// Calls `put` once per frame, in ascending physical order.
using FrameSource = std::function<void(const std::function<void(std::uint32_t physical, const std::uint8_t* data)>& put)>;

// Writes the header (family, profile and processor names, r0-r3, frameCount) and then the
// frames that `frames` supplies. False with `error` when the file cannot be written or the
// source supplies another number of frames.
bool writeHandoffImage(const std::filesystem::path& file, Family family, const std::string& profile,
                       const std::string& processor, const std::uint32_t (&r)[4], std::uint32_t frameCount,
                       const FrameSource& frames, std::string& error);

}  // namespace handheld
