// The chain check of a hand-off image (kestrel handoff verify and the QEMU runner's preflight),
// on small hand-made machines.
#include <gtest/gtest.h>

#include "handoff/qemu_image.h"

namespace kestrel::handoff {
namespace {

// A machine with frames at 0xC0000000..0xC0005FFF; the argument block at 0xC0005000 and the
// 2nd bootloader page at 0xC0004000.
HandoffImage machine(handheld::Family family = handheld::Family::SA11x0) {
  HandoffImage image;
  image.family = family;
  image.processor = family == handheld::Family::PXA2x0 ? "PXA270" : "SA-1110";
  for (std::uint32_t page = 0; page < 6; ++page) image.memory.frameAt(0xC0000000 + page * FrameSize);
  image.r[0] = 0xC0005000;
  image.r[1] = 0xC0000000;
  image.r[2] = 0xC0006000;
  image.r[3] = 0xC0004000;
  image.memory.write32(0xC0005000, 0xC0200000);  // entry
  return image;
}

void link(HandoffImage& image, std::uint32_t at, std::uint32_t next, std::uint32_t source, std::uint32_t destination,
          std::uint32_t length) {
  image.memory.write32(at, next);
  image.memory.write32(at + 4, source);
  image.memory.write32(at + 8, destination);
  image.memory.write32(at + 12, length);
}

TEST(ChainCheck, CountsTheLinksAndFindsNoOverlapWhereDestinationsAreClear) {
  HandoffImage image = machine();
  link(image, 0xC0000000, 0xC0001000, 0xC0001010, 0xC0200000, 4080);
  link(image, 0xC0001000, 0xC0000010, 0xC0002010, 0xC0200FF0, 100);
  link(image, 0xC0000010, 0xFFFFFFFF, 0xFFFFFFFF, 0xC0201054, 8);
  ChainCheck check = checkChain(image);
  EXPECT_TRUE(check.complete);
  EXPECT_TRUE(check.errors.empty());
  EXPECT_EQ(check.links, 3u);
  EXPECT_EQ(check.loadLinks, 2u);
  EXPECT_EQ(check.zeroLinks, 1u);
  EXPECT_EQ(check.loadBytes, 4180u);
  EXPECT_EQ(check.zeroBytes, 8u);
  EXPECT_EQ(check.lowest, 0xC0200000u);
  EXPECT_EQ(check.highest, 0xC020105Bu);
  EXPECT_EQ(check.entry, 0xC0200000u);
  EXPECT_EQ(check.overlapCount, 0u);
}

TEST(ChainCheck, ReportsDestinationsOverPagesStillToBeRead) {
  HandoffImage image = machine();
  // Link 0 writes over the page of link 1 and of its source; link 1 writes over the argument
  // block; link 2 over the 2nd bootloader's page.
  link(image, 0xC0000000, 0xC0001000, 0xC0002000, 0xC0001000, 16);
  link(image, 0xC0001000, 0xC0000010, 0xC0003000, 0xC0005000, 4);
  link(image, 0xC0000010, 0xFFFFFFFF, 0xFFFFFFFF, 0xC0004000, 4);
  ChainCheck check = checkChain(image);
  EXPECT_TRUE(check.errors.empty());
  ASSERT_EQ(check.overlapCount, 3u);
  EXPECT_EQ(check.overlaps[0], "link 0 writes 0xc0001000+0x00000010 over page 0xc0001000, read later by link 1");
  EXPECT_EQ(check.overlaps[1], "link 1 writes 0xc0005000+0x00000004 over page 0xc0005000, read later by the argument block");
  EXPECT_EQ(check.overlaps[2], "link 2 writes 0xc0004000+0x00000004 over page 0xc0004000, read later by the 2nd bootloader");
}

TEST(ChainCheck, PxaDestinationsAreCheckedWhereTheSecondStageWritesThem) {
  HandoffImage image = machine(handheld::Family::PXA2x0);
  for (std::uint32_t page = 0; page < 6; ++page) image.memory.frameAt(0xA0000000 + page * FrameSize);
  image.memory.write32(0xC0005000, 0xC0000000);  // entry, moved to 0xA0000000
  // 0xC1001000 is 16 MiB + 4 KiB above 0xC0000000: written at 0xA0001000, over link 1.
  link(image, 0xC0000000, 0xA0001000, 0xC0002000, 0xC1001000, 16);
  link(image, 0xA0001000, 0xFFFFFFFF, 0xFFFFFFFF, 0xC0100000, 4);
  ChainCheck check = checkChain(image);
  EXPECT_EQ(check.entry, 0xA0000000u);
  EXPECT_EQ(check.lowest, 0xA0001000u);
  ASSERT_EQ(check.overlapCount, 1u);
  EXPECT_EQ(check.overlaps[0], "link 0 writes 0xa0001000+0x00000010 over page 0xa0001000, read later by link 1");
}

TEST(ChainCheck, LinksAndSourcesOutsideTheImageAndLoopsAreErrors) {
  struct Case {
    const char* name;
    std::uint32_t next, source, length;
    const char* error;
  } cases[] = {
      {"link outside", 0xC0100000, 0xFFFFFFFF, 16, "link 1 at 0xc0100000 is outside the image's pages"},
      {"source outside", 0xFFFFFFFF, 0xC0100000, 16, "link 0 at 0xc0000000: source 0xc0100000+0x00000010 is outside the image's pages"},
      {"loop", 0xC0000000, 0xFFFFFFFF, 16, "the chain does not end (a loop through 0xc0000000)"},
      // More than any machine holds: refused before the page bookkeeping walks 4 GiB.
      {"too much", 0xFFFFFFFF, 0xFFFFFFFF, 0x10000004, "link 0 at 0xc0000000: the chain writes more than 256 MiB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HandoffImage image = machine();
    link(image, 0xC0000000, c.next, c.source, 0xC0200000, c.length);
    ChainCheck check = checkChain(image);
    EXPECT_FALSE(check.complete);
    ASSERT_FALSE(check.errors.empty());
    EXPECT_EQ(check.errors.front(), c.error);
  }
}

TEST(QemuImage, AChainThatNeedsMemoryTheBoardLacksIsRefusedBeforeQemuRuns) {
  // tosa has 64 MiB at 0xA0000000; this machine's chain lives 64 MiB higher.
  HandoffImage image;
  image.family = handheld::Family::PXA2x0;
  image.processor = "PXA255";
  for (std::uint32_t page = 0; page < 3; ++page) image.memory.frameAt(0xA4000000 + page * FrameSize);
  image.r[0] = 0xA4002000;
  image.r[1] = 0xA4000000;
  image.r[2] = 0xA4003000;
  image.r[3] = 0xA4001000;
  link(image, 0xA4000000, 0xFFFFFFFF, 0xFFFFFFFF, 0xC0200000, 4);
  ImageRun run;
  run.executable = "/nonexistent/qemu";  // never started
  QemuResult result = runImageInQemu(image, run);
  EXPECT_EQ(result.status, QemuResult::Status::Failed);
  EXPECT_EQ(result.error, "0xa4002000 is outside the RAM of QEMU's tosa");

  image.processor = "SA-1111";
  result = runImageInQemu(image, run);
  EXPECT_EQ(result.error, "no QEMU board for the processor \"SA-1111\"");
}

}  // namespace
}  // namespace kestrel::handoff
