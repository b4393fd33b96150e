// The UFS source on storage cards made by the real tools: the handheld's disk driver, winblk
// (MBR, disk label, sectors), the UFS reader and UfsFileManager. File systems come from makefs
// with three block sizes; hostile superblocks, labels and directory entries are made by
// changing bytes of those images.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "file/gzip_file_manager.h"
#include "file/sources.h"
#include "file/ufs/ufs.h"
#include "file/ufs/ufs_file_manager.h"
#include "file/ufs/winblk.h"
#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/handheld/heap_check.h"
#include "tests/file/file_test_support.h"
#include "tests/file/ufs_disk.h"
#include "tests/support/handheld_fixture.h"

namespace fs = std::filesystem;

namespace kestrel {
namespace {

using file_test::Bytes;
using ufs_test::Layout;

constexpr unsigned BlockSizes[][2] = {{4096, 512}, {8192, 1024}, {16384, 2048}};

// The folder every file system is made from, and the file systems, made once.
struct Cards {
  file_test::ScratchDir scratch;
  fs::path tree;
  Bytes kernel, small, big;
  std::map<unsigned, fs::path> fileSystems;  // by block size
  std::string error;

  Cards() {
    tree = scratch / "tree";
    fs::create_directories(tree / "dir" / "sub");
    kernel = file_test::kernelLike(300000, 7);
    small = file_test::kernelLike(1000, 8);
    // Beyond 12 + 1024 blocks of 4096 bytes: double-indirect blocks on the smallest block size.
    big = file_test::kernelLike(4600000, 9);
    file_test::writeBytes(tree / "corvid", kernel);
    file_test::writeBytes(tree / "small", small);
    file_test::writeBytes(tree / "big", big);
    file_test::writeBytes(tree / "dir" / "sub" / "deep", file_test::text("deep file\n"));
    if (ufs_test::shell("gzip -n -9 -c " + ufs_test::quote(tree / "corvid") + " > " + ufs_test::quote(tree / "corvid.gz")) != 0)
      error = "gzip failed";
    fs::create_symlink("dir/sub", tree / "rel");          // relative, in the inode
    fs::create_symlink("/corvid", tree / "dir" / "abs");  // absolute, in the inode
    std::string longTarget;
    for (int k = 0; k < 40; ++k) longTarget += "./";
    fs::create_symlink(longTarget + "corvid", tree / "long");  // 86 bytes: in a block
    // c0 -> c1 -> ... -> c32 -> corvid: c1 takes 32 links, c0 takes 33.
    for (int k = 0; k < 33; ++k)
      fs::create_symlink(k == 32 ? std::string("corvid") : "c" + std::to_string(k + 1), tree / ("c" + std::to_string(k)));
    for (const auto& sizes : BlockSizes) {
      const fs::path image = scratch / ("fs-" + std::to_string(sizes[0]));
      const std::string made = ufs_test::makeFileSystem(tree, image, sizes[0], sizes[1]);
      if (!made.empty()) error += made;
      fileSystems[sizes[0]] = image;
    }
  }
};

Cards& cards() {
  static Cards* made = new Cards;
  return *made;
}

// Offset of the one inode of a regular file with this size in a file-system image.
std::size_t inodeOfSize(const Bytes& image, std::uint32_t size) {
  std::size_t found = 0;
  for (std::size_t at = 8192 * 2; at + 128 <= image.size(); at += 128) {
    if ((ce::getLe16(&image[at]) & 0xF000) == 0x8000 && ce::getLe32(&image[at + 8]) == size &&
        ce::getLe32(&image[at + 12]) == 0) {
      EXPECT_EQ(found, 0u) << "two inodes of size " << size;
      found = at;
    }
  }
  EXPECT_NE(found, 0u) << "no inode of size " << size;
  return found;
}

// Offset of the directory entry named `name` (its header) in a file-system image.
std::size_t entryNamed(const Bytes& image, const std::string& name) {
  for (std::size_t at = 8192 * 2; at + 8 + name.size() <= image.size(); at += 4) {
    if (image[at + 7] == name.size() && std::memcmp(&image[at + 8], name.data(), name.size()) == 0 &&
        ce::getLe32(&image[at]) != 0)
      return at;
  }
  ADD_FAILURE() << "no entry " << name;
  return 0;
}

class UfsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(cards().error, "");
    handheld_.machine().setDebugSink([this](const std::u16string& text) { debug_ += text; });
  }

