// The page chain the loader records, read back through the handheld's physical memory.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "file/gzip_file_manager.h"
#include "load/loader.h"
#include "memory/lock_pages_memory_manager.h"
#include "platform/handheld/physical_memory.h"
#include "tests/load/load_test_support.h"
#include "tests/support/gzip_writer.h"

namespace kestrel {
namespace {

using load_test::Bytes;
using load_test::Link;
using load_test::MemoryFile;
using load_test::walkChain;

constexpr std::uint32_t Payload = 4080;

// The chain machinery on its own, driven the way a format loader drives it.
class ChainLoader : public Loader {
 public:
  using Loader::beginChain;
  using Loader::Loader;
  using Loader::loadBuffer;
  using Loader::loadRegion;
  std::uint32_t memorySize() override { return 0; }
  bool load() override { return !failed(); }
  std::uint32_t entryAddress() override { return 0; }
};

Bytes pattern(std::size_t n, std::uint32_t seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
  return b;
}

class ChainTest : public load_test::LoadTest {
 protected:
  ChainTest() : LoadTest("shuffle:5") { newMemoryManager(); }
  void reserve(std::uint32_t bytes) {
    ASSERT_TRUE(manager_->reservePages(bytes));
    console_.take();
  }
  // A loader reading `file`.
  std::unique_ptr<ChainLoader> loader(FileManager* file) {
    file_ = file;
    auto l = std::make_unique<ChainLoader>(&consolePointer_, &memoryPointer_);
    l->setFile(&file_);
    return l;
  }
  Bytes physical(std::uint32_t address, std::uint32_t length) {
    Bytes b(length);
    EXPECT_TRUE(handheld::physicalMemory().read(address, b.data(), length));
    return b;
  }

