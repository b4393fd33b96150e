// The sector source beneath the UFS reader: the platform's block device (DSK1: ...), checked
// for 512-byte sectors and a master boot record, with the corvid partition found through the
// MBR and the disk label inside it. Organised as one entry of a device table, the way
// stand-alone boot code reaches its devices. Results are 0 or POSIX-style error numbers; the
// reasons go to the platform's debug output, never to the console.
#pragma once
#include <cstdint>

#include "platform/format.h"
#include "platform/system.h"

namespace kestrel {

// Error numbers of the block device and the UFS reader.
constexpr int ENoEntry = 2;
constexpr int EIo = 5;
constexpr int ENoMemory = 12;
constexpr int ENoDevice = 19;
constexpr int ENotDirectory = 20;
constexpr int EInvalid = 22;
constexpr int ETooLarge = 27;
constexpr int EReadOnly = 30;

struct OpenFile;
struct WinblkDevice;
struct UfsFile;

constexpr int DirectionRead = 1;
constexpr int DirectionWrite = 2;

struct DeviceEntry {
  const char* name;
  // (device data, direction, block, size, buffer, received count or null)
  int (*strategy)(void* device, int direction, std::uint32_t block, std::uint32_t size, void* buffer,
                  std::uint32_t* received);
  // (open file, device type, unit, partition index)
  int (*open)(OpenFile* file, const char* deviceType, int unit, int partition);
  int (*close)(OpenFile* file);
  int (*ioctl)(OpenFile* file, std::uint32_t command, void* data);
};

// The stand-alone file handle: the device a file system reads through and the two layers'
// private data.
struct OpenFile {
  const DeviceEntry* device = nullptr;
  WinblkDevice* deviceData = nullptr;
  UfsFile* fileSystemData = nullptr;
};

// The entry "winblk".
extern const DeviceEntry winblkEntry;

int winblkOpen(OpenFile* file, const char* deviceType, int unit, int partition);
int winblkStrategy(void* device, int direction, std::uint32_t block, std::uint32_t size, void* buffer,
                   std::uint32_t* received);
// Frees the device and closes its platform handle.
int winblkClose(OpenFile* file);
int winblkIoctl(OpenFile* file, std::uint32_t command, void* data);

// The first sector of the file system the device serves (reads are relative to it).
std::uint32_t winblkStartSector(const WinblkDevice* device);

constexpr std::uint32_t SectorBytes = 512;

// Formats into a 4096-unit buffer and hands non-empty text to the platform's debug output.
template <class... Args>
void debugPrint(const char16_t* format, const Args&... args) {
  char16_t text[4096];
  if (ce::format(text, sizeof text / sizeof text[0], format, args...) > 0) ce::OutputDebugStringW(text);
}

}  // namespace kestrel