  // Puts `disk` behind DSKn: with further handheld.ini lines for that disk.
  void plugIn(const fs::path& disk, int unit = 1, const std::string& more = "") {
    const std::string name = "disk" + std::to_string(unit) + ".img";
    fs::copy_file(disk, handheld_.dir() / name, fs::copy_options::overwrite_existing);
    units_[unit] = "disk" + std::to_string(unit) + " = " + name + "\n" + more;
    ini_.clear();
    for (const auto& [n, lines] : units_) ini_ += lines;
    handheld_.reconfigure(ini_);
    handheld_.machine().setDebugSink([this](const std::u16string& text) { debug_ += text; });
  }
  void plugIn(const Bytes& disk, int unit = 1, const std::string& more = "") {
    const fs::path path = scratch_ / "disk";
    file_test::writeBytes(path, disk);
    plugIn(path, unit, more);
  }
  fs::path disk(unsigned blockSize, Layout layout, std::uint32_t start = 63) {
    const fs::path path = scratch_ / ("disk-" + std::to_string(blockSize) + "-" + std::to_string(int(layout)));
    const std::string made = ufs_test::makeDisk(cards().fileSystems[blockSize], path, layout, start);
    EXPECT_EQ(made, "");
    return path;
  }
  Bytes fileSystem(unsigned blockSize) { return file_test::readBytes(cards().fileSystems[blockSize]); }

  Bytes readAll(FileManager& files, std::uint32_t piece = 65536) {
    Bytes out;
    Bytes buffer(piece);
    for (std::uint32_t offset = 0;;) {
      const std::int32_t n = files.read(buffer.data(), piece, offset);
      if (n <= 0) break;
      out.insert(out.end(), buffer.begin(), buffer.begin() + n);
      offset += static_cast<std::uint32_t>(n);
    }
    return out;
  }

  kestrel_testing::TempHandheld handheld_;
  file_test::ScratchDir scratch_;
  std::map<int, std::string> units_;  // handheld.ini lines per disk
  std::string ini_;
  std::u16string debug_;
  file_test::CaptureConsole console_;
  Console* slot_ = &console_;
};

// ---- the disk driver ---------------------------------------------------------------------