  FileManager* file_ = nullptr;
};

struct Region {
  std::uint32_t destination, memorySize, fileOffset, fileSize;
};
struct Expected {
  bool zero;
  std::uint32_t destination, length, fileOffset;
};
Expected load(std::uint32_t d, std::uint32_t n, std::uint32_t off) { return {false, d, n, off}; }
Expected zero(std::uint32_t d, std::uint32_t n) { return {true, d, n, 0}; }

TEST_F(ChainTest, RegionsBecomeLinksInRecordingOrder) {
  struct Case {
    const char* name;
    std::vector<Region> regions;
    std::vector<Expected> links;
  };
  const std::uint32_t K = 0xC0200000;
  const Case cases[] = {
      {"two payloads and a remainder, then the rest cleared",
       {{K, 3 * Payload, 0x40, 2 * Payload + 100}},
       {load(K, Payload, 0x40), load(K + Payload, Payload, 0x40 + Payload), load(K + 2 * Payload, 100, 0x40 + 2 * Payload),
        zero(K + 2 * Payload + 100, Payload - 100)}},
      {"an exact multiple of the payload has no remainder piece",
       {{K, 2 * Payload, 0, 2 * Payload}},
       {load(K, Payload, 0), load(K + Payload, Payload, Payload)}},
      {"nothing from the file: a clear alone", {{K, 0x1000, 0x123, 0}}, {zero(K, 0x1000)}},
      {"several regions, loads and clears interleaved",
       {{K, 0x3000, 0, 0x2100}, {K + 0x10000, 0x800, 0, 0}, {K + 0x20000, 0x10, 0x2100, 0x10}},
       {load(K, Payload, 0), load(K + Payload, Payload, Payload), load(K + 2 * Payload, 0x2100 - 2 * Payload, 2 * Payload),
        zero(K + 0x2100, 0xF00), zero(K + 0x10000, 0x800), load(K + 0x20000, 0x10, 0x2100)}},
  };
  const Bytes content = pattern(0x4000, 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    newMemoryManager();
    reserve(64 * 4096);
    MemoryFile file(&consolePointer_, content);
    auto l = loader(&file);
    l->beginChain();
    for (const Region& r : c.regions) l->loadRegion(r.destination, r.memorySize, r.fileOffset, r.fileSize);
    l->finishChain();
    EXPECT_FALSE(l->failed());

    const std::vector<Link> chain = walkChain(l->firstLinkAddress());
    ASSERT_EQ(chain.size(), c.links.size());
    int loads = 0, zeros = 0;
    std::set<std::uint32_t> visited;
    for (std::size_t i = 0; i < chain.size(); ++i) {
      SCOPED_TRACE(i);
      const Link& got = chain[i];
      const Expected& want = c.links[i];
      EXPECT_TRUE(visited.insert(got.at).second);
      EXPECT_EQ(got.zero(), want.zero);
      EXPECT_EQ(got.destination, want.destination);
      EXPECT_EQ(got.length, want.length);
      if (want.zero) {
        ++zeros;
        // The link after a clear comes from the first page's pool.
        if (i + 1 < chain.size()) {
          EXPECT_EQ(got.next & ~0xFFFu, l->firstLinkAddress());
        }
      } else {
        ++loads;
        // A piece starts 16 bytes into its page, and the link before it names that page's link.
        EXPECT_EQ(got.source % 4096, 16u);
        if (i + 1 < chain.size()) {
          EXPECT_EQ(got.next, got.source - 16);
        }
        EXPECT_EQ(physical(got.source, got.length),
                  Bytes(content.begin() + want.fileOffset, content.begin() + want.fileOffset + want.length));
      }
    }
    EXPECT_EQ(l->loadLinkCount(), loads);
    EXPECT_EQ(l->zeroLinkCount(), zeros);
    const std::u16string printed = console_.take();
    EXPECT_NE(printed.find(u"load link " + std::u16string(1, u'0' + loads) + u", zero clear link " +
                           std::u16string(1, u'0' + zeros) + u"\n"),
              std::u16string::npos)
        << std::string(printed.begin(), printed.end());
  }
}

TEST_F(ChainTest, RegionLinesShowWhatIsLoadedAndCleared) {
  reserve(8 * 4096);
  MemoryFile file(&consolePointer_, pattern(0x3000, 2));
  auto l = loader(&file);
  l->beginChain();
  l->loadRegion(0xC0303000, 0x15000, 0x104000 - 0x103000, 0x1000);
  l->loadRegion(0xC0318000, 0x10, 0, 0x10);
  l->finishChain();
  EXPECT_EQ(console_.text,
            u"\t->load 0xc0303000+0x00015000=0xc0318000 ofs=0x00001000+0x1000\n"
            u"\t->zero 0xc0304000+0x00014000=0xc0318000\n"
            u"\t->load 0xc0318000+0x00000010=0xc0318010 ofs=0x00000000+0x10\n"
            u"load link 3, zero clear link 1\n");
  EXPECT_EQ(l->end(), 0xC0318010u);
}

TEST_F(ChainTest, BuffersAreCopiedInPayloadPieces) {
  reserve(8 * 4096);
  const Bytes block = pattern(Payload + 52, 3);
  auto l = loader(nullptr);
  l->beginChain();
  l->loadBuffer(0xC0318000, static_cast<std::uint32_t>(block.size()), block.data());
  l->finishChain();
  EXPECT_EQ(console_.text, u"\t->load 0xc0318000+0x00001024=0xc0319024\nload link 2, zero clear link 0\n");
  const std::vector<Link> chain = walkChain(l->firstLinkAddress());
  ASSERT_EQ(chain.size(), 2u);
  EXPECT_EQ(physical(chain[0].source, Payload), Bytes(block.begin(), block.begin() + Payload));
  EXPECT_EQ(chain[1].destination, 0xC0318000u + Payload);
  EXPECT_EQ(physical(chain[1].source, 52), Bytes(block.begin() + Payload, block.end()));
  EXPECT_EQ(l->end(), 0xC0319024u);
}

TEST_F(ChainTest, ImageGoesToTheNext4096BoundaryWithItsDecompressedSize) {
  reserve(64 * 4096);
  const Bytes kernel = pattern(0x100, 4);
  const Bytes image = pattern(3 * Payload + 1000, 5);
  MemoryFile kernelFile(&consolePointer_, kernel);
  auto l = loader(&kernelFile);
  l->beginChain();
  l->loadRegion(0xC0200000, 0x1234, 0, 0x100);  // ends at 0xC0201234

  // The image, gzip-compressed: what is loaded is what read delivers, not the stored size.
  auto gzip = std::make_unique<GzipFileManager>(
      &consolePointer_, std::make_unique<MemoryFile>(&consolePointer_, kestrel_testing::zlibGzip(image)));
  ASSERT_TRUE(gzip->open(u"miniroot.fs"));
  ASSERT_LT(gzip->size(), image.size());
  file_ = gzip.get();
  l->setFile(&file_);
  console_.take();
  ASSERT_TRUE(l->loadImage());
  l->finishChain();
  EXPECT_EQ(console_.take(),
            u"[file system image]\n\t->load 0xc0202000+0x000033b8=0xc02053b8 ofs=0x00000000+0x33b8\n"
            u"load link 5, zero clear link 1\n");

  const std::vector<Link> chain = walkChain(l->firstLinkAddress());
  ASSERT_EQ(chain.size(), 6u);  // kernel piece, kernel clear, four image pieces
  load_test::Replay replay(chain);
  EXPECT_TRUE(replay.covered(0xC0202000, static_cast<std::uint32_t>(image.size())));
  EXPECT_EQ(replay.bytes(0xC0202000, static_cast<std::uint32_t>(image.size())), image);
  EXPECT_EQ(replay.high(), 0xC0202000u + image.size());
}

TEST_F(ChainTest, ShortOrFailedReadsFailTheLoad) {
  struct Case {
    const char* name;
    bool image, failHard;
    const char16_t* printed;
  };
  const Case cases[] = {
      {"kernel, short", false, false, u"can't read kernel image.\n"},
      {"kernel, error", false, true, u"can't read kernel image.\n"},
      {"image, short", true, false, u"can't read file system image.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    newMemoryManager();
    reserve(16 * 4096);
    MemoryFile file(&consolePointer_, pattern(4 * Payload, 6));
    file.shortFrom = Payload + 10;  // the second piece comes short
    file.failHard = c.failHard;
    auto l = loader(&file);
    l->beginChain();
    bool ok;
    if (c.image) {
      ok = l->loadImage();
    } else {
      l->loadRegion(0xC0200000, 4 * Payload + 0x100, 0, 4 * Payload);
      ok = l->load();
    }
    EXPECT_FALSE(ok);
    const std::u16string printed = console_.take();
    EXPECT_NE(printed.find(c.printed), std::u16string::npos) << std::string(printed.begin(), printed.end());
    EXPECT_EQ(printed.find(u"->zero"), std::u16string::npos);  // nothing recorded after the failure
    EXPECT_EQ(l->loadLinkCount(), 1);
  }
}

TEST_F(ChainTest, RunningOutOfPagesFailsTheLoad) {
  reserve(3 * 4096);
  MemoryFile file(&consolePointer_, pattern(4 * Payload, 7));
  auto l = loader(&file);
  l->beginChain();
  l->loadRegion(0xC0200000, 4 * Payload, 0, 4 * Payload);
  EXPECT_FALSE(l->load());
  EXPECT_NE(console_.take().find(u"page insufficient.\n"), std::u16string::npos);
  EXPECT_EQ(l->loadLinkCount(), 2);
  l->finishChain();
  EXPECT_EQ(walkChain(l->firstLinkAddress()).size(), 2u);
}

TEST_F(ChainTest, ClearLinksBeyondTheFirstPoolGoToAFurtherPageFromTheFront) {
  reserve(8 * 4096);
  auto l = loader(nullptr);
  l->beginChain();
  const int regions = 300;  // the first page holds 255
  for (int i = 0; i < regions; ++i) l->loadRegion(0xC0200000 + i * 0x100, 0x80, 0, 0);
  l->finishChain();
  EXPECT_NE(console_.take().find(u"load link 0, zero clear link 300\n"), std::u16string::npos);

  const std::vector<Link> chain = walkChain(l->firstLinkAddress());
  ASSERT_EQ(chain.size(), static_cast<std::size_t>(regions));
  const std::uint32_t firstPage = l->firstLinkAddress();
  const std::uint32_t secondPool = manager_->translationTable()[1].physicalAddress;
  for (int i = 0; i < regions; ++i) {
    EXPECT_TRUE(chain[i].zero());
    EXPECT_EQ(chain[i].destination, 0xC0200000u + i * 0x100) << i;
    EXPECT_EQ(chain[i].length, 0x80u);
    // The first link, the 255 links of the first pool, then the whole next page.
    EXPECT_EQ(chain[i].at, i < 256 ? firstPage + 16 * i : secondPool + 16 * (i - 256)) << i;
  }
}

TEST_F(ChainTest, AChainWithNothingRecordedIsTheFirstLinkAloneEnded) {
  reserve(4096);
  auto l = loader(nullptr);
  l->beginChain();
  l->finishChain();
  EXPECT_EQ(console_.text, u"load link 0, zero clear link 0\n");
  const std::vector<Link> chain = walkChain(l->firstLinkAddress());
  ASSERT_EQ(chain.size(), 1u);
  EXPECT_EQ(chain[0].next, 0xFFFFFFFFu);
  EXPECT_EQ(chain[0].source, 0xFFFFFFFFu);
  EXPECT_EQ(chain[0].length, 0u);
}

TEST_F(ChainTest, ElfFilesAreKnownByTheirMagic) {
  struct Case {
    Bytes content;
    bool elf;
  };
  Bytes elf(52, 0);
  elf[0] = 0x7F, elf[1] = 'E', elf[2] = 'L', elf[3] = 'F';
  Bytes almost = elf;
  almost[3] = 'G';
  const Case cases[] = {{elf, true}, {Bytes(elf.begin(), elf.begin() + 4), true}, {almost, false},
                        {Bytes(elf.begin(), elf.begin() + 3), false}, {{}, false}};
  for (const Case& c : cases) {
    MemoryFile file(&consolePointer_, c.content);
    EXPECT_EQ(Loader::isElfFile(file), c.elf) << c.content.size();
  }
}

}  // namespace
}  // namespace kestrel
