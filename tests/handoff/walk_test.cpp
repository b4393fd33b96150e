// The reference walk on its own: what it refuses, and the details the unicorn cases do not show.
#include "handoff/walk.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "tests/handoff/chain_builder.h"

namespace kestrel::handoff {
namespace {

using handheld::Family;
using testing::ChainBuilder;
using testing::counting;

constexpr std::uint32_t Scratch = 0xC1000000u;

TEST(ReferenceWalk, RebaseKeepsTheLow24BitsOnPxaOnly) {
  EXPECT_EQ(rebase(Family::PXA2x0, 0xC0000000u + 0x123456u), 0xA0123456u);
  EXPECT_EQ(rebase(Family::PXA2x0, 0xC1000010u), 0xA0000010u);
  EXPECT_EQ(rebase(Family::PXA2x0, 0xA0FFFFFCu), 0xA0FFFFFCu);
  EXPECT_EQ(rebase(Family::SA11x0, 0xC1000010u), 0xC1000010u);
}

TEST(ReferenceWalk, RecordsEveryLinkWithTheWordsItStored) {
  HandoffImage image = ChainBuilder(Family::SA11x0, Scratch)
                           .load(0xC0200000u, counting(1, 2), 5)
                           .zero(0xC0200100u, 0)
                           .load(0xC0200200u, counting(1, 3))
                           .finish(0xC0200000u);
  WalkResult walk;
  std::string error;
  ASSERT_TRUE(walkChain(image, walk, error)) << error;
  ASSERT_EQ(walk.links.size(), 3u);
  EXPECT_EQ(walk.links[0].at, Scratch);
  EXPECT_EQ(walk.links[0].stored, 8u);
  EXPECT_TRUE(walk.links[1].zero());
  EXPECT_EQ(walk.links[1].stored, 4u);  // a zero-length link still stores one word
  EXPECT_EQ(walk.links[2].at, Scratch + 32);
  EXPECT_EQ(walk.links[2].stored, 12u);
}

TEST(ReferenceWalk, AnEmptyChainKeepsTheStackItWasGiven) {
  HandoffImage image = ChainBuilder(Family::SA11x0, Scratch).finish(0xC0200000u, 1, 2, 3);
  WalkResult walk;
  std::string error;
  ASSERT_TRUE(walkChain(image, walk, error)) << error;
  EXPECT_TRUE(walk.links.empty());
  EXPECT_EQ(walk.sp, image.r[2]);
  EXPECT_EQ(walk.entry, 0xC0200000u);
  EXPECT_FALSE(PhysicalMemory::firstDifference(walk.memory, image.memory));
}

struct Refusal {
  const char* name;
  std::function<HandoffImage()> build;
  const char* error;
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

class ReferenceWalkRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(ReferenceWalkRefuses, WhatTheRoutineCouldNotDo) {
  WalkResult walk;
  std::string error;
  WalkOptions options;
  options.maxLinks = 1000;
  EXPECT_FALSE(walkChain(GetParam().build(), walk, error, options));
  EXPECT_EQ(error, GetParam().error);
}

ChainBuilder chain() { return ChainBuilder(Family::SA11x0, Scratch); }

INSTANTIATE_TEST_SUITE_P(
    Chains, ReferenceWalkRefuses,
    ::testing::Values(
        Refusal{"LinkOutsideTheImage",
                [] {
                  HandoffImage i = chain().zero(0xC0200000u, 4).finish(0xC0200000u);
                  i.memory.write32(Scratch, 0xC5000000u);  // next
                  return i;
                },
                "link 0xc5000000 is not in the image"},
        Refusal{"UnalignedLink",
                [] {
                  HandoffImage i = chain().zero(0xC0200000u, 4).finish(0xC0200000u);
                  i.r[1] = Scratch + 2;
                  return i;
                },
                "link 0xc1000002 is not word aligned"},
        Refusal{"UnalignedDestination", [] { return chain().zero(0xC0200002u, 4).finish(0xC0200000u); },
                "link 0xc1000000: destination 0xc0200002 is not word aligned"},
        Refusal{"UnalignedSource", [] { return chain().link(Scratch + 0x1011, 0xC0200000u, 8).finish(0xC0200000u); },
                "link 0xc1000000: source 0xc1001011 is not word aligned"},
        Refusal{"SourceOutsideTheImage", [] { return chain().link(0xC7000000u, 0xC0200000u, 8).finish(0xC0200000u); },
                "link 0xc1000000: source 0xc7000000 + 0x8 is not in the image"},
        Refusal{"DestinationPassing4GiB", [] { return chain().zero(0xFFFFFFF0u, 0x20).finish(0xC0200000u); },
                "link 0xc1000000: destination 0xfffffff0 + 0x20 passes 4 GiB"},
        Refusal{"MoreStoredThanAnyMachineHolds", [] { return chain().zero(0xD0000000u, 0x10000004u).finish(0xC0200000u); },
                "link 0xc1000000: the chain stores more than 256 MiB"},
        Refusal{"DestinationOverTheSecondStage",
                [] { return chain().zero(Scratch + 0xFF000 - 8, 12).finish(0xC0200000u); },
                "link 0xc1000000: destination 0xc10feff8 + 0xc covers the second stage"},
        Refusal{"ArgumentBlockOutsideTheImage",
                [] {
                  HandoffImage i = chain().zero(0xC0200000u, 4).finish(0xC0200000u);
                  i.r[0] = 0xC6000000u;
                  return i;
                },
                "argument block 0xc6000000 is not in the image"},
        Refusal{"ChainThatLoops",
                [] {
                  HandoffImage i = chain().zero(0xC0200000u, 4).finish(0xC0200000u);
                  i.memory.write32(Scratch, Scratch);
                  return i;
                },
                "more than 1000 links; the chain loops"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrel::handoff