TEST_F(UfsTest, TheDiskDriverAnswersInfoAndReadsAndRefusesTheRest) {
  Bytes image(64 * 512);
  for (std::size_t k = 0; k < image.size(); ++k) image[k] = static_cast<std::uint8_t>(k * 7 + k / 512);
  plugIn(image, 3, "disk3_bad_sector = 40\ndisk3_flags = 0x5\n");
  EXPECT_EQ(ce::CreateFileW(u"DSK2:", ce::GenericRead, 0, nullptr, ce::OpenExisting, 0, nullptr), ce::InvalidHandleValue);
  EXPECT_EQ(ce::GetLastError(), ce::ErrorFileNotFound);
  ce::HANDLE dsk = ce::CreateFileW(u"dsk3:", ce::GenericRead, 0, nullptr, ce::OpenExisting, 0, nullptr);
  ASSERT_NE(dsk, ce::InvalidHandleValue);
  EXPECT_EQ(ce::CreateFileW(u"DSK3:", ce::GenericRead, 0, nullptr, ce::OpenExisting, 0, nullptr), ce::InvalidHandleValue);
  EXPECT_EQ(ce::GetLastError(), ce::ErrorSharingViolation);

  std::uint8_t info[24] = {};
  ASSERT_TRUE(ce::DeviceIoControl(dsk, ce::DiskIoctlGetInfo, info, 24, nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(ce::getLe32(info), 64u);
  EXPECT_EQ(ce::getLe32(info + 4), 512u);
  EXPECT_EQ(ce::getLe32(info + 20), 0x5u);

  std::uint8_t buffer[3 * 512];
  ce::CallerBuffer target(buffer, sizeof buffer);
  auto request = [&](std::uint32_t start, std::uint32_t count, std::uint32_t address, std::uint32_t length,
                     std::uint32_t& status) {
    std::uint8_t sg[28];
    ce::putLe32(sg, start);
    ce::putLe32(sg + 4, count);
    ce::putLe32(sg + 8, 1);
    ce::putLe32(sg + 12, 0xDEAD);
    ce::putLe32(sg + 16, 0);
    ce::putLe32(sg + 20, address);
    ce::putLe32(sg + 24, length);
    const bool ok = ce::DeviceIoControl(dsk, ce::DiskIoctlRead, sg, 28, nullptr, 0, nullptr, nullptr);
    status = ce::getLe32(sg + 12);
    return ok;
  };
  std::uint32_t status = 0;
  ASSERT_TRUE(request(5, 3, target.address(), sizeof buffer, status));
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(Bytes(buffer, buffer + sizeof buffer), Bytes(image.begin() + 5 * 512, image.begin() + 8 * 512));
  // Media errors: the call goes through, the status says what failed, nothing is transferred.
  std::memset(buffer, 0, sizeof buffer);
  EXPECT_TRUE(request(38, 3, target.address(), sizeof buffer, status));
  EXPECT_NE(status, 0u);
  EXPECT_TRUE(request(62, 3, target.address(), sizeof buffer, status));
  EXPECT_NE(status, 0u);
  EXPECT_EQ(Bytes(buffer, buffer + sizeof buffer), Bytes(sizeof buffer, 0));
  // Malformed requests fail the call: a buffer too small, an address no buffer was given.
  EXPECT_FALSE(request(0, 4, target.address(), 4 * 512, status));
  EXPECT_FALSE(request(0, 1, target.address() + 0x100000, 512, status));
  EXPECT_FALSE(request(0, 1, 0, 512, status));
  // Nothing is written.
  ce::DWORD written = 1;
  EXPECT_FALSE(ce::WriteFile(dsk, buffer, 512, &written, nullptr));
  EXPECT_EQ(written, 0u);
  EXPECT_FALSE(ce::DeviceIoControl(dsk, ce::DiskIoctlWrite, buffer, 28, nullptr, 0, nullptr, nullptr));
  ce::CloseHandle(dsk);
  EXPECT_EQ(file_test::readBytes(handheld_.dir() / "disk3.img"), image);
  dsk = ce::CreateFileW(u"DSK3:", ce::GenericRead, 0, nullptr, ce::OpenExisting, 0, nullptr);
  EXPECT_NE(dsk, ce::InvalidHandleValue);  // free again once closed
  ce::CloseHandle(dsk);
}

// ---- winblk ------------------------------------------------------------------------------

// An MBR with these (type, first sector) entries, and sectors enough behind it.
Bytes mbrDisk(std::initializer_list<std::pair<std::uint8_t, std::uint32_t>> entries, std::uint32_t sectors = 2048) {
  Bytes disk(sectors * 512);
  int k = 0;
  for (auto [type, first] : entries) {
    disk[446 + 16 * k + 4] = type;
    ce::putLe32(&disk[446 + 16 * k + 8], first);
    ++k;
  }
  disk[510] = 0x55;
  disk[511] = 0xAA;
  for (std::uint32_t s = 1; s < sectors; ++s) ce::putLe32(&disk[s * 512 + 508], s);  // each sector names itself
  return disk;
}

// A disk label at `sector` with `count` partitions, entry k starting at starts[k].
void putLabel(Bytes& disk, std::uint32_t sector, std::uint16_t count, std::vector<std::uint32_t> starts) {
  std::uint8_t* label = &disk[sector * 512];
  std::memset(label, 0, 512);
  ce::putLe32(label, 0x82564557);
  ce::putLe32(label + 132, 0x82564557);
  ce::putLe16(label + 138, count);
  for (std::size_t k = 0; k < starts.size(); ++k) {
    ce::putLe32(label + 148 + 16 * k, 100);
    ce::putLe32(label + 148 + 16 * k + 4, starts[k]);
  }
  std::uint16_t sum = 0;
  const std::uint32_t end = 148 + 16 * count < 512 ? 148 + 16 * count : 512;
  for (std::uint32_t at = 0; at < end; at += 2) sum ^= ce::getLe16(label + at);
  ce::putLe16(label + 136, sum);
}

TEST_F(UfsTest, WinblkFindsThePartitionThroughMbrAndLabel) {
  struct Case {
    const char* what;
    Bytes disk;
    int partition;
    int error;
    std::uint32_t start;
    std::u16string debug;
  };
  Bytes labelled = mbrDisk({{0x0C, 2}, {0xA9, 0x20}});
  putLabel(labelled, 0x21, 3, {0x3F, 0x200, 0x300});
  Bytes secondMagic = labelled;
  secondMagic[0x21 * 512 + 132] ^= 1;
  Bytes badSum = labelled;
  badSum[0x21 * 512 + 148 + 4] ^= 1;
  // 23 entries do not fit behind offset 148 of a 512-byte sector: the label is refused rather
  // than checked beyond the sector.
  Bytes tooMany = labelled;
  putLabel(tooMany, 0x21, 23, {0x3F});
  Bytes twentyTwo = labelled;
  putLabel(twentyTwo, 0x21, 22, {0x3F});
  const Case cases[] = {
      {"0xA5, 0xA5, 0xA9: the 0xA9", mbrDisk({{0xA5, 10}, {0xA5, 20}, {0xA9, 30}}), 0, 0, 30,
       u"invalid disklabel, start sector=0x1e\n"},
      {"two 0xA5: the last", mbrDisk({{0xA5, 63}, {0xA5, 1000}}), 0, 0, 1000, u"invalid disklabel, start sector=0x3e8\n"},
      {"no corvid partition", mbrDisk({{0x83, 63}, {0x0C, 100}}), 0, 0, 0, u"no CORVID partition, start sector=0x0\n"},
      {"label", labelled, 0, 0, 0x3F, u"start sector=0x3f\n"},
      {"label, partition 2", labelled, 2, 0, 0x300, u"start sector=0x300\n"},
      {"label lacks partition 3", labelled, 3, EInvalid, 0, u""},
      {"negative partition", labelled, -1, EInvalid, 0, u""},
      {"second magic wrong", secondMagic, 0, 0, 0x20, u"invalid disklabel, start sector=0x20\n"},
      {"checksum wrong", badSum, 0, 0, 0x20, u"invalid disklabel, start sector=0x20\n"},
      {"23 partitions", tooMany, 0, 0, 0x20, u"invalid disklabel, start sector=0x20\n"},
      {"22 partitions", twentyTwo, 0, 0, 0x3F, u"start sector=0x3f\n"},
      {"label sector past the end", mbrDisk({{0xA9, 5000}}), 0, EIo, 0, u"DeviceIoControl(READ): status=27\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    plugIn(c.disk);
    debug_.clear();
    const std::size_t blocks = handheld::heapBlocksInUse();
    OpenFile file;
    file.device = &winblkEntry;
    EXPECT_EQ(winblkOpen(&file, "DSK", 1, c.partition), c.error);
    EXPECT_EQ(debug_, c.debug);
    if (c.error != 0) {
      EXPECT_EQ(file.deviceData, nullptr);
      EXPECT_EQ(handheld::heapBlocksInUse(), blocks);
      continue;
    }
    ASSERT_NE(file.deviceData, nullptr);
    EXPECT_EQ(winblkStartSector(file.deviceData), c.start);
    // Block 16 is absolute sector start + 16 (each sector carries its own number at 508).
    std::uint8_t sector[512];
    std::uint32_t received = 0;
    ASSERT_EQ(winblkStrategy(file.deviceData, DirectionRead, 16, 512, sector, &received), 0);
    EXPECT_EQ(ce::getLe32(sector + 508), c.start + 16);
    winblkClose(&file);
    EXPECT_EQ(file.deviceData, nullptr);
    EXPECT_EQ(handheld::heapBlocksInUse(), blocks);
  }
}

TEST_F(UfsTest, WinblkRefusesWhatItCannotUse) {
  plugIn(mbrDisk({{0xA9, 63}}), 2);
  struct Case {
    const char* what;
    const char* type;
    int unit;
    std::string ini;
    int error;
    std::u16string debug;
  };
  const Case cases[] = {
      {"four letters", "DSKX", 2, "", ENoDevice, u""},
      {"unit 10", "DSK", 10, "", ENoDevice, u""},
      {"no such disk", "DSK", 4, "", ENoDevice, u"can't open DSK4:.\n"},
      {"2048-byte sectors", "dsk", 2, "disk2_bytes_per_sector = 2048\n", EInvalid, u"invalid flags\n"},
      {"no MBR", "dsk", 2, "disk2_flags = 0\n", EInvalid, u"invalid flags\n"},
      {"unformatted", "dsk", 2, "disk2_flags = 0x5\n", EInvalid, u"invalid flags\n"},
      {"MBR unreadable", "dsk", 2, "disk2_bad_sector = 0\n", EIo, u"DeviceIoControl(READ): status=23\n"},
      {"label unreadable", "dsk", 2, "disk2_bad_sector = 64\n", EIo, u"DeviceIoControl(READ): status=23\n"},
  };
  const std::string base = ini_;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ini_ = base;
    handheld_.reconfigure(ini_ + c.ini);
    handheld_.machine().setDebugSink([this](const std::u16string& text) { debug_ += text; });
    debug_.clear();
    OpenFile file;
    file.device = &winblkEntry;
    EXPECT_EQ(winblkOpen(&file, c.type, c.unit, 0), c.error);
    EXPECT_EQ(debug_, c.debug);
    EXPECT_EQ(file.deviceData, nullptr);
    // The failed open let the disk go.
    ce::HANDLE dsk = ce::CreateFileW(u"DSK2:", ce::GenericRead, 0, nullptr, ce::OpenExisting, 0, nullptr);
    EXPECT_NE(dsk, ce::InvalidHandleValue);
    ce::CloseHandle(dsk);
  }
  ini_ = base;
  handheld_.reconfigure(ini_);
  handheld_.faults().heapFailAt = 1;
  OpenFile file;
  EXPECT_EQ(winblkOpen(&file, "DSK", 2, 0), ENoMemory);
  EXPECT_EQ(file.deviceData, nullptr);
}

TEST_F(UfsTest, StrategyReadsWholeSectorsStraightAndThePartialOneThroughTheBuffer) {
  Bytes disk = mbrDisk({{0x83, 1}});
  plugIn(disk);
  OpenFile file;
  file.device = &winblkEntry;
  ASSERT_EQ(winblkOpen(&file, "DSK", 1, 0), 0);
  Bytes buffer(1000 + 16, 0xEE);
  std::uint32_t received = 0;
  ASSERT_EQ(winblkStrategy(file.deviceData, DirectionRead, 3, 1000, buffer.data(), &received), 0);
  EXPECT_EQ(received, 1000u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 1000), Bytes(disk.begin() + 3 * 512, disk.begin() + 3 * 512 + 1000));
  EXPECT_EQ(Bytes(buffer.begin() + 1000, buffer.end()), Bytes(16, 0xEE));
  EXPECT_EQ(winblkStrategy(file.deviceData, DirectionWrite, 3, 512, buffer.data(), &received), EReadOnly);
  EXPECT_EQ(winblkStrategy(file.deviceData, DirectionRead, 2047, 1024, buffer.data(), &received), EIo);
  EXPECT_EQ(winblkStrategy(file.deviceData, DirectionRead, 0xFFFFFFFFu, 512, buffer.data(), &received), EIo);
  EXPECT_EQ(winblkIoctl(&file, 0, nullptr), EIo);
  winblkClose(&file);
}

// ---- the UFS reader and its file manager on makefs cards ----------------------------------

TEST_F(UfsTest, CatOfEveryBlockSizeAndLayoutGivesTheFileMakefsStored) {
  for (const auto& sizes : BlockSizes) {
    for (Layout layout : {Layout::CorvidLabel, Layout::Alternate, Layout::Whole}) {
      SCOPED_TRACE(std::to_string(sizes[0]) + " layout " + std::to_string(int(layout)));
      plugIn(disk(sizes[0], layout));
      debug_.clear();
      GzipFileManager files(&slot_, makeSource(&slot_, SourceType::Ufs));
      ASSERT_TRUE(files.setRoot(u"1:/"));
      EXPECT_EQ(debug_, layout == Layout::CorvidLabel ? u"start sector=0x3f\n"
                        : layout == Layout::Alternate ? u"invalid disklabel, start sector=0x3f\n"
                                                      : u"no CORVID partition, start sector=0x0\n");
      ASSERT_TRUE(files.open(u"corvid.gz"));
      EXPECT_EQ(readAll(files), cards().kernel);
      files.close();
      ASSERT_TRUE(files.open(u"big"));
      EXPECT_EQ(readAll(files, 100000), cards().big);
      files.close();
    }
  }
}

TEST_F(UfsTest, PathsLinksAndTheirFailures) {
  struct Case {
    const char* path;
    int error;
    const Bytes* content;  // null: a directory
  };
  const Bytes deep = file_test::text("deep file\n");
  const Case cases[] = {
      {"corvid", 0, &cards().kernel},         {"/corvid", 0, &cards().kernel},   {"//corvid", 0, &cards().kernel},
      {"dir/sub/deep", 0, &deep},             {"rel/deep", 0, &deep},            {"rel//deep/", 0, &deep},
      {"dir/abs", 0, &cards().kernel},        {"long", 0, &cards().kernel},      {"c1", 0, &cards().kernel},
      {"", 0, nullptr},                       {"///", 0, nullptr},               {"rel", 0, nullptr},
      {"c0", ENoEntry, nullptr},              {"missing", ENoEntry, nullptr},    {"dir/missing", ENoEntry, nullptr},
      {"corvid/x", ENotDirectory, nullptr},   {"dir/abs/x", ENotDirectory, nullptr},
  };
  for (const auto& sizes : BlockSizes) {
    plugIn(disk(sizes[0], Layout::CorvidLabel));
    OpenFile file;
    file.device = &winblkEntry;
    ASSERT_EQ(winblkOpen(&file, "DSK", 1, 0), 0);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(sizes[0]) + " " + c.path);
      const std::size_t blocks = handheld::heapBlocksInUse();
      ASSERT_EQ(ufsOpen(c.path, &file), c.error);
      if (c.error != 0) {
        EXPECT_EQ(file.fileSystemData, nullptr);
        EXPECT_EQ(handheld::heapBlocksInUse(), blocks);
        continue;
      }
      UfsStat status;
      ufsStat(&file, &status);
      if (!c.content) {
        EXPECT_EQ(status.mode & 0xF000, 0x4000u);
      } else {
        Bytes out(c.content->size() + 10);
        std::uint32_t remaining = 0;
        EXPECT_EQ(ufsRead(&file, out.data(), static_cast<std::uint32_t>(out.size()), &remaining), 0);
        EXPECT_EQ(remaining, 10u);
        out.resize(c.content->size());
        EXPECT_EQ(out, *c.content);
      }
      ufsClose(&file);
      EXPECT_EQ(handheld::heapBlocksInUse(), blocks);
    }
    winblkClose(&file);
  }
}

