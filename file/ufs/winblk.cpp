// winblk: sectors of a storage card through the platform's disk driver, and the search for
// the corvid partition (MBR, then the disk label inside the partition).
#include "file/ufs/winblk.h"

#include <cstring>

#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/heap.h"

namespace kestrel {

namespace {

constexpr std::uint32_t PartitionTableOffset = 446;
constexpr std::uint32_t PartitionTableBytes = 64;
constexpr std::uint32_t PartitionEntryBytes = 16;
constexpr std::uint8_t CorvidPartition = 0xA9;
// Accepted in place of the CORVID type: many partitioning tools write it for such a partition.
constexpr std::uint8_t AlternatePartition = 0xA5;

constexpr std::uint32_t LabelMagic = 0x82564557;
constexpr std::uint32_t LabelMagicOffset = 0;
constexpr std::uint32_t LabelMagic2Offset = 132;
constexpr std::uint32_t LabelPartitionCountOffset = 138;
constexpr std::uint32_t LabelPartitionsOffset = 148;

}  // namespace

struct WinblkDevice {
  ce::HANDLE handle = ce::InvalidHandleValue;
  // DISK_INFO as the driver filled it.
  std::uint32_t totalSectors = 0;
  std::uint32_t bytesPerSector = 0;
  std::uint32_t cylinders = 0;
  std::uint32_t heads = 0;
  std::uint32_t sectorsPerTrack = 0;
  std::uint32_t flags = 0;
  std::uint8_t partitionTable[PartitionTableBytes] = {};
  // The whole label sector: a label may declare up to 22 partitions, and its check covers
  // every entry it declares.
  std::uint8_t label[SectorBytes] = {};
  std::uint8_t sectorBuffer[SectorBytes] = {};
  std::uint32_t startSector = 0;
};

namespace {

// Frees the device and its handle, empties the file's device data; returns `error`.
int failOpen(OpenFile* file, int error) {
  WinblkDevice* device = file->deviceData;
  if (device && device->handle != ce::InvalidHandleValue) ce::CloseHandle(device->handle);
  ce::heapDelete(device);
  file->deviceData = nullptr;
  return error;
}

int readSectors(WinblkDevice* device, std::uint32_t first, std::uint32_t count, void* buffer) {
  const std::uint32_t bytes = count * SectorBytes;  // callers keep count below 2^23
  ce::CallerBuffer target(buffer, bytes);
  std::uint8_t request[ce::SgReqHeaderBytes + ce::SgBufBytes];
  ce::putLe32(request + 0, first);
  ce::putLe32(request + 4, count);
  ce::putLe32(request + 8, 1);   // one SG_BUF
  ce::putLe32(request + 12, 0);  // status
  ce::putLe32(request + 16, 0);  // no completion callback
  ce::putLe32(request + 20, target.address());
  ce::putLe32(request + 24, bytes);
  if (!ce::DeviceIoControl(device->handle, ce::DiskIoctlRead, request, sizeof request, nullptr, 0, nullptr, nullptr)) {
    debugPrint(u"DeviceIoControl() failed.error=%d\n", ce::GetLastError());
    return EIo;
  }
  const std::uint32_t status = ce::getLe32(request + 12);
  if (status != 0) {
    debugPrint(u"DeviceIoControl(READ): status=%d\n", status);
    return EIo;
  }
  return 0;
}

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

const DeviceEntry winblkEntry = {"winblk", winblkStrategy, winblkOpen, winblkClose, winblkIoctl};

std::uint32_t winblkStartSector(const WinblkDevice* device) { return device ? device->startSector : 0; }

int winblkOpen(OpenFile* file, const char* deviceType, int unit, int partition) {
  WinblkDevice* device = ce::heapNew<WinblkDevice>();
  if (!device) return ENoMemory;
  file->deviceData = device;

  if (!deviceType || std::strlen(deviceType) != 3 || unit < 0 || unit > 9) return failOpen(file, ENoDevice);
  char16_t name[16];
  ce::format(name, 16, u"%C%C%C%d:", upper(deviceType[0]), upper(deviceType[1]), upper(deviceType[2]), unit);

  device->handle = ce::CreateFileW(name, ce::GenericRead, 0, nullptr, ce::OpenExisting, 0, nullptr);
  if (device->handle == ce::InvalidHandleValue) {
    debugPrint(u"can't open %s.\n", name);
    return failOpen(file, ENoDevice);
  }

  std::uint8_t info[ce::DiskInfoBytes] = {};
  if (!ce::DeviceIoControl(device->handle, ce::DiskIoctlGetInfo, info, sizeof info, nullptr, 0, nullptr, nullptr)) {
    debugPrint(u"DeviceIoControl() failed.error=%d\n", ce::GetLastError());
    return failOpen(file, EIo);
  }
  device->totalSectors = ce::getLe32(info + 0);
  device->bytesPerSector = ce::getLe32(info + 4);
  device->cylinders = ce::getLe32(info + 8);
  device->heads = ce::getLe32(info + 12);
  device->sectorsPerTrack = ce::getLe32(info + 16);
  device->flags = ce::getLe32(info + 20);
  if (!(device->flags & ce::DiskInfoFlagMbr) || (device->flags & ce::DiskInfoFlagUnformatted) ||
      device->bytesPerSector != SectorBytes) {
    debugPrint(u"invalid flags\n");
    return failOpen(file, EInvalid);
  }

  if (int error = readSectors(device, 0, 1, device->sectorBuffer)) return failOpen(file, error);
  std::memcpy(device->partitionTable, device->sectorBuffer + PartitionTableOffset, PartitionTableBytes);

  // The first CORVID partition wins at once; the last alternate one is the fallback.
  const std::uint8_t* taken = nullptr;
  const std::uint8_t* alternate = nullptr;
  for (std::uint32_t k = 0; k < 4; ++k) {
    const std::uint8_t* entry = device->partitionTable + k * PartitionEntryBytes;
    if (entry[4] == CorvidPartition) {
      taken = entry;
      break;
    }
    if (entry[4] == AlternatePartition) alternate = entry;
  }
  if (!taken) taken = alternate;
  if (!taken) {
    device->startSector = 0;
    debugPrint(u"no CORVID partition, start sector=0x%x\n", 0);
    return 0;
  }
  const std::uint32_t start = ce::getLe32(taken + 8);
  device->startSector = start;

  std::uint32_t labelSector = 0;
  if (!ce::addNoWrap(start, 1, labelSector)) return failOpen(file, EIo);
  if (int error = readSectors(device, labelSector, 1, device->sectorBuffer)) return failOpen(file, error);
  std::memcpy(device->label, device->sectorBuffer, SectorBytes);

  // The check covers the header and every partition entry the label declares; a count whose
  // entries would not fit in the sector makes the label invalid rather than read beyond it.
  const std::uint32_t count = ce::getLe16(device->label + LabelPartitionCountOffset);
  const std::uint32_t checked = LabelPartitionsOffset + PartitionEntryBytes * count;
  bool valid = ce::getLe32(device->label + LabelMagicOffset) == LabelMagic &&
               ce::getLe32(device->label + LabelMagic2Offset) == LabelMagic && checked <= SectorBytes;
  if (valid) {
    std::uint16_t sum = 0;
    for (std::uint32_t at = 0; at < checked; at += 2) sum ^= ce::getLe16(device->label + at);
    valid = sum == 0;
  }
  if (!valid) {
    debugPrint(u"invalid disklabel, start sector=0x%x\n", start);
    return 0;
  }
  if (partition < 0 || static_cast<std::uint32_t>(partition) >= count) return failOpen(file, EInvalid);
  device->startSector = ce::getLe32(device->label + LabelPartitionsOffset + PartitionEntryBytes * partition + 4);
  debugPrint(u"start sector=0x%x\n", device->startSector);
  return 0;
}

int winblkStrategy(void* deviceData, int direction, std::uint32_t block, std::uint32_t size, void* buffer,
                   std::uint32_t* received) {
  auto* device = static_cast<WinblkDevice*>(deviceData);
  if (direction != DirectionRead) return EReadOnly;
  if (!device) return ENoDevice;
  // A sector number that wraps would read the wrong sector: refused like an unreadable one.
  std::uint32_t sector = 0;
  std::uint32_t tail = 0;
  if (!ce::addNoWrap(device->startSector, block, sector) || !ce::addNoWrap(sector, size / SectorBytes, tail))
    return EIo;
  auto* out = static_cast<std::uint8_t*>(buffer);
  if (size / SectorBytes > 0) {
    if (int error = readSectors(device, sector, size / SectorBytes, out)) return error;
  }
  if (size % SectorBytes != 0) {
    if (int error = readSectors(device, tail, 1, device->sectorBuffer)) return error;
    std::memcpy(out + (size / SectorBytes) * SectorBytes, device->sectorBuffer, size % SectorBytes);
  }
  if (received) *received = size;
  return 0;
}

int winblkClose(OpenFile* file) {
  if (!file) return 0;
  // The handle goes with the device: the disk opens exclusively, and the next boot attempt
  // opens it again.
  failOpen(file, 0);
  return 0;
}

int winblkIoctl(OpenFile*, std::uint32_t, void*) { return EIo; }

}  // namespace kestrel
