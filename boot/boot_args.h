// The page the kernel gets besides its image: entry address, argument vector with its
// strings, and the 36-byte BootInfo. Everything in it is addressed physically, because the
// kernel starts with the MMU off. The layout is the interface with the kernel and is fixed.
//
// BootArgs page (little-endian):
//   +0   entry address          +4  argc (1..16)
//   +8   argv (physical)        +12 BootInfo (physical)
//   +16  BootInfo, 36 bytes
//   +52  argument vector, 16 slots of 4 bytes (physical addresses of the strings)
//   +116 the strings, 8-bit, each ending in a 0 byte, packed in argument order; they end
//        at least 16 bytes before the end of the page.
// The page is not cleared: slots beyond argc and bytes after the last string keep what the
// page held.
//
// BootInfo:
//   +0 length 36 (16)   +2 reserved 0 (16)   +4 magic 0x13536135
//   +8 framebuffer address   +12 line bytes (16)   +14 width (16)   +16 height (16)
//   +18 framebuffer type (16)   +20 console kind (16)   +22 zero (16)
//   +24 cpu   +28 machine   +32 time zone (signed minutes)
#pragma once
#include <cstdint>

namespace kestrel {

class Architecture;
class Loader;
class Settings;

namespace boot_args {
constexpr std::uint32_t EntryOffset = 0;
constexpr std::uint32_t ArgcOffset = 4;
constexpr std::uint32_t ArgvPointerOffset = 8;
constexpr std::uint32_t BootInfoPointerOffset = 12;
constexpr std::uint32_t BootInfoOffset = 16;
constexpr std::uint32_t VectorOffset = 52;
constexpr std::uint32_t StringsOffset = 116;
constexpr std::uint32_t MaxArguments = 16;
// Bytes at the end of the page that no string reaches.
constexpr std::uint32_t PageTailBytes = 16;
}  // namespace boot_args

namespace boot_info {
constexpr std::uint32_t Size = 36;
constexpr std::uint32_t Magic = 0x13536135;
constexpr std::uint32_t LengthOffset = 0;
constexpr std::uint32_t MagicOffset = 4;
constexpr std::uint32_t FrameBufferOffset = 8;
constexpr std::uint32_t LineBytesOffset = 12;
constexpr std::uint32_t WidthOffset = 14;
constexpr std::uint32_t HeightOffset = 16;
constexpr std::uint32_t TypeOffset = 18;
constexpr std::uint32_t ConsoleKindOffset = 20;
constexpr std::uint32_t CpuOffset = 24;
constexpr std::uint32_t MachineOffset = 28;
constexpr std::uint32_t TimeZoneOffset = 32;
}  // namespace boot_info

// Fills the highest free page of the architecture's memory manager with the kernel's
// arguments and returns its physical address; 0xFFFFFFFF (with a console line) when no page
// is left.
std::uint32_t buildBootArgs(Architecture& architecture, Loader& loader);

// Writes the argument vector at `vector` (physical `vectorPhysical`) and the strings behind
// it; `room` is the number of bytes from the vector's start up to 16 bytes before the end of
// the page. Returns argc. Extra options that do not fit, or whose conversion finds no memory,
// are reported in a "WARNING" box and dropped; the boot goes on.
int buildArgv(const Settings& settings, std::uint8_t* vector, std::uint32_t vectorPhysical, std::uint32_t room);

// Fills the 36 bytes at `block`; the console kind is left 0 (buildBootArgs writes it).
void buildBootInfo(const Settings& settings, std::uint8_t* block);

}  // namespace kestrel