TEST_F(UfsTest, TheFileManagerReportsOpensAndReadsAsTheBootUsesThem) {
  plugIn(disk(8192, Layout::CorvidLabel), 2);
  UfsFileManager ufs(&slot_);
  EXPECT_EQ(console_.take(), u"FileManager: UFS\n");
  ASSERT_TRUE(ufs.setRoot(u"2:/anything"));
  ASSERT_TRUE(ufs.open(u"small"));
  EXPECT_EQ(console_.take(), u"open file \"small\" (1000 byte).\n");
  Bytes buffer(4096);
  EXPECT_EQ(ufs.read(buffer.data(), 4096, 0), 1000);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 1000), cards().small);
  EXPECT_EQ(ufs.read(buffer.data(), 10, FileManager::CurrentPosition), 0);
  EXPECT_EQ(ufs.read(buffer.data(), 10, 995), 5);
  EXPECT_EQ(ufs.write(buffer.data(), 10, 0), 0);
  // Offsets of 2 GiB and more lie beyond every file.
  EXPECT_EQ(ufs.read(buffer.data(), 10, 0x80000000u), 0);
  ufs.close();
  EXPECT_FALSE(ufs.open(u"nothing"));
  EXPECT_EQ(console_.take(), u"open file \"nothing\" failed.\n");
  // The roots: N: picks DSKN:, anything else DSK1: (which has no disk here).
  for (const char16_t* root : {u"/", u"0:/", u"12:/", u"1:/"}) {
    debug_.clear();
    EXPECT_FALSE(ufs.setRoot(root));
    EXPECT_EQ(debug_, u"can't open DSK1:.\n");
  }
  EXPECT_FALSE(ufs.open(u"small"));
  EXPECT_EQ(console_.take(), u"open file \"small\" failed.\n");
  ASSERT_TRUE(ufs.setRoot(u"2:/"));
  EXPECT_TRUE(ufs.open(u"/small"));
  // The disk is exclusive: a new root lets the old disk go, and so does the manager's end,
  // so the next boot attempt's manager can open it.
  EXPECT_FALSE(ufs.setRoot(u"/"));
  auto first = std::make_unique<UfsFileManager>(&slot_);
  ASSERT_TRUE(first->setRoot(u"2:/"));
  ASSERT_TRUE(first->open(u"small"));
  UfsFileManager next(&slot_);
  debug_.clear();
  EXPECT_FALSE(next.setRoot(u"2:/"));
  EXPECT_EQ(debug_, u"can't open DSK2:.\n");
  first.reset();
  EXPECT_TRUE(next.setRoot(u"2:/"));
  EXPECT_TRUE(next.open(u"small"));
}

