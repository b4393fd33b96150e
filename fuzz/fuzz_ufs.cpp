// The UFS reader on arbitrary partitions: the input is the partition, served sector by sector
// from memory through a device entry of its own. Each input is opened at a few paths; a file
// that opens must read exactly its size when no error stops it, reads at an offset must give
// the bytes a sequential read gave there, and closing must give back every allocation. The
// seeds in corpus/ufs are file systems made by makefs (block sizes 4096, 8192 and 16384) through
// tools/make-ufs-seeds.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "file/ufs/ufs.h"
#include "platform/bytes.h"
#include "platform/handheld/heap_check.h"
#include "platform/handheld/machine.h"

namespace {

struct Partition {
  const std::uint8_t* data;
  std::size_t size;
};

int memoryStrategy(void* device, int direction, std::uint32_t block, std::uint32_t size, void* buffer,
                   std::uint32_t* received) {
  auto* partition = static_cast<Partition*>(device);
  if (direction != kestrel::DirectionRead) return kestrel::EReadOnly;
  const std::uint64_t at = static_cast<std::uint64_t>(block) * 512;
  if (at + size > partition->size) return kestrel::EIo;
  std::memcpy(buffer, partition->data + at, size);
  if (received) *received = size;
  return 0;
}

const kestrel::DeviceEntry memoryEntry = {"memory", memoryStrategy, nullptr, nullptr, nullptr};

void setUp() {
  static bool done = false;
  if (done) return;
  done = true;
  const std::filesystem::path root = std::filesystem::temp_directory_path() / "kestrel-fuzz-ufs";
  std::filesystem::create_directories(root);
  handheld::Config config;
  config.profile = *handheld::findProfile("Compaq iPAQ H3600");
  handheld::install(std::make_unique<handheld::Machine>(root, config));
}

void check(bool condition) {
  if (!condition) std::abort();
}

// What an accepted superblock must satisfy, read here without the reader.
void checkSuperblock(const std::uint8_t* sb) {
  const std::uint32_t blockSize = ce::getLe32(sb + 48);
  check(ce::getLe32(sb + 1372) == kestrel::UfsMagic);
  check(blockSize >= 4096 && blockSize <= 65536 && (blockSize & (blockSize - 1)) == 0);
  check(ce::getLe32(sb + 116) == blockSize / 4);
  check(ce::getLe32(sb + 120) != 0 && ce::getLe32(sb + 184) != 0 && ce::getLe32(sb + 188) != 0);
  check(static_cast<std::int32_t>(ce::getLe32(sb + 1320)) <= kestrel::InodeLinkBytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  setUp();
  Partition partition{data, size};
  static const char* const paths[] = {"corvid", "/dir/sub/deep", "link/deep", "//abs", ""};
  std::vector<std::uint8_t> whole, piece;
  for (const char* path : paths) {
    const std::size_t blocksBefore = handheld::heapBlocksInUse();
    kestrel::OpenFile file;
    file.device = &memoryEntry;
    file.deviceData = reinterpret_cast<kestrel::WinblkDevice*>(&partition);
    const int error = kestrel::ufsOpen(path, &file);
    if (error != 0) {
      check(file.fileSystemData == nullptr && handheld::heapBlocksInUse() == blocksBefore);
      continue;
    }
    checkSuperblock(data + 8192);
    kestrel::UfsStat status;
    check(kestrel::ufsStat(&file, &status) == 0);
    const std::int32_t fileSize = static_cast<std::int32_t>(status.size);
    // Sequentially in uneven pieces, at most 1 MiB.
    const std::uint32_t limit = 1u << 20;
    whole.assign(std::min<std::uint32_t>(fileSize > 0 ? static_cast<std::uint32_t>(fileSize) : 0, limit) + 7000, 0xEE);
    std::uint32_t got = 0;
    int readError = 0;
    while (got < limit && readError == 0) {
      std::uint32_t remaining = 0;
      const std::uint32_t ask = 7000;
      readError = kestrel::ufsRead(&file, whole.data() + got, ask, &remaining);
      check(remaining <= ask);
      got += ask - remaining;
      if (remaining == ask) break;
    }
    check(fileSize <= 0 ? got == 0 : got <= static_cast<std::uint32_t>(fileSize));
    if (readError == 0 && got < limit) check(got == static_cast<std::uint32_t>(std::max(fileSize, 0)));
    // A read at an offset inside what was read gives the same bytes.
    if (got > 0) {
      const std::uint32_t offset = (ce::getLe32(data + (size > 4 ? size - 4 : 0)) % got);
      const std::uint32_t ask = std::min<std::uint32_t>(got - offset, 5000);
      piece.assign(ask, 0);
      kestrel::ufsSeek(&file, static_cast<std::int32_t>(offset));
      std::uint32_t remaining = 0;
      if (kestrel::ufsRead(&file, piece.data(), ask, &remaining) == 0) {
        check(remaining == 0 && std::memcmp(piece.data(), whole.data() + offset, ask) == 0);
      }
    }
    std::uint32_t left = 0;
    check(kestrel::ufsWrite(&file, whole.data(), 10, &left) == kestrel::EReadOnly && left == 10);
    kestrel::ufsClose(&file);
    check(file.fileSystemData == nullptr && handheld::heapBlocksInUse() == blocksBefore);
  }
  return 0;
}
