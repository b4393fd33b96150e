// The UFS version 1 reader. Every superblock field that is later used as a divisor, a shift,
// a size or a bound is checked when the file system is opened; directory entries are checked
// against the piece of the directory they lie in; link lengths against the path buffer and the
// block they are read from. A hostile card can make a file unreadable, never make the reader
// touch memory outside its buffers.
#include "file/ufs/ufs.h"

#include <cstring>

#include "platform/bytes.h"
#include "platform/heap.h"

namespace kestrel {

namespace {

// Superblock fields (byte offsets).
constexpr std::uint32_t SbInodeBlockOffset = 16;  // inode blocks within a cylinder group, in fragments
constexpr std::uint32_t SbCgOffset = 24;          // cylinder-group offset step (old layout)
constexpr std::uint32_t SbCgMask = 28;            // cylinder-group offset mask (old layout)
constexpr std::uint32_t SbCylinderGroups = 44;
constexpr std::uint32_t SbBlockSize = 48;
constexpr std::uint32_t SbFragmentSize = 52;
constexpr std::uint32_t SbFragmentMask = 76;
constexpr std::uint32_t SbBlockShift = 80;
constexpr std::uint32_t SbFragmentShift = 96;     // log2 of fragments per block
constexpr std::uint32_t SbFsbToDb = 100;          // fragment address to 512-byte sector
constexpr std::uint32_t SbAddressesPerBlock = 116;
constexpr std::uint32_t SbInodesPerBlock = 120;
constexpr std::uint32_t SbInodesPerGroup = 184;
constexpr std::uint32_t SbFragmentsPerGroup = 188;
constexpr std::uint32_t SbMaxInodeLink = 1320;
constexpr std::uint32_t SbBlockOffsetMask = 1336;
constexpr std::uint32_t SbFragmentOffsetMask = 1344;
constexpr std::uint32_t SbMagic = 1372;

// Inode fields.
constexpr std::uint32_t InMode = 0;
constexpr std::uint32_t InSize = 8;
constexpr std::uint32_t InDirect = 40;
constexpr std::uint32_t InIndirect = 88;
constexpr std::uint32_t InOwner = 112;
constexpr std::uint32_t InGroup = 116;
constexpr std::uint32_t TypeMask = 0xF000;
constexpr std::uint32_t TypeDirectory = 0x4000;
constexpr std::uint32_t TypeLink = 0xA000;

// Directory entry: inode number, record length, type or old name length, name length, name.
constexpr std::uint32_t DirHeaderBytes = 8;

constexpr std::uint32_t MinBlockBytes = 4096;
constexpr std::uint32_t MaxBlockBytes = 65536;
constexpr std::uint32_t MaxFragmentShift = 3;  // at most 8 fragments per block
constexpr std::uint32_t NoCache = 0xFFFFFFFFu;

std::uint64_t getLe64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(ce::getLe32(p)) | (static_cast<std::uint64_t>(ce::getLe32(p + 4)) << 32);
}

bool powerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

std::uint32_t log2Of(std::uint32_t v) {
  std::uint32_t shift = 0;
  while (v > 1) {
    v >>= 1;
    ++shift;
  }
  return shift;
}

}  // namespace

// Zero-initialised on the platform heap; every field is set by ufsOpen before it is used.
struct UfsFile {
  std::int32_t position;
  std::uint8_t* superblock;
  std::uint8_t inode[InodeBytes];
  std::uint32_t indirectShift;
  std::uint32_t indirectCacheNumber;
  std::uint32_t indirectCache[IndirectCacheEntries];
  std::uint8_t* blockBuffer;
  std::uint32_t blockBufferSize;
  std::int32_t blockBufferNumber;

  // The superblock's fields, checked.
  std::uint32_t blockSize;
  std::uint32_t blockShift;
  std::uint32_t blockOffsetMask;     // block size - 1
  std::uint32_t fragmentMask;        // ~(fragment size - 1)
  std::uint32_t fragmentOffsetMask;  // fragment size - 1
  std::uint32_t fragmentShift;
  std::uint32_t fsbToDb;
  std::uint32_t inodesPerBlock;
  std::uint32_t inodesPerGroup;
  std::uint32_t fragmentsPerGroup;
  std::uint64_t inodes;  // inodes per group x cylinder groups
  std::uint32_t inodeBlockOffset;
  std::uint32_t cgOffset;
  std::uint32_t cgMask;
  std::int32_t maxInodeLink;
};