TEST_F(UfsTest, ADiskWithoutCorvidPartitionIsReadFromSectorZero) {
  plugIn(disk(4096, Layout::Whole));
  UfsFileManager whole(&slot_);
  ASSERT_TRUE(whole.setRoot(u"/"));
  EXPECT_TRUE(whole.open(u"small"));
  plugIn(disk(4096, Layout::Other));  // the file system is in a partition of another type
  UfsFileManager other(&slot_);
  ASSERT_TRUE(other.setRoot(u"/"));
  console_.take();
  EXPECT_FALSE(other.open(u"small"));
  EXPECT_EQ(console_.take(), u"open file \"small\" failed.\n");
}

// ---- hostile file systems -----------------------------------------------------------------

class HostileUfsTest : public UfsTest {
 protected:
  // Opens `path` on a disk holding `image` at sector 0 (no MBR partition).
  int open(const Bytes& image, const char* path) {
    ufsClose(&file_);
    winblkClose(&file_);
    plugIn(image);
    file_.device = &winblkEntry;
    EXPECT_EQ(winblkOpen(&file_, "DSK", 1, 0), 0);
    blocks_ = handheld::heapBlocksInUse();
    const int error = ufsOpen(path, &file_);
    if (error != 0) {
      EXPECT_EQ(file_.fileSystemData, nullptr);
      EXPECT_EQ(handheld::heapBlocksInUse(), blocks_);
    }
    return error;
  }
  Bytes readOpen(std::uint32_t size) {
    Bytes out(size);
    std::uint32_t remaining = 0;
    ufsRead(&file_, out.data(), size, &remaining);
    out.resize(size - remaining);
    return out;
  }
  void TearDown() override {
    ufsClose(&file_);
    winblkClose(&file_);
  }
  OpenFile file_;
  std::size_t blocks_ = 0;
};

