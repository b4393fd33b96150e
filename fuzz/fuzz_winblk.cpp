// winblkOpen on arbitrary disks: the input's first byte picks the label partition asked for
// (0 to 3), the rest is the disk image behind DSK1: of a simulated handheld. An open that
// succeeds must have found the start sector an independent reading of the MBR and the label
// gives, and must serve sectors from there; one that fails must leave no device behind and
// the disk free for the next opener. The seeds in corpus/winblk were written by sfdisk and
// util-linux fdisk (its nested disk label) through tools/make-ufs-seeds; the rest are what
// ten minutes of fuzzing kept.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "file/ufs/winblk.h"
#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/handheld/heap_check.h"
#include "platform/handheld/machine.h"

namespace {

std::filesystem::path disk;

void setUp() {
  static bool done = false;
  if (done) return;
  done = true;
  const std::filesystem::path root = std::filesystem::temp_directory_path() / "kestrel-fuzz-winblk";
  std::filesystem::create_directories(root);
  disk = root / "disk.img";
  handheld::Config config;
  config.profile = *handheld::findProfile("Compaq iPAQ H3600");
  config.disks[0] = "disk.img";
  handheld::install(std::make_unique<handheld::Machine>(root, config));
}

void check(bool condition) {
  if (!condition) std::abort();
}

// What the MBR and the label say, read here without the code under test: the start sector,
// or -1 when the label lacks the partition asked for, or -2 when a sector cannot be read.
std::int64_t expectedStart(const std::uint8_t* image, std::size_t size, int partition) {
  auto sector = [&](std::uint64_t n) -> const std::uint8_t* {
    return (n + 1) * 512 <= size ? image + n * 512 : nullptr;
  };
  const std::uint8_t* mbr = sector(0);
  if (!mbr) return -2;
  std::int64_t start = -1;
  for (int k = 0; k < 4 && start < 0; ++k)
    if (mbr[446 + 16 * k + 4] == 0xA9) start = ce::getLe32(mbr + 446 + 16 * k + 8);
  for (int k = 0; k < 4 && start < 0; ++k)
    if (mbr[446 + 16 * (3 - k) + 4] == 0xA5) start = ce::getLe32(mbr + 446 + 16 * (3 - k) + 8);
  if (start < 0) return 0;
  const std::uint8_t* label = sector(static_cast<std::uint64_t>(start) + 1);
  if (!label) return -2;
  const std::uint32_t count = ce::getLe16(label + 138);
  if (ce::getLe32(label) != 0x82564557 || ce::getLe32(label + 132) != 0x82564557 || 148 + 16 * count > 512)
    return start;
  std::uint16_t sum = 0;
  for (std::uint32_t at = 0; at < 148 + 16 * count; at += 2) sum ^= ce::getLe16(label + at);
  if (sum != 0) return start;
  if (static_cast<std::uint32_t>(partition) >= count) return -1;
  return ce::getLe32(label + 148 + 16 * partition + 4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  setUp();
  if (size < 1) return 0;
  const int partition = data[0] & 3;
  const std::uint8_t* image = data + 1;
  const std::size_t bytes = size - 1;
  {
    std::ofstream out(disk, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image), static_cast<std::streamsize>(bytes));
  }
  const std::size_t blocksBefore = handheld::heapBlocksInUse();
  kestrel::OpenFile file;
  file.device = &kestrel::winblkEntry;
  const int error = kestrel::winblkOpen(&file, "dsk", 1, partition);
  const std::int64_t expected = expectedStart(image, bytes, partition);
  if (error != 0) {
    check(file.deviceData == nullptr);
    check(handheld::heapBlocksInUse() == blocksBefore);
    check((error == kestrel::EIo && expected == -2) || (error == kestrel::EInvalid && expected == -1));
  } else {
    check(file.deviceData != nullptr);
    check(expected >= 0 && kestrel::winblkStartSector(file.deviceData) == static_cast<std::uint64_t>(expected));
    // 1000 bytes at block 0: two sectors from the start sector, or an I/O error past the end.
    std::uint8_t buffer[1000];
    std::uint32_t received = 0;
    const int read = kestrel::winblkStrategy(file.deviceData, kestrel::DirectionRead, 0, sizeof buffer, buffer, &received);
    const std::uint64_t at = static_cast<std::uint64_t>(expected) * 512;
    if (at + 1024 <= bytes) {
      check(read == 0 && received == sizeof buffer && std::memcmp(buffer, image + at, sizeof buffer) == 0);
    } else {
      check(read == kestrel::EIo);
    }
    check(kestrel::winblkStrategy(file.deviceData, kestrel::DirectionWrite, 0, 512, buffer, nullptr) == kestrel::EReadOnly);
    kestrel::winblkClose(&file);
    check(file.deviceData == nullptr && handheld::heapBlocksInUse() == blocksBefore);
  }
  // Nothing keeps the disk: it opens again.
  ce::HANDLE again = ce::CreateFileW(u"DSK1:", ce::GenericRead, 0, nullptr, ce::OpenExisting, 0, nullptr);
  check(again != ce::InvalidHandleValue);
  ce::CloseHandle(again);
  return 0;
}