namespace {

std::uint32_t mode(const UfsFile* fp) { return ce::getLe16(fp->inode + InMode); }
std::uint64_t size64(const UfsFile* fp) { return getLe64(fp->inode + InSize); }
// Positions and sizes are compared as signed 32-bit values: a file of 2 GiB or more has a
// negative low half and reads as empty.
std::int32_t sizeLow(const UfsFile* fp) { return static_cast<std::int32_t>(ce::getLe32(fp->inode + InSize)); }

// Reads `bytes` at fragment address `address` into `buffer`; a short read is an I/O error.
int readFragments(OpenFile* file, std::uint32_t address, std::uint32_t bytes, void* buffer) {
  const UfsFile* fp = file->fileSystemData;
  const std::uint64_t sector = static_cast<std::uint64_t>(address) << fp->fsbToDb;
  if (sector > 0xFFFFFFFFu) return EIo;
  std::uint32_t received = 0;
  if (!file->device || !file->device->strategy) return ENoDevice;
  if (int error = file->device->strategy(file->deviceData, DirectionRead, static_cast<std::uint32_t>(sector), bytes,
                                         buffer, &received))
    return error;
  return received < bytes ? EIo : 0;
}

int readInode(OpenFile* file, std::uint32_t number) {
  UfsFile* fp = file->fileSystemData;
  if (number >= fp->inodes) return EInvalid;
  const std::uint64_t group = number / fp->inodesPerGroup;
  const std::uint64_t address = group * fp->fragmentsPerGroup + fp->cgOffset * (group & ~static_cast<std::uint64_t>(fp->cgMask)) +
                                fp->inodeBlockOffset +
                                (static_cast<std::uint64_t>((number % fp->inodesPerGroup) / fp->inodesPerBlock)
                                 << fp->fragmentShift);
  if (address > 0xFFFFFFFFu) return EIo;
  fp->blockBufferNumber = -1;
  if (int error = readFragments(file, static_cast<std::uint32_t>(address), fp->blockSize, fp->blockBuffer)) return error;
  // inodesPerBlock is at most blockSize / 128, so the inode lies inside the block.
  std::memcpy(fp->inode, fp->blockBuffer + (number % fp->inodesPerBlock) * InodeBytes, InodeBytes);
  fp->indirectCacheNumber = NoCache;
  fp->blockBufferNumber = -1;
  return 0;
}

// The fragment address of file block `block` (0 for a hole).
int blockMap(OpenFile* file, std::uint32_t block, std::uint32_t* address) {
  UfsFile* fp = file->fileSystemData;
  if (block < DirectBlocks) {
    *address = ce::getLe32(fp->inode + InDirect + 4 * block);
    return 0;
  }
  std::uint64_t b = block - DirectBlocks;
  if (b / IndirectCacheEntries == fp->indirectCacheNumber) {
    *address = fp->indirectCache[b % IndirectCacheEntries];
    return 0;
  }
  const std::uint32_t shift = fp->indirectShift;
  std::uint32_t level = shift;
  while (b >= (std::uint64_t{1} << level)) {
    if (level >= 3 * shift) return ETooLarge;
    b -= std::uint64_t{1} << level;
    level += shift;
  }
  std::uint32_t at = ce::getLe32(fp->inode + InIndirect + 4 * (level / shift - 1));
  for (;;) {
    level -= shift;
    if (at == 0) {
      *address = 0;
      return 0;
    }
    // Indirect blocks pass through the block buffer, which then holds no file block.
    fp->blockBufferNumber = -1;
    if (int error = readFragments(file, at, fp->blockSize, fp->blockBuffer)) return error;
    // b < 2^(level + shift): the entry is one of the block's blockSize / 4 addresses.
    at = ce::getLe32(fp->blockBuffer + 4 * (b >> level));
    if (level == 0) break;
    b &= (std::uint64_t{1} << level) - 1;
  }
  // The 64 entries around this one, from the last indirect block read.
  const std::uint64_t first = b & ~static_cast<std::uint64_t>(IndirectCacheEntries - 1);
  for (std::uint32_t k = 0; k < IndirectCacheEntries; ++k)
    fp->indirectCache[k] = ce::getLe32(fp->blockBuffer + 4 * (first + k));
  fp->indirectCacheNumber = (block - DirectBlocks) / IndirectCacheEntries;
  *address = at;
  return 0;
}

// The block holding the position, read into the block buffer: where the position lies in it
// and how many bytes of the file follow there.
int bufReadFile(OpenFile* file, const std::uint8_t** data, std::uint32_t* available) {
  UfsFile* fp = file->fileSystemData;
  const std::uint32_t position = static_cast<std::uint32_t>(fp->position);  // never negative here
  const std::uint32_t offset = position & fp->blockOffsetMask;
  const std::uint32_t block = position >> fp->blockShift;
  const std::uint64_t fileSize = size64(fp);

  std::uint32_t blockBytes = fp->blockSize;
  if (block < DirectBlocks && fileSize < (static_cast<std::uint64_t>(block) + 1) << fp->blockShift) {
    // The file's last block among the direct ones ends at its last fragment.
    blockBytes = ((static_cast<std::uint32_t>(fileSize) & fp->blockOffsetMask) + fp->fragmentOffsetMask) & fp->fragmentMask;
  }
  if (static_cast<std::int32_t>(block) != fp->blockBufferNumber) {
    std::uint32_t address = 0;
    if (int error = blockMap(file, block, &address)) return error;
    fp->blockBufferNumber = -1;
    if (address == 0) {
      std::memset(fp->blockBuffer, 0, blockBytes);
    } else if (int error = readFragments(file, address, blockBytes, fp->blockBuffer)) {
      return error;
    }
    fp->blockBufferSize = blockBytes;
    fp->blockBufferNumber = static_cast<std::int32_t>(block);
  }
  *data = fp->blockBuffer + offset;
  std::uint32_t left = fp->blockSize - offset;
  const std::int64_t inFile = static_cast<std::int64_t>(sizeLow(fp)) - fp->position;
  if (inFile < left) left = inFile > 0 ? static_cast<std::uint32_t>(inFile) : 0;
  *available = left;
  return 0;
}

// The inode number of `name` (length bytes) in the current directory inode; ENoEntry when missing.
int searchDirectory(OpenFile* file, const char* name, std::uint32_t length, std::uint32_t* number) {
  UfsFile* fp = file->fileSystemData;
  const bool oldLayout = fp->maxInodeLink <= 0;
  fp->position = 0;
  while (fp->position < sizeLow(fp)) {
    const std::uint8_t* piece = nullptr;
    std::uint32_t bytes = 0;
    if (int error = bufReadFile(file, &piece, &bytes)) return error;
    if (bytes == 0) break;
    // Entries are taken only while they lie wholly inside the piece and are shaped like
    // entries; the first one that is not ends the scan of the piece.
    for (std::uint32_t at = 0; at + DirHeaderBytes <= bytes;) {
      const std::uint8_t* entry = piece + at;
      const std::uint32_t record = ce::getLe16(entry + 4);
      const std::uint32_t nameLength = oldLayout ? entry[6] : entry[7];
      if (record == 0 || record % 4 != 0 || record < DirHeaderBytes + nameLength || record > bytes - at) break;
      const std::uint32_t inode = ce::getLe32(entry);
      if (inode != 0 && nameLength == length && std::memcmp(entry + DirHeaderBytes, name, length) == 0) {
        *number = inode;
        return 0;
      }
      at += record;
    }
    fp->position += static_cast<std::int32_t>(bytes);
  }
  return ENoEntry;
}

// Reads and checks the superblock into the file's fields.
int loadSuperblock(OpenFile* file) {
  UfsFile* fp = file->fileSystemData;
  std::uint32_t received = 0;
  if (!file->device || !file->device->strategy) return ENoDevice;
  if (int error = file->device->strategy(file->deviceData, DirectionRead, SuperblockSector, SuperblockBytes,
                                         fp->superblock, &received))
    return error;
  const std::uint8_t* sb = fp->superblock;
  if (received < SuperblockBytes || ce::getLe32(sb + SbMagic) != UfsMagic) return EInvalid;

  const std::uint32_t blockSize = ce::getLe32(sb + SbBlockSize);
  if (!powerOfTwo(blockSize) || blockSize < MinBlockBytes || blockSize > MaxBlockBytes) return EInvalid;
  const std::uint32_t fragmentShift = ce::getLe32(sb + SbFragmentShift);
  if (fragmentShift > MaxFragmentShift) return EInvalid;
  const std::uint32_t fragmentSize = blockSize >> fragmentShift;
  const std::uint32_t fsbToDb = log2Of(fragmentSize / SectorBytes);
  if (ce::getLe32(sb + SbBlockShift) != log2Of(blockSize) || ce::getLe32(sb + SbFragmentSize) != fragmentSize ||
      ce::getLe32(sb + SbFragmentMask) != ~(fragmentSize - 1) || ce::getLe32(sb + SbFsbToDb) != fsbToDb ||
      getLe64(sb + SbBlockOffsetMask) != blockSize - 1 || getLe64(sb + SbFragmentOffsetMask) != fragmentSize - 1)
    return EInvalid;
  // Block addresses per indirect block: a positive power of two, four bytes each.
  const std::uint32_t addresses = ce::getLe32(sb + SbAddressesPerBlock);
  if (!powerOfTwo(addresses) || addresses != blockSize / 4) return EInvalid;
  const std::uint32_t inodesPerBlock = ce::getLe32(sb + SbInodesPerBlock);
  const std::uint32_t inodesPerGroup = ce::getLe32(sb + SbInodesPerGroup);
  const std::uint32_t fragmentsPerGroup = ce::getLe32(sb + SbFragmentsPerGroup);
  const std::uint32_t groups = ce::getLe32(sb + SbCylinderGroups);
  if (inodesPerBlock == 0 || inodesPerBlock > blockSize / InodeBytes || inodesPerGroup == 0 || fragmentsPerGroup == 0 ||
      groups == 0)
    return EInvalid;
  const std::int32_t maxInodeLink = static_cast<std::int32_t>(ce::getLe32(sb + SbMaxInodeLink));
  if (maxInodeLink > InodeLinkBytes) return EInvalid;

  fp->blockSize = blockSize;
  fp->blockShift = log2Of(blockSize);
  fp->blockOffsetMask = blockSize - 1;
  fp->fragmentMask = ~(fragmentSize - 1);
  fp->fragmentOffsetMask = fragmentSize - 1;
  fp->fragmentShift = fragmentShift;
  fp->fsbToDb = fsbToDb;
  fp->inodesPerBlock = inodesPerBlock;
  fp->inodesPerGroup = inodesPerGroup;
  fp->fragmentsPerGroup = fragmentsPerGroup;
  fp->inodes = static_cast<std::uint64_t>(inodesPerGroup) * groups;
  fp->inodeBlockOffset = ce::getLe32(sb + SbInodeBlockOffset);
  fp->cgOffset = ce::getLe32(sb + SbCgOffset);
  fp->cgMask = ce::getLe32(sb + SbCgMask);
  fp->maxInodeLink = maxInodeLink;
  fp->indirectShift = log2Of(addresses);
  return 0;
}

int walk(OpenFile* file, const char* path) {
  UfsFile* fp = file->fileSystemData;
  char buffer[PathBytes + 1];
  const char* at = path;
  std::uint32_t inode = RootInode;
  std::uint32_t links = 0;
  for (;;) {
    while (*at == '/') ++at;
    if (*at == '\0') return 0;
    if ((mode(fp) & TypeMask) != TypeDirectory) return ENotDirectory;
    const char* end = at;
    while (*end != '\0' && *end != '/') ++end;
    const std::uint32_t parent = inode;
    if (int error = searchDirectory(file, at, static_cast<std::uint32_t>(end - at), &inode)) return error;
    if (int error = readInode(file, inode)) return error;
    at = end;
    if ((mode(fp) & TypeMask) != TypeLink) continue;

    // A symbolic link: its text followed by the rest of the path, all in the path buffer.
    const std::uint64_t linkLength = size64(fp);
    const std::size_t rest = std::strlen(at);
    if (linkLength + rest > PathBytes || ++links > MaxLinks) return ENoEntry;
    std::memmove(buffer + linkLength, at, rest + 1);
    if (static_cast<std::int64_t>(linkLength) < fp->maxInodeLink) {
      std::memcpy(buffer, fp->inode + InDirect, linkLength);  // below 60 bytes
    } else {
      if (linkLength > fp->blockSize) return ENoEntry;
      std::uint32_t address = 0;
      if (int error = blockMap(file, 0, &address)) return error;
      fp->blockBufferNumber = -1;
      if (address == 0) {
        std::memset(fp->blockBuffer, 0, fp->blockSize);
      } else if (int error = readFragments(file, address, fp->blockSize, fp->blockBuffer)) {
        return error;
      }
      std::memcpy(buffer, fp->blockBuffer, linkLength);
    }
    at = buffer;
    inode = *at == '/' ? RootInode : parent;
    if (int error = readInode(file, inode)) return error;
  }
}

// Whole blocks that lie wholly inside the file and are contiguous on the disk go straight
// into the caller's buffer, as many as fit, with one device read. Returns the bytes delivered;
// 0 hands the position to bufReadFile (a hole, a short piece, or a failure, which the block
// path then meets again and reports after delivering the blocks in front of it).
std::uint32_t readWholeBlocks(OpenFile* file, std::uint8_t* out, std::uint32_t size) {
  UfsFile* fp = file->fileSystemData;
  const std::uint32_t inFile = static_cast<std::uint32_t>(sizeLow(fp) - fp->position);
  const std::uint32_t blocks = (size < inFile ? size : inFile) >> fp->blockShift;
  if (blocks == 0) return 0;
  const std::uint32_t first = static_cast<std::uint32_t>(fp->position) >> fp->blockShift;
  std::uint32_t start = 0;
  if (blockMap(file, first, &start) != 0 || start == 0) return 0;
  const std::uint64_t fragmentsPerBlock = std::uint64_t{1} << fp->fragmentShift;
  std::uint32_t count = 1;
  for (; count < blocks; ++count) {
    std::uint32_t next = 0;
    if (blockMap(file, first + count, &next) != 0 || next != start + count * fragmentsPerBlock) break;
  }
  if (readFragments(file, start, count << fp->blockShift, out) != 0) return 0;
  return count << fp->blockShift;
}

}  // namespace

