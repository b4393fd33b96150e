// A 32 MiB plain file read by `kestrel cat` from a makefs card through the UFS source (DSK1:,
// a 0xA9 partition with a disk label) and the same file from the storage card's own folder,
// the two taking turns; prints the median wall time of each and their ratio (folder time /
// UFS time: 1.0 means as fast, above 1 the UFS read is faster). Two cards: the partition at
// sector 2048 (where sfdisk puts it by default, 1 MiB aligned) and at sector 63 (the old
// track-aligned place, which leaves every block off the host's page boundaries).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "tests/file/ufs_disk.h"

namespace fs = std::filesystem;
using kestrel::ufs_test::quote;

namespace {

double seconds(const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  const int status = std::system(command.c_str());
  const auto end = std::chrono::steady_clock::now();
  if (status != 0) {
    std::fprintf(stderr, "ufs-read: failed: %s\n", command.c_str());
    std::exit(1);
  }
  return std::chrono::duration<double>(end - start).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 9;
  const fs::path work = fs::temp_directory_path() / ("kestrel-bench-ufs-" + std::to_string(::getpid()));
  const fs::path handheld = work / "handheld";
  fs::create_directories(work / "tree");
  const std::string kestrel = KESTREL_PROGRAM;
  if (std::system((quote(kestrel) + " handheld init " + quote(handheld) + " --platform 'Compaq iPAQ H3600' >/dev/null").c_str()) != 0)
    return 1;
  // 32 MiB of varied bytes.
  {
    std::mt19937 random(1);
    std::vector<std::uint32_t> words(32u << 20 >> 2);
    for (auto& w : words) w = random();
    std::ofstream(work / "tree" / "corvid", std::ios::binary)
        .write(reinterpret_cast<const char*>(words.data()), static_cast<std::streamsize>(words.size() * 4));
  }
  fs::copy_file(work / "tree" / "corvid", handheld / "Storage Card" / "corvid");
  std::string made = kestrel::ufs_test::makeFileSystem(work / "tree", work / "fs.img", 16384, 2048);
  if (!made.empty()) {
    std::fprintf(stderr, "ufs-read: %s\n", made.c_str());
    return 1;
  }
  std::ofstream(handheld / "handheld.ini", std::ios::app) << "disk1 = disk1.img\n";
  const std::string base = quote(kestrel) + " cat --handheld " + quote(handheld);
  const std::string ufs = base + " --dir 1:/ corvid 2>/dev/null > /dev/null";
  const std::string folder = base + " --dir '\\Storage Card\\' corvid 2>/dev/null > /dev/null";
  std::printf("ufs-read: 32 MiB by kestrel cat, %d rounds alternating\n", rounds);
  for (std::uint32_t start : {2048u, 63u}) {
    made = kestrel::ufs_test::makeDisk(work / "fs.img", handheld / "disk1.img", kestrel::ufs_test::Layout::CorvidLabel, start);
    if (!made.empty()) {
      std::fprintf(stderr, "ufs-read: %s\n", made.c_str());
      return 1;
    }
    // Both files written out before timing, so no write-back runs under either.
    if (std::system("sync") != 0) return 1;
    // Both read the same bytes: checked once before timing.
    if (std::system((base + " --dir 1:/ corvid 2>/dev/null | cmp -s - " + quote(work / "tree" / "corvid")).c_str()) != 0) {
      std::fprintf(stderr, "ufs-read: the UFS read differs from the file\n");
      return 1;
    }
    std::vector<double> ufsTimes, folderTimes;
    seconds(ufs);
    seconds(folder);  // warm the page cache for both
    for (int k = 0; k < rounds; ++k) {
      ufsTimes.push_back(seconds(ufs));
      folderTimes.push_back(seconds(folder));
    }
    const double u = median(ufsTimes), f = median(folderTimes);
    std::printf("partition at sector %u (16384/2048 makefs card):\n", start);
    std::printf("  UFS (1:/):            median %.4f s (%.0f MiB/s)\n", u, 32 / u);
    std::printf("  storage card folder:  median %.4f s (%.0f MiB/s)\n", f, 32 / f);
    std::printf("  UFS speed relative to the folder: %.2fx\n", f / u);
  }
  std::error_code ec;
  fs::remove_all(work, ec);
  return 0;
}
