// The real second-stage bytes in unicorn, entered through the real jump routine, over
// hand-made chains: each case states what the kernel must find, and the run must also equal
// the reference walk byte for byte.
#include "handoff/unicorn_runner.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/handoff/chain_builder.h"

namespace kestrel::handoff {
namespace {

using handheld::Family;
using testing::ChainBuilder;
using testing::counting;
using testing::FillWord;

struct Case {
  const char* name;
  Family family;
  std::function<HandoffImage()> build;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> words;  // address, word the kernel finds
  std::uint32_t entry, sp;
};

std::vector<Case> cases() {
  constexpr std::uint32_t SaScratch = 0xC1000000u, PxaScratch = 0xA1000000u;
  return {
      {"FirstLinkClearsBeforeAnythingIsCopied", Family::SA11x0,
       [] {
         return ChainBuilder(Family::SA11x0, SaScratch)
             .zero(0xC0200000u, 32)
             .load(0xC0200010u, {0x11111111u, 0x22222222u})
             .finish(0xC0200000u);
       },
       {{0xC0200000u, 0}, {0xC020000Cu, 0}, {0xC0200010u, 0x11111111u}, {0xC0200014u, 0x22222222u},
        {0xC0200018u, 0}, {0xC020001Cu, 0}, {0xC0200020u, FillWord}},
       0xC0200000u, 0xC0202000u},
      {"ZeroLinkOfEightBytesWritesTwoWords", Family::SA11x0,
       [] { return ChainBuilder(Family::SA11x0, SaScratch).zero(0xC0300100u, 8).finish(0xC0300000u); },
       {{0xC03000FCu, FillWord}, {0xC0300100u, 0}, {0xC0300104u, 0}, {0xC0300108u, FillWord}},
       0xC0300000u, 0xC0302000u},
      {"LoadLinkOf4080BytesCopies1020Words", Family::SA11x0,
       [] {
         return ChainBuilder(Family::SA11x0, SaScratch).load(0xC0200000u, counting(0x1000, 1020)).finish(0xC0200000u);
       },
       {{0xC0200000u, 0x1000}, {0xC0200004u, 0x1001}, {0xC0200FE8u, 0x1000 + 1018}, {0xC0200FECu, 0x1000 + 1019},
        {0xC0200FF0u, FillWord}},
       0xC0200000u, 0xC0202000u},
      {"OddWordCountStoresNoWordBeyondTheLength", Family::SA11x0,
       [] {
         return ChainBuilder(Family::SA11x0, SaScratch)
             .load(0xC0200000u, counting(0x50, 4), 12)  // three words of four
             .load(0xC0200100u, counting(0x60, 2), 5)    // five bytes: the whole second word
             .load(0xC0200200u, counting(0x70, 2), 0)    // nothing: still the first word
             .finish(0xC0200000u);
       },
       {{0xC0200008u, 0x52}, {0xC020000Cu, FillWord}, {0xC0200104u, 0x61}, {0xC0200108u, FillWord},
        {0xC0200200u, 0x70}, {0xC0200204u, FillWord}},
       0xC0200000u, 0xC0202000u},
      {"PxaMovesDestinationsAndEntryBelow0xA1000000", Family::PXA2x0,
       [] {
         return ChainBuilder(Family::PXA2x0, PxaScratch)
             .load(0xC0200000u, {0xCAFE0001u})
             .load(0xC1000010u, {0xCAFE0002u})  // 16 MiB + 16 above 0xC0000000: the low 24 bits only
             .load(0xA0300000u, {0xCAFE0003u})  // already in the first 16 MiB at 0xA0000000
             .finish(0xC0200000u);
       },
       {{0xA0200000u, 0xCAFE0001u}, {0xA0000010u, 0xCAFE0002u}, {0xA0300000u, 0xCAFE0003u}},
       0xA0200000u, 0xA0302000u},
      {"SaUsesAddressesAsGiven", Family::SA11x0,
       [] {
         return ChainBuilder(Family::SA11x0, SaScratch)
             .load(0xC1800010u, {0xCAFE0004u})
             .load(0xD0000000u, {0xCAFE0005u})
             .finish(0xD0000000u);
       },
       {{0xC1800010u, 0xCAFE0004u}, {0xD0000000u, 0xCAFE0005u}},
       0xD0000000u, 0xD0002000u},
      {"StackAboveALastLinkEndingInsideAPage", Family::SA11x0,
       [] {
         return ChainBuilder(Family::SA11x0, SaScratch)
             .load(0xC0200000u, counting(1, 8))
             .zero(0xC0234000u, 0x234)  // last link ends at 0xC0234234
             .finish(0xC0200000u);
       },
       {{0xC0234230u, 0}}, 0xC0200000u, 0xC0236000u},
      {"StackAboveALastLinkEndingOnAPageBoundary", Family::PXA2x0,
       [] {
         return ChainBuilder(Family::PXA2x0, PxaScratch).zero(0xC0234000u, 0x1000).finish(0xC0200000u);
       },
       {{0xA0234000u, 0}, {0xA0234FFCu, 0}}, 0xA0200000u, 0xA0237000u},
      {"OverlappingCopyFollowsTheProcessorsOrder", Family::SA11x0,
       [] {
         // The second link copies its source one word further up, over itself: each pass reads
         // two words before it stores them, so the third word is the copied second one.
         return ChainBuilder(Family::SA11x0, SaScratch)
             .load(0xC0200000u, counting(0x10, 4))  // its source: 0xC1001010
             .link(0xC1001010u, 0xC1001014u, 16)
             .finish(0xC0200000u);
       },
       {{0xC1001010u, 0x10}, {0xC1001014u, 0x10}, {0xC1001018u, 0x11}, {0xC100101Cu, 0x11}, {0xC1001020u, 0x13}},
       0xC0200000u, 0xC1003000u},
  };
}

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class SecondStageInUnicorn : public ::testing::TestWithParam<Case> {};

TEST_P(SecondStageInUnicorn, KernelFindsWhatTheChainDescribes) {
  const Case& c = GetParam();
  HandoffImage image = c.build();
  HandoffCheck check;
  std::string error;
  ASSERT_TRUE(checkInUnicorn(image, check, error)) << error;

  EXPECT_EQ(check.run.pc, c.entry);
  EXPECT_EQ(check.run.sp, c.sp);
  for (const auto& [address, word] : c.words) {
    std::uint32_t got = 0;
    ASSERT_TRUE(check.run.memory.read32(address, got)) << std::hex << address;
    EXPECT_EQ(got, word) << "at 0x" << std::hex << address;
  }
  // The kernel's registers are the argument block's words 1..3; the jump routine left the
  // processor with IRQ/FIQ masked and MMU and caches off.
  EXPECT_EQ(check.run.r0, 3u);
  EXPECT_EQ(check.run.r1, 0xC1FFE034u);
  EXPECT_EQ(check.run.r2, 0xC1FFE010u);
  EXPECT_EQ(check.run.cpsr & 0xDF, 0xDFu);
  EXPECT_EQ(check.run.control, 0x2030u);
}

INSTANTIATE_TEST_SUITE_P(Chains, SecondStageInUnicorn, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SecondStageInUnicorn, EachProcessorModelRunsItsFamilysRoutines) {
  for (const char* processor : {"SA-1100", "SA-1110", "PXA250", "PXA255", "PXA270"}) {
    Family family = processor[0] == 'P' ? Family::PXA2x0 : Family::SA11x0;
    std::uint32_t base = family == Family::PXA2x0 ? 0xA0000000u : 0xC0000000u;
    HandoffImage image = ChainBuilder(family, base + 0x01000000u)
                             .load(0xC0200000u, counting(7, 3))
                             .finish(0xC0200000u, 1, 2, 3);
    image.processor = processor;
    HandoffCheck check;
    std::string error;
    EXPECT_TRUE(checkInUnicorn(image, check, error)) << processor << ": " << error;
    EXPECT_EQ(check.run.cpu, processor);
    EXPECT_EQ(check.run.r0 + check.run.r1 + check.run.r2, 6u);
  }
}

TEST(SecondStageInUnicorn, StartingAtTheSecondStageItselfGivesTheSameResult) {
  HandoffImage image =
      ChainBuilder(Family::SA11x0, 0xC1000000u).zero(0xC0200000u, 64).load(0xC0200040u, counting(9, 5)).finish(0xC0200000u);
  UnicornOptions direct;
  direct.viaJumpRoutine = false;
  HandoffCheck viaJump, straight;
  std::string error;
  ASSERT_TRUE(checkInUnicorn(image, viaJump, error)) << error;
  ASSERT_TRUE(checkInUnicorn(image, straight, error, direct)) << error;
  EXPECT_FALSE(PhysicalMemory::firstDifference(viaJump.run.memory, straight.run.memory));
  EXPECT_EQ(straight.run.sp, viaJump.run.sp);
}

TEST(SecondStageInUnicorn, AChainThatNeverEndsFailsAtTheInstructionLimit) {
  // The only link names itself as the next one.
  HandoffImage image = ChainBuilder(Family::SA11x0, 0xC1000000u).zero(0xC1000100u, 4).finish(0xC0200000u);
  image.memory.write32(image.r[1], image.r[1]);
  std::string error;
  ASSERT_TRUE(loadSecondStage(image, error)) << error;
  UnicornOptions options;
  options.instructionLimit = 100000;
  UnicornResult run;
  EXPECT_FALSE(runUnicorn(image, image.memory, run, error, options));
  EXPECT_NE(error.find("instruction limit (100000) reached"), std::string::npos) << error;
}

TEST(SecondStageInUnicorn, AnAccessOutsideTheMappedMemoryIsAFailure) {
  // Mapping only the image's own frames leaves the destination unmapped.
  HandoffImage image = ChainBuilder(Family::SA11x0, 0xC1000000u).zero(0xC0200000u, 4).finish(0xC0200000u);
  std::string error;
  ASSERT_TRUE(loadSecondStage(image, error)) << error;
  UnicornResult run;
  EXPECT_FALSE(runUnicorn(image, image.memory, run, error));
  EXPECT_NE(error.find("write to unmapped 0xc0200000"), std::string::npos) << error;
}

TEST(SecondStageInUnicorn, TheComparisonNamesTheFirstDifference) {
  HandoffImage image = ChainBuilder(Family::SA11x0, 0xC1000000u).load(0xC0200000u, counting(1, 4)).finish(0xC0200000u);
  HandoffCheck check;
  std::string error;
  ASSERT_TRUE(checkInUnicorn(image, check, error)) << error;

  UnicornResult run = check.run;
  run.memory.write32(0xC0200008u, 0xDEADBEEFu);
  EXPECT_FALSE(compareWithWalk(run, check.walk, true, error));
  EXPECT_EQ(error, "memory differs at 0xc0200008: the word there is 0xdeadbeef, the reference walk has 0x00000003");

  run = check.run;
  run.sp += 0x1000;
  EXPECT_FALSE(compareWithWalk(run, check.walk, true, error));
  EXPECT_EQ(error, "sp at the entry is 0xc0203000, the reference walk has 0xc0202000");

  run = check.run;
  run.pc = 0xC0200004u;
  EXPECT_FALSE(compareWithWalk(run, check.walk, true, error));
  EXPECT_EQ(error, "the kernel was entered at 0xc0200004, the reference walk enters it at 0xc0200000");

  run = check.run;
  run.control |= 1;  // MMU still on
  EXPECT_FALSE(compareWithWalk(run, check.walk, true, error));
  EXPECT_NE(error.find("MMU or caches still on"), std::string::npos);
  EXPECT_TRUE(compareWithWalk(run, check.walk, false, error)) << error;
}

TEST(SecondStageInUnicorn, AnImageHoldingOtherCodeAtR3IsRefused) {
  HandoffImage image = ChainBuilder(Family::PXA2x0, 0xA1000000u).zero(0xA0200000u, 4).finish(0xA0200000u);
  std::string error;
  HandoffImage held = image;
  ASSERT_TRUE(loadSecondStage(held, error)) << error;
  EXPECT_TRUE(loadSecondStage(held, error)) << "the very bytes are accepted: " << error;

  std::size_t size = 0;
  const unsigned char* code = secondStage(Family::SA11x0, size);  // the other family's routine
  image.memory.write(image.r[3], code, size);
  EXPECT_FALSE(loadSecondStage(image, error));
  EXPECT_NE(error.find("differs from the built one at offset"), std::string::npos) << error;
}

// A kernel that sends one byte on the SA-11x0's UART 3 and a string through semihosting, then
// exits with status 7.
const std::vector<std::uint32_t> TalkingKernel = {
    0xE3A02102,  // 00: mov r2, #0x80000000
    0xE3822805,  // 04: orr r2, r2, #0x50000       UART 3
    0xE3A03055,  // 08: mov r3, #'U'
    0xE5823014,  // 0c: str r3, [r2, #0x14]        UTDR
    0xE28F1014,  // 10: add r1, pc, #20            "hi\n" at 0x2c
    0xE3A00004,  // 14: mov r0, #4                 SYS_WRITE0
    0xEF123456,  // 18: svc 0x123456
    0xE28F100C,  // 1c: add r1, pc, #12            the exit block at 0x30
    0xE3A00020,  // 20: mov r0, #0x20              SYS_EXIT_EXTENDED
    0xEF123456,  // 24: svc 0x123456
    0xEAFFFFFE,  // 28: b .
    0x000A6968,  // 2c: "hi\n"
    0x00020026,  // 30: ADP_Stopped_ApplicationExit
    0x00000007,  // 34: status
};

struct KernelCase {
  const char* name;
  std::vector<std::uint32_t> code;
  bool exited;
  int status;
  std::string output, error;
};

void PrintTo(const KernelCase& c, std::ostream* os) { *os << c.name; }

class KernelInUnicorn : public ::testing::TestWithParam<KernelCase> {};

TEST_P(KernelInUnicorn, RunsUntilItsSemihostingExit) {
  const KernelCase& c = GetParam();
  HandoffImage image = ChainBuilder(Family::SA11x0, 0xC1000000u).load(0xC0200000u, c.code).finish(0xC0200000u);
  UnicornOptions options;
  options.runKernel = true;
  options.kernelInstructionLimit = 10000;
  std::string streamed;
  options.output = [&](std::string_view text) { streamed += text; };
  HandoffCheck check;
  std::string error;
  ASSERT_TRUE(checkInUnicorn(image, check, error, options)) << error;
  EXPECT_EQ(check.run.kernel.exited, c.exited);
  EXPECT_EQ(check.run.kernel.status, c.status);
  EXPECT_EQ(check.run.kernel.output, c.output);
  EXPECT_EQ(streamed, c.output);
  EXPECT_EQ(check.run.kernel.error.substr(0, c.error.size()), c.error);
}

INSTANTIATE_TEST_SUITE_P(
    Kernels, KernelInUnicorn,
    ::testing::Values(KernelCase{"TalksAndExits", TalkingKernel, true, 7, "Uhi\n", ""},
                      KernelCase{"FailureExit",
                                 {0xE3A00018,   // mov r0, #0x18        SYS_EXIT
                                  0xE59F1004,   // ldr r1, [pc, #4]     ADP_Stopped_RunTimeErrorUnknown
                                  0xEF123456,   // svc 0x123456
                                  0xEAFFFFFE,   // b .
                                  0x00020023},
                                 true, 1, "", ""},
                      KernelCase{"NeverExits", {0xEAFFFFFE /* b . */}, false, -1, "",
                                 "instruction limit (10000) reached at pc 0xc0200000"},
                      KernelCase{"UndefinedInstruction", {0xE7F000F0 /* udf */}, false, -1, "",
                                 "Invalid instruction (UC_ERR_INSN_INVALID) at pc 0xc0200000"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrel::handoff