int ufsOpen(const char* path, OpenFile* file) {
  if (!file || !path) return EInvalid;
  ufsClose(file);  // one file per OpenFile: a new open replaces the old one
  UfsFile* fp = ce::heapNewArray<UfsFile>(1);
  if (!fp) return ENoMemory;
  file->fileSystemData = fp;
  fp->indirectCacheNumber = NoCache;
  fp->blockBufferNumber = -1;
  fp->superblock = ce::heapNewArray<std::uint8_t>(SuperblockBytes);
  int error = fp->superblock ? loadSuperblock(file) : ENoMemory;
  if (error == 0) {
    fp->blockBuffer = ce::heapNewArray<std::uint8_t>(fp->blockSize);
    if (!fp->blockBuffer) error = ENoMemory;
  }
  if (error == 0) error = readInode(file, RootInode);
  if (error == 0) error = walk(file, path);
  if (error != 0) {
    ufsClose(file);
    return error;
  }
  fp->position = 0;
  return 0;
}

int ufsRead(OpenFile* file, void* buffer, std::uint32_t size, std::uint32_t* remaining) {
  UfsFile* fp = file ? file->fileSystemData : nullptr;
  int error = fp ? 0 : EInvalid;
  auto* out = static_cast<std::uint8_t*>(buffer);
  // A position of 2 GiB or more (negative) lies beyond every readable file.
  bool wholeBlocks = true;  // until a run of them could not be read straight
  while (fp && size > 0 && fp->position >= 0 && fp->position < sizeLow(fp)) {
    if (wholeBlocks && (static_cast<std::uint32_t>(fp->position) & fp->blockOffsetMask) == 0) {
      const std::uint32_t n = readWholeBlocks(file, out, size);
      if (n > 0) {
        out += n;
        fp->position += static_cast<std::int32_t>(n);
        size -= n;
        continue;
      }
      wholeBlocks = false;
    }
    const std::uint8_t* data = nullptr;
    std::uint32_t available = 0;
    error = bufReadFile(file, &data, &available);
    if (error != 0 || available == 0) break;
    const std::uint32_t n = size < available ? size : available;
    std::memcpy(out, data, n);
    out += n;
    fp->position += static_cast<std::int32_t>(n);
    size -= n;
  }
  if (remaining) *remaining = size;
  return error;
}

int ufsWrite(OpenFile*, const void*, std::uint32_t size, std::uint32_t* remaining) {
  if (remaining) *remaining = size;
  return EReadOnly;
}

std::int32_t ufsSeek(OpenFile* file, std::int32_t offset) {
  if (!file || !file->fileSystemData) return offset;
  file->fileSystemData->position = offset;
  return offset;
}

int ufsStat(OpenFile* file, UfsStat* status) {
  if (!status) return EInvalid;
  *status = UfsStat{};
  const UfsFile* fp = file ? file->fileSystemData : nullptr;
  if (!fp) return 0;
  status->mode = mode(fp);
  status->owner = ce::getLe32(fp->inode + InOwner);
  status->group = ce::getLe32(fp->inode + InGroup);
  status->size = ce::getLe32(fp->inode + InSize);
  return 0;
}

int ufsClose(OpenFile* file) {
  if (!file || !file->fileSystemData) return 0;
  UfsFile* fp = file->fileSystemData;
  ce::LocalFree(fp->blockBuffer);
  ce::LocalFree(fp->superblock);
  ce::LocalFree(fp);
  file->fileSystemData = nullptr;
  return 0;
}

}  // namespace kestrel