TEST_F(HostileUfsTest, SuperblocksThatCannotBeRightAreRefusedWith22) {
  const Bytes good = fileSystem(8192);
  ASSERT_EQ(open(good, "small"), 0);
  struct Patch {
    const char* what;
    std::uint32_t offset;
    std::uint32_t value;
  };
  const Patch patches[] = {
      {"magic", 1372, 0x011955},
      {"block size 2048", 48, 2048},
      {"block size 131072", 48, 131072},
      {"block size not a power of two", 48, 12288},
      {"block shift", 80, 12},
      {"fragment size", 52, 4096},
      {"fragment shift 4", 96, 4},
      {"fragment mask", 76, 0xFFFFF000},
      {"fragment-to-sector shift", 100, 3},
      {"addresses per indirect block 0", 116, 0},
      {"addresses per indirect block 3000", 116, 3000},
      {"addresses per indirect block 1024", 116, 1024},
      {"inodes per block 0", 120, 0},
      {"inodes per block 65", 120, 65},
      {"inodes per group 0", 184, 0},
      {"fragments per group 0", 188, 0},
      {"cylinder groups 0", 44, 0},
      {"longest inode link 61", 1320, 61},
  };
  for (const Patch& p : patches) {
    SCOPED_TRACE(p.what);
    Bytes bad = good;
    ce::putLe32(&bad[8192 + p.offset], p.value);
    EXPECT_EQ(open(bad, "small"), EInvalid);
  }
  Bytes shortPartition(good.begin(), good.begin() + 8192 + 4096);
  EXPECT_EQ(open(shortPartition, "small"), EIo);
}

