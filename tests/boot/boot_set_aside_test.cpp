// The chain never overwrites what it has yet to read: the memory manager hands out no page
// whose frame lies where the second stage will copy the kernel to, and commits more memory
// while pages are kept back. Shown on the hostile page order, which gives out exactly the
// frames under the kernel first.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/environment.h"
#include "boot/boot.h"
#include "boot/boot_sequence.h"
#include "boot/settings.h"
#include "load/loader.h"
#include "memory/lock_pages_memory_manager.h"
#include "platform/bytes.h"
#include "platform/handheld/physical_memory.h"
#include "platform/handheld/processor.h"
#include "tests/boot/boot_fixture.h"
#include "tests/kernel/probe_paths.h"

namespace kestrel::testing {
namespace {

constexpr std::uint32_t KernelBase = 0xC0200000;  // where the probe kernel is linked

bool inside(std::uint32_t page, const std::vector<AddressRange>& ranges) {
  for (const AddressRange& r : ranges) {
    if (std::uint64_t{page} + 4096 > r.start && page < std::uint64_t{r.start} + r.length) return true;
  }
  return false;
}

// A whole boot on the hostile handheld: no page the chain lives in is a destination of any
// of its links. Without the set-aside (the test-only switch) the same boot puts chain pages
// right under the kernel.
class SetAsideBootTest : public BootTest {
 protected:
  SetAsideBootTest() : BootTest({"Compaq iPAQ H3600", {"Storage Card"}, true, "page_order = hostile"}) {}

  void SetUp() override {
    BootTest::SetUp();
    std::ifstream in(probeKernelSa11x0, std::ios::binary);
    std::vector<std::uint8_t> kernel((std::istreambuf_iterator<char>(in)), {});
    handheld_.writeFile(u"\\Storage Card\\corvid", kernel);
    Settings& s = settings();
    setText(s.kernelDirectory, u"\\Storage Card\\");
    setText(s.kernelFile, u"corvid");
    s.platform = {0x0C108000, 0x01C40201};
    s.pauseBeforeBoot = 0;
    s.safetyMessage = 0;
  }

  struct Link {
    std::uint32_t at, next, source, destination, length;
  };
  // The chain as the second stage will find it in physical memory.
  std::vector<Link> chain() {
    std::vector<Link> links;
    std::uint32_t at = bootObject()->loader()->firstLinkAddress();
    while (at != 0xFFFFFFFFu && links.size() < 100000) {
      std::uint8_t raw[16];
      if (!handheld::physicalMemory().read(at, raw, 16)) break;
      links.push_back({at, ce::getLe32(raw), ce::getLe32(raw + 4), ce::getLe32(raw + 8), ce::getLe32(raw + 12)});
      at = links.back().next;
    }
    return links;
  }
  // Pages of the chain (its links and the data they copy) that a link writes over. Later
  // links may overwrite what earlier ones have read; a page is at risk only when a link
  // writes it before a later link reads it, but any overlap is counted here.
  int pagesOverwritten(const std::vector<Link>& links) {
    std::vector<AddressRange> written;
    for (const Link& l : links) written.push_back({l.destination, l.length});
    int count = 0;
    for (const Link& l : links) {
      if (inside(l.at & ~0xFFFu, written)) ++count;
      if (l.source != 0xFFFFFFFFu && inside(l.source & ~0xFFFu, written)) ++count;
    }
    return count;
  }
};

TEST_F(SetAsideBootTest, ChainPagesStayOutOfTheKernel) {
  bootObject();
  settings().runBoot();
  ASSERT_EQ(front_.boxesCaptioned(u"BOOT FAILED").size(), 1u);
  EXPECT_EQ(front_.boxesCaptioned(u"BOOT FAILED")[0].text, u"Can't jump to the kernel.\n");
  std::vector<Link> links = chain();
  ASSERT_GT(links.size(), 100u);
  EXPECT_EQ(pagesOverwritten(links), 0);
  EXPECT_GT(bootObject()->memoryManager()->setAsidePages(), 0u);
  EXPECT_NE(front_.console.find(u" pages under the kernel.\n"), std::u16string::npos);
  // The boot arguments, the second stage and its stack came from the top: out of it too.
  const auto& jump = handheld::processor().lastJump;
  ASSERT_TRUE(jump.has_value());
  std::vector<AddressRange> written;
  for (const Link& l : links) written.push_back({l.destination, l.length});
  EXPECT_FALSE(inside(jump->r[0] & ~0xFFFu, written));           // boot arguments
  EXPECT_FALSE(inside(jump->r[2] - 4096, written));              // the second stage's stack
  EXPECT_FALSE(inside(jump->r[3], written));                     // the second stage
}

TEST_F(SetAsideBootTest, WithoutItTheChainSitsUnderTheKernel) {
  bootObject()->setSetAsideEnabled(false);
  settings().runBoot();
  EXPECT_EQ(front_.console.find(u"pages under the kernel"), std::u16string::npos);
  EXPECT_GT(pagesOverwritten(chain()), 100);
}

}  // namespace
}  // namespace kestrel::testing
