// The handheld's processor: kernel mode, CPSR, the readable CP15 registers, the data-cache
// clean, and the jump out of the running system. The jump captures the machine as a
// hand-off image (profile, the whole DRAM as it is at that moment, r0-r3, family) and then
// does what the front end asked for: save the image, run it, or simply return.
#pragma once
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/handheld/machine.h"

namespace handheld {

// What FlatJump does with the image it captured. With neither a file nor a runner the jump
// just returns (as a jump that failed would), leaving the capture for the caller to inspect.
struct JumpSettings {
  // Where the image is written; empty = not kept (a runner then gets a temporary file).
  std::filesystem::path saveTo;
  // Boots the image; on a real handheld nothing returns from the jump, so a runner that
  // wants the program to end there ends it. When it returns, FlatJump returns too.
  std::function<void(const std::filesystem::path& image)> run;
};

// The registers and family of one jump, and where its image went.
struct JumpCapture {
  Family family = Family::SA11x0;
  std::uint32_t r[4] = {0, 0, 0, 0};
  std::uint32_t cpsr = 0;       // as the routine found it
  std::filesystem::path image;  // empty when the image was not written
  bool written = false;
  std::string error;  // why the image could not be written
};

struct ProcessorState {
  bool kernelMode = false;
  std::uint32_t cpsr = 0x10;  // User mode, IRQ and FIQ enabled
  std::array<std::uint32_t, 16> cp15{};
  bool cp15Ready = false;  // cp15 filled from the profile on first use
  // The last CleanDCache: the area, the bytes covered and the lines read.
  const void* cleanArea = nullptr;
  std::uint32_t cleanBytes = 0;
  std::uint32_t cleanLines = 0;
  int cleanCount = 0;
  int jumpCount = 0;
  std::optional<JumpCapture> lastJump;
  JumpSettings jump;
};

// The current machine's processor.
ProcessorState& processor();

// Writes the hand-off image of the current machine, as the jump sees it, to `file`.
bool writeJumpImage(const std::filesystem::path& file, Family family, const std::uint32_t (&r)[4],
                    std::string& error);

}  // namespace handheld