TEST_F(HostileUfsTest, DirectoryEntriesAreCheckedAgainstTheirPiece) {
  const Bytes good = fileSystem(4096);
  const std::size_t small = entryNamed(good, "small");
  ASSERT_NE(small, 0u);
  ASSERT_EQ(open(good, "small"), 0);
  const std::uint16_t record = ce::getLe16(&good[small + 4]);
  struct Patch {
    const char* what;
    std::function<void(Bytes&)> change;
    int error;
  };
  const Patch patches[] = {
      {"record length not a multiple of 4", [&](Bytes& b) { ce::putLe16(&b[small + 4], record + 2); }, ENoEntry},
      {"record shorter than its entry", [&](Bytes& b) { ce::putLe16(&b[small + 4], 8); }, ENoEntry},
      {"record past the piece", [&](Bytes& b) { ce::putLe16(&b[small + 4], 0xFFFC); }, ENoEntry},
      {"name length past the record", [&](Bytes& b) {
         ce::putLe16(&b[small + 4], 12);
         b[small + 7] = 5;
       }, ENoEntry},
      {"inode number beyond the file system", [&](Bytes& b) { ce::putLe32(&b[small], 0x7FFFFFF0); }, EInvalid},
  };
  for (const Patch& p : patches) {
    SCOPED_TRACE(p.what);
    Bytes bad = good;
    p.change(bad);
    EXPECT_EQ(open(bad, "small"), p.error);
  }
}

