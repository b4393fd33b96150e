// Storage-card images made by the real tools for the UFS source's tests: a file system by
// makefs from a folder, placed by dd into a disk whose MBR sfdisk writes and whose disk label
// util-linux fdisk writes (its nested label at the partition's second sector).
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

namespace kestrel::ufs_test {

enum class Layout {
  CorvidLabel,  // an MBR partition of type 0xA9 with a disk label whose partition a is the file system
  Alternate,    // an MBR partition of type 0xA5 and no label
  Other,        // an MBR partition of type 0x83 only: no corvid partition
  Whole,        // no MBR: the file system starts at sector 0
};

// Runs a shell command; its exit status, with its output in `output` when given.
int shell(const std::string& command, std::string* output = nullptr);
std::string quote(const std::filesystem::path& path);

// makefs -t ffs -B le -o version=1 with the block and fragment size; "" or what went wrong.
std::string makeFileSystem(const std::filesystem::path& tree, const std::filesystem::path& image,
                           unsigned blockSize, unsigned fragmentSize);
// A disk holding `fileSystem` as `layout` says; the partition starts at sector `start`.
std::string makeDisk(const std::filesystem::path& fileSystem, const std::filesystem::path& disk, Layout layout,
                     std::uint32_t start = 63);

}  // namespace kestrel::ufs_test
