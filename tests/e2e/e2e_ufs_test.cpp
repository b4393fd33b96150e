// Booting from a storage card's UFS partition: the probe kernel (plain or gzip) and an md
// image on a file system made by makefs, in a 0xA9 partition with a disk label behind DSK1:
// (`--dir 1:/`) or at the start of the disk behind DSK2: (`--dir 2:/`), booted in
// qemu-system-arm on an SA-11x0 and a PXA-2x0 board. A bad sector inside the kernel fails the
// boot before the jump.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/e2e/e2e_support.h"
#include "tests/file/ufs_disk.h"

namespace fs = std::filesystem;

namespace kestrel::e2e {
namespace {

using ufs_test::Layout;

struct UfsCard {
  bool ok = false;
  std::uint32_t kernelSector = 0;  // the first sector of the kernel's data on the disk
};

// Moves the card's files into a file system of a disk behind DSKunit: and removes them from
// the card, so the boot can only have read them from the disk.
UfsCard moveCardToDisk(const Handheld& handheld, int unit, Layout layout) {
  UfsCard card;
  const fs::path tree = handheld.dir() / "ufs-tree";
  fs::create_directories(tree);
  for (const auto& entry : fs::directory_iterator(handheld.dir() / "Storage Card")) {
    const std::string name = entry.path().filename().string();
    if (name == "kestrel.cnf") continue;
    fs::copy_file(entry.path(), tree / name);
    fs::remove(entry.path());
  }
  const fs::path image = handheld.dir() / "ufs.img";
  const std::string disk = "disk" + std::to_string(unit) + ".img";
  std::string made = ufs_test::makeFileSystem(tree, image, 4096, 512);
  if (made.empty()) made = ufs_test::makeDisk(image, handheld.dir() / disk, layout);
  if (!made.empty()) {
    ADD_FAILURE() << made;
    return card;
  }
  std::ofstream ini(handheld.dir() / "handheld.ini", std::ios::app);
  ini << "disk" << unit << " = " << disk << "\n";
  card.ok = true;
  return card;
}

struct UfsBoot {
  std::string name;
  HandheldSetup setup;
  int unit;
  Layout layout;
};

class UfsQemuBootTest : public ::testing::TestWithParam<UfsBoot> {};

TEST_P(UfsQemuBootTest, ProbeKernelReportsSuccess) {
  const UfsBoot& c = GetParam();
  Handheld handheld(c.setup);
  ASSERT_TRUE(handheld.ready());
  ASSERT_TRUE(moveCardToDisk(handheld, c.unit, c.layout).ok);
  const std::string dir = std::to_string(c.unit) + ":/";
  CommandResult run = handheld.boot({"--dir", dir, "--run", "qemu", "--timeout", "60"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("FileManager: UFS\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find(c.setup.kernel == Kernel::Gzip ? "open file \"corvid.gz\" (" : "open file \"corvid\" ("),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("probe: all checks passed\n"), std::string::npos) << probeReport(run.output);
  EXPECT_NE(run.output.find(c.setup.image ? "probe: image: ok" : "probe: image: none"), std::string::npos)
      << probeReport(run.output);
}

std::vector<UfsBoot> boots() {
  std::vector<UfsBoot> out;
  for (const auto& [tag, platform] : {std::pair{"Sa1110", "Compaq iPAQ H3600"}, {"Pxa255", "Compaq iPAQ H3900"},
                                      {"Pxa270", "Sharp W-ZERO3 (WS003SH)"}}) {
    out.push_back({std::string(tag) + "_Plain", {platform, "shuffle:7", Kernel::Plain, false, false}, 1,
                   Layout::CorvidLabel});
    out.push_back({std::string(tag) + "_Gzip_Image", {platform, "hostile", Kernel::Gzip, true, true}, 1,
                   Layout::CorvidLabel});
    out.push_back({std::string(tag) + "_Disk2_NoPartition", {platform, "sequential", Kernel::Gzip, true, false}, 2,
                   Layout::Whole});
  }
  return out;
}

void PrintTo(const UfsBoot& c, std::ostream* os) { *os << c.name; }

INSTANTIATE_TEST_SUITE_P(Cards, UfsQemuBootTest, ::testing::ValuesIn(boots()),
                         [](const ::testing::TestParamInfo<UfsBoot>& info) { return info.param.name; });

// A sector of the kernel that cannot be read: the read comes up short and the boot stops at
// the load, never jumping into a kernel with a gap.
TEST(UfsBoot, ABadSectorInsideTheKernelFailsTheLoad) {
  Handheld handheld({"Compaq iPAQ H3600", "sequential", Kernel::Plain, false, false});
  ASSERT_TRUE(handheld.ready());
  ASSERT_TRUE(moveCardToDisk(handheld, 1, Layout::Whole).ok);
  // The kernel is the file system's only big file: its blocks follow the metadata. Find its
  // fourth block by its bytes.
  std::ifstream probe(probeKernelFor("Compaq iPAQ H3600"), std::ios::binary);
  std::string kernel((std::istreambuf_iterator<char>(probe)), std::istreambuf_iterator<char>());
  std::ifstream diskIn(handheld.dir() / "disk1.img", std::ios::binary);
  std::string disk((std::istreambuf_iterator<char>(diskIn)), std::istreambuf_iterator<char>());
  ASSERT_GT(kernel.size(), 5 * 4096u);
  const std::size_t at = disk.find(kernel.substr(3 * 4096, 4096));
  ASSERT_NE(at, std::string::npos);
  {
    std::ofstream ini(handheld.dir() / "handheld.ini", std::ios::app);
    ini << "disk1_bad_sector = " << at / 512 + 2 << "\n";
  }
  CommandResult run = handheld.boot({"--dir", "1:/", "--kernel", "corvid", "--run", "qemu", "--timeout", "20"});
  EXPECT_NE(run.status, 0);
  EXPECT_NE(run.output.find("Can't load kernel image to memory."), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("probe: "), std::string::npos) << run.output;
}

// A disk the loader cannot use stops the boot at the root, before anything is loaded.
TEST(UfsBoot, AnUnusableDiskFailsAtTheRoot) {
  Handheld handheld({"Compaq iPAQ H3600", "sequential", Kernel::Gzip, false, false});
  ASSERT_TRUE(handheld.ready());
  ASSERT_TRUE(moveCardToDisk(handheld, 1, Layout::CorvidLabel).ok);
  const std::string ini = (handheld.dir() / "handheld.ini").string();
  const std::pair<const char*, const char*> cases[] = {
      {"no disk behind DSK3:", nullptr},
      {"2048-byte sectors", "disk1_bytes_per_sector = 2048\n"},
      {"no MBR flag", "disk1_flags = 0\n"},
  };
  for (const auto& [what, line] : cases) {
    SCOPED_TRACE(what);
    std::string dir = "1:/";
    if (line) {
      std::ofstream(ini, std::ios::app) << line;
    } else {
      dir = "3:/";
    }
    CommandResult run = handheld.boot({"--dir", dir, "--run", "none"});
    EXPECT_EQ(run.status, 2) << run.output;
    EXPECT_NE(run.output.find("Can't set root directory."), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("open file"), std::string::npos) << run.output;
  }
}

}  // namespace
}  // namespace kestrel::e2e