TEST_F(HostileUfsTest, LinksMustFitThePathAndTheirBlock) {
  const Bytes good = fileSystem(4096);
  // The long link's inode: 86 bytes of text.
  const std::size_t link = [&] {
    for (std::size_t at = 16384; at + 128 <= good.size(); at += 128)
      if ((ce::getLe16(&good[at]) & 0xF000) == 0xA000 && ce::getLe32(&good[at + 8]) == 86) return at;
    return std::size_t{0};
  }();
  ASSERT_NE(link, 0u);
  ASSERT_EQ(open(good, "long"), 0);
  for (std::uint32_t size : {1025u, 5000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(size);
    Bytes bad = good;
    ce::putLe32(&bad[link + 8], size);
    EXPECT_EQ(open(bad, "long"), ENoEntry);
  }
  // With the rest of the path it no longer fits: 86 + 939 = 1025.
  const std::string rest = "/" + std::string(938, 'x');
  EXPECT_EQ(open(good, ("long" + rest).c_str()), ENoEntry);
  EXPECT_EQ(open(good, ("long/" + std::string(937, 'x')).c_str()), ENotDirectory);  // 1024 fits
}

TEST_F(HostileUfsTest, HolesHugeFilesAndTheOldDirectoryLayout) {
  Bytes image = fileSystem(4096);
  const std::size_t kernel = inodeOfSize(image, 300000);
  ASSERT_NE(kernel, 0u);
  // A hole in the second block and one in the single-indirect range.
  Bytes holes = image;
  ce::putLe32(&holes[kernel + 40 + 4], 0);
  ASSERT_EQ(open(holes, "corvid"), 0);
  Bytes expected = cards().kernel;
  std::fill(expected.begin() + 4096, expected.begin() + 8192, 0);
  EXPECT_EQ(readOpen(400000), expected);
  // 2 GiB or more: the low half is negative and the file reads as empty.
  Bytes huge = image;
  ce::putLe32(&huge[kernel + 8], 0x80000000u);
  ASSERT_EQ(open(huge, "corvid"), 0);
  EXPECT_EQ(readOpen(100).size(), 0u);
  // The old layout: name lengths at byte 6, links never in the inode.
  Bytes old = image;
  ce::putLe32(&old[8192 + 1320], 0);
  // Every 512-byte directory chunk of the three directories, from the one that begins with
  // "." on: each chunk is a chain of records that ends exactly at the chunk's end.
  auto chainOk = [&](std::size_t chunk) {
    std::size_t at = chunk;
    while (at < chunk + 512) {
      const std::uint16_t record = ce::getLe16(&old[at + 4]);
      if (record < 8 || record % 4) return false;
      at += record;
    }
    return at == chunk + 512;
  };
  std::set<std::size_t> chunks;
  for (const char* name : {"corvid", "sub", "deep"}) {
    std::size_t chunk = entryNamed(old, name) & ~std::size_t{511};
    while (chunk > 16384 && !(old[chunk + 7] == 1 && old[chunk + 8] == '.' && ce::getLe16(&old[chunk + 4]) == 12))
      chunk -= 512;
    for (; chainOk(chunk); chunk += 512) chunks.insert(chunk);
  }
  for (std::size_t chunk : chunks) {
    for (std::size_t at = chunk; at < chunk + 512; at += ce::getLe16(&old[at + 4])) {
      old[at + 6] = old[at + 7];
      old[at + 7] = 0;
    }
  }
  ASSERT_EQ(open(old, "dir/sub/deep"), 0);
  EXPECT_EQ(readOpen(100), file_test::text("deep file\n"));
  // The new layout's entry type at byte 6 read as a name length finds nothing.
  Bytes notOld = image;
  ce::putLe32(&notOld[8192 + 1320], 0);
  EXPECT_EQ(open(notOld, "corvid"), ENoEntry);
}

TEST_F(HostileUfsTest, AFailedAllocationFailsTheOpenAndReleasesEverything) {
  const Bytes image = fileSystem(4096);
  for (long n : {1L, 2L, 3L}) {
    SCOPED_TRACE(n);
    ufsClose(&file_);
    winblkClose(&file_);
    plugIn(image);
    file_.device = &winblkEntry;
    ASSERT_EQ(winblkOpen(&file_, "DSK", 1, 0), 0);
    const std::size_t blocks = handheld::heapBlocksInUse();
    handheld_.faults().heapFailAt = n;
    EXPECT_EQ(ufsOpen("small", &file_), ENoMemory);
    EXPECT_EQ(file_.fileSystemData, nullptr);
    EXPECT_EQ(handheld::heapBlocksInUse(), blocks);
    handheld_.faults().heapFailAt = 0;
  }
  EXPECT_EQ(ufsOpen("small", &file_), 0);
}

TEST_F(UfsTest, ABadSectorShortensTheReadAndNeverReadsAsData) {
  // A sector inside the file's fourth block (fragments of 512 bytes: fragment = sector).
  const Bytes image = fileSystem(4096);
  const std::uint32_t fourth = ce::getLe32(&image[inodeOfSize(image, 4600000) + 40 + 12]);
  plugIn(disk(4096, Layout::Whole), 1, "disk1_bad_sector = " + std::to_string(fourth + 3) + "\n");
  UfsFileManager ufs(&slot_);
  ASSERT_TRUE(ufs.setRoot(u"/"));
  ASSERT_TRUE(ufs.open(u"big"));
  const Bytes got = readAll(ufs);
  EXPECT_LT(got.size(), cards().big.size());
  EXPECT_TRUE(std::equal(got.begin(), got.end(), cards().big.begin()));
  ufs.close();
  // The last block of a short file is read only up to its last fragment: a bad sector right
  // behind the 1000-byte file's two fragments is never touched.
  const std::uint32_t small = ce::getLe32(&image[inodeOfSize(image, 1000) + 40]);
  plugIn(disk(4096, Layout::Whole), 1, "disk1_bad_sector = " + std::to_string(small + 2) + "\n");
  UfsFileManager again(&slot_);
  ASSERT_TRUE(again.setRoot(u"/"));
  ASSERT_TRUE(again.open(u"small"));
  EXPECT_EQ(readAll(again), cards().small);
}

}  // namespace
}  // namespace kestrel
