// `kestrel cat` run as a program: what it writes must be what gzip -dc (or cat, for plain
// files) writes, and damage of any kind must end it with a non-zero status.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/file/file_test_support.h"
#include "tests/file/ufs_disk.h"
#include "tests/support/handheld_fixture.h"

namespace fs = std::filesystem;

namespace kestrel {
namespace {

using file_test::Bytes;
using file_test::quoted;
using file_test::run;

struct Outcome {
  int status;
  Bytes out;
  std::string err;
};

class CatTest : public ::testing::Test {
 protected:
  // Puts `bytes` on the card as `name` and runs kestrel cat on it.
  Outcome cat(const std::string& name, const Bytes& bytes, const std::string& extra = "") {
    file_test::writeBytes(handheld_.dir() / "Storage Card" / name, bytes);
    return kestrel("--dir '\\Storage Card\\' " + extra + " " + name);
  }

  Outcome kestrel(const std::string& arguments) {
    const auto out = scratch_ / "out", err = scratch_ / "err";
    const std::string command = "env -u KESTREL_HANDHELD " + quoted(KESTREL_PROGRAM) + " cat --handheld " +
                                quoted(handheld_.dir()) + " " + arguments + " > " + quoted(out) + " 2> " + quoted(err);
    Outcome o{run(command), file_test::readBytes(out), {}};
    const Bytes e = file_test::readBytes(err);
    o.err.assign(e.begin(), e.end());
    return o;
  }

  // What a reference tool writes for `bytes`, e.g. "gzip -dc IN" or "cat IN".
  Bytes reference(const std::string& tool, const Bytes& bytes) {
    return file_test::compressWith(tool + " > OUT", bytes, scratch_);
  }

  kestrel_testing::TempHandheld handheld_;
  file_test::ScratchDir scratch_;
};

TEST_F(CatTest, DeliversWhatGzipDeliversForEveryToolMadeFile) {
  const Bytes content = file_test::kernelLike(300000, 21), more = file_test::kernelLike(77777, 22);
  const Bytes gzipN = file_test::compressWith("gzip -n -c IN > OUT", content, scratch_);
  const Bytes members = file_test::concat(gzipN, file_test::compressWith("gzip -1 -n -c IN > OUT", more, scratch_));
  const std::pair<const char*, Bytes> inputs[] = {
      {"plain.gz", gzipN},
      {"named.gz", file_test::compressWith("gzip -c IN > OUT", content, scratch_)},
      {"pigz.gz", file_test::compressWith("pigz -N -C 'corvid kernel' -c IN > OUT", content, scratch_)},
      {"extra.gz", file_test::zlibGzip(content, {"KE\x04\x01" "boot", "corvid", "", true})},
      {"members.gz", members},
  };
  for (const auto& [name, file] : inputs) {
    SCOPED_TRACE(name);
    const Bytes expected = reference("gzip -dc IN", file);
    ASSERT_FALSE(expected.empty());
    const Outcome o = cat(name, file);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(o.out == expected) << o.out.size() << " bytes, gzip -dc gives " << expected.size();
    EXPECT_NE(o.err.find("FileManager: FAT\n"), std::string::npos);
    const Outcome size = cat(name, file, "--size");
    EXPECT_EQ(size.status, 0);
    EXPECT_EQ(std::string(size.out.begin(), size.out.end()), std::to_string(expected.size()) + "\n");
  }
}

TEST_F(CatTest, PassesPlainFilesAndPlainBytesAfterAMemberThrough) {
  const Bytes content = file_test::kernelLike(100000, 23);
  const Bytes tail = file_test::text("\x1f" "followed by plain text\n");
  const Bytes member = file_test::compressWith("gzip -n -c IN > OUT", content, scratch_);
  const std::pair<const char*, Bytes> plain[] = {
      {"kernel", content}, {"one", Bytes{0x1F}}, {"empty", Bytes()}, {"magic-and-other", Bytes{0x1F, 0x8C, 0x08}},
  };
  for (const auto& [name, file] : plain) {
    SCOPED_TRACE(name);
    const Outcome o = cat(name, file);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, reference("cat IN", file));
  }
  const Outcome o = cat("tail.gz", file_test::concat(member, tail));
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, file_test::concat(reference("gzip -dc IN", member), reference("cat IN", tail)));
}

TEST_F(CatTest, FailsOnEveryDamagedOrTruncatedFile) {
  const Bytes content = file_test::kernelLike(200000, 24);
  const Bytes good = file_test::compressWith("gzip -n -c IN > OUT", content, scratch_);
  const std::size_t n = good.size();
  auto changed = [&](std::size_t at, std::uint8_t bits) {
    Bytes b = good;
    b[at] ^= bits;
    return b;
  };
  const std::pair<std::string, Bytes> damaged[] = {
      {"cut in the deflate data", Bytes(good.begin(), good.begin() + n / 2)},
      {"cut before the trailer", Bytes(good.begin(), good.end() - 8)},
      {"cut in the CRC", Bytes(good.begin(), good.end() - 6)},
      {"cut in the length", Bytes(good.begin(), good.end() - 1)},
      {"cut in the header", Bytes(good.begin(), good.begin() + 7)},
      {"wrong CRC", changed(n - 7, 0x01)},
      {"wrong length", changed(n - 4, 0x01)},
      {"reserved flag", changed(3, 0x20)},
      {"second member cut", file_test::concat(good, Bytes(good.begin(), good.begin() + 100))},
  };
  for (const auto& [what, file] : damaged) {
    SCOPED_TRACE(what);
    const Outcome o = cat("bad.gz", file);
    EXPECT_NE(o.status, 0);
    EXPECT_TRUE(o.out.size() <= content.size() && std::equal(o.out.begin(), o.out.end(), content.begin()));
    EXPECT_NE(cat("bad.gz", file, "--size").status, 0);
    // gzip agrees that each of these is damaged.
    file_test::writeBytes(scratch_ / "bad.gz", file);
    EXPECT_NE(run("gzip -t " + quoted(scratch_ / "bad.gz") + " 2>/dev/null"), 0);
  }
}

