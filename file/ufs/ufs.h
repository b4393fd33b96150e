// The UFS reader: finds a file by path on a UFS version 1 partition and reads it, through
// nothing but the strategy operation of the OpenFile's device. Read-only, one file per
// OpenFile, one superblock copy, one inode, one block buffer and a 64-entry cache of indirect
// block addresses. Everything it reads from the disk is checked before it is used as a size,
// an offset, a divisor or a shift. Results are 0 or POSIX-style error numbers (winblk.h).
#pragma once
#include <cstdint>

#include "file/ufs/winblk.h"

namespace kestrel {

struct UfsStat {
  std::uint32_t mode = 0;
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
  std::uint32_t size = 0;  // the low 32 bits of the inode's size
};

// Opens `path` ('/'-separated, from the root whatever it begins with) and attaches the file.
// On failure nothing stays allocated.
int ufsOpen(const char* path, OpenFile* file);
// Copies up to `size` bytes from the position on; `remaining` (when given) receives what was
// not delivered. Stops at the first error, keeping what it copied.
int ufsRead(OpenFile* file, void* buffer, std::uint32_t size, std::uint32_t* remaining);
int ufsWrite(OpenFile* file, const void* buffer, std::uint32_t size, std::uint32_t* remaining);
// Sets the position (from the start of the file) and returns it.
std::int32_t ufsSeek(OpenFile* file, std::int32_t offset);
int ufsStat(OpenFile* file, UfsStat* status);
int ufsClose(OpenFile* file);

// Layout constants.
constexpr std::uint32_t UfsMagic = 0x011954;
constexpr std::uint32_t SuperblockSector = 16;
constexpr std::uint32_t SuperblockBytes = 8192;
constexpr std::uint32_t InodeBytes = 128;
constexpr std::uint32_t RootInode = 2;
constexpr std::uint32_t DirectBlocks = 12;
constexpr std::uint32_t IndirectCacheEntries = 64;
constexpr std::uint32_t PathBytes = 1024;
constexpr std::uint32_t MaxLinks = 32;
// The longest symbolic link an inode can hold in place of its block addresses.
constexpr std::int32_t InodeLinkBytes = 60;

}  // namespace kestrel