TEST_F(CatTest, FailsWhenTheRootOrTheFileCannotBeOpened) {
  const Outcome missing = kestrel("--dir '\\Storage Card\\' corvid.gz");
  EXPECT_NE(missing.status, 0);
  EXPECT_TRUE(missing.out.empty());
  EXPECT_NE(missing.err.find("can't open \"\\Storage Card\\corvid.gz\". cause = 2\n"), std::string::npos) << missing.err;
  // Nothing listens on port 1: the HTTP source's test connection fails.
  const Outcome http = kestrel("--dir http://127.0.0.1:1/ corvid.gz");
  EXPECT_NE(http.status, 0);
  EXPECT_NE(http.err.find("FileManager: HTTP\n127.0.0.1 can't connect server.\n"), std::string::npos) << http.err;
}

// The UFS source: the gzip kernel that makefs put on a card comes back as gzip -dc gives it,
// for each block size, through a 0xA9 partition with a disk label, a 0xA5 partition and a
// disk without partitions; a unit without a disk fails at the root.
TEST_F(CatTest, ReadsTheKernelMakefsPutOnACard) {
  const Bytes content = file_test::kernelLike(700000, 31);
  fs::create_directories(scratch_ / "tree");
  file_test::writeBytes(scratch_ / "tree" / "corvid.gz", file_test::compressWith("gzip -9 -n -c IN > OUT", content, scratch_));
  const Bytes expected = reference("gzip -dc IN", file_test::readBytes(scratch_ / "tree" / "corvid.gz"));
  ASSERT_EQ(expected, content);
  const std::pair<ufs_test::Layout, const char*> layouts[] = {
      {ufs_test::Layout::CorvidLabel, "0xA9 with label"}, {ufs_test::Layout::Alternate, "0xA5"},
      {ufs_test::Layout::Whole, "no partition"}};
  for (const auto& [block, fragment] : {std::pair{4096u, 512u}, {8192u, 1024u}, {16384u, 2048u}}) {
    const fs::path image = scratch_ / ("fs-" + std::to_string(block));
    ASSERT_EQ(ufs_test::makeFileSystem(scratch_ / "tree", image, block, fragment), "");
    for (const auto& [layout, what] : layouts) {
      SCOPED_TRACE(std::to_string(block) + ", " + what);
      ASSERT_EQ(ufs_test::makeDisk(image, handheld_.dir() / "disk1.img", layout), "");
      handheld_.reconfigure("disk1 = disk1.img\n");
      const Outcome o = kestrel("--dir 1:/ corvid.gz");
      EXPECT_EQ(o.status, 0) << o.err;
      EXPECT_TRUE(o.out == expected) << o.out.size() << " bytes";
      EXPECT_EQ(o.err, "FileManager: UFS\nopen file \"corvid.gz\" (" +
                           std::to_string(fs::file_size(scratch_ / "tree" / "corvid.gz")) + " byte).\n");
    }
  }
  // A plain file with an unreadable sector in it: what came before it, and a failure.
  file_test::writeBytes(scratch_ / "tree" / "corvid", content);
  const fs::path image = scratch_ / "fs-plain";
  ASSERT_EQ(ufs_test::makeFileSystem(scratch_ / "tree", image, 4096, 512), "");
  ASSERT_EQ(ufs_test::makeDisk(image, handheld_.dir() / "disk1.img", ufs_test::Layout::Whole), "");
  const Bytes disk = file_test::readBytes(handheld_.dir() / "disk1.img");
  const auto at = std::search(disk.begin(), disk.end(), content.begin() + 81920, content.begin() + 86016);
  ASSERT_NE(at, disk.end());
  handheld_.reconfigure("disk1 = disk1.img\ndisk1_bad_sector = " + std::to_string((at - disk.begin()) / 512 + 1) + "\n");
  const Outcome bad = kestrel("--dir 1:/ corvid");
  EXPECT_NE(bad.status, 0);
  EXPECT_LT(bad.out.size(), content.size());
  EXPECT_TRUE(std::equal(bad.out.begin(), bad.out.end(), content.begin()));
  EXPECT_NE(bad.err.find("cat: read error at offset "), std::string::npos) << bad.err;
  const Outcome none = kestrel("--dir 3:/ corvid.gz");
  EXPECT_NE(none.status, 0);
  EXPECT_NE(none.err.find("cat: can't set root directory"), std::string::npos) << none.err;
}

}  // namespace
}  // namespace kestrel
