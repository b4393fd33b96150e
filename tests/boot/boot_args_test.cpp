// The kernel's argument page and BootInfo: exact offsets, the extra-option tokenizer and its
// limits, the framebuffer choice and the time zone.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "arch/architecture.h"
#include "boot/boot_args.h"
#include "boot/settings.h"
#include "load/loader.h"
#include "memory/lock_pages_memory_manager.h"
#include "platform/bytes.h"
#include "platform/handheld/physical_memory.h"
#include "tests/boot/boot_fixture.h"

namespace kestrel::testing {
namespace {

constexpr std::uint8_t Fill = 0xAA;
constexpr std::uint32_t PagePhysical = 0xC1234000;

// A page as getTopPage would hand it out, with what an earlier owner left in it.
struct Page {
  explicit Page(std::uint32_t size = 4096) : bytes(size, Fill) {}
  std::uint8_t* vector() { return bytes.data() + boot_args::VectorOffset; }
  std::uint32_t room() const { return static_cast<std::uint32_t>(bytes.size()) - 68; }
  // The string that argument slot `i` points at (physical address -> page offset).
  std::string argument(int i) const {
    std::uint32_t offset = ce::getLe32(bytes.data() + boot_args::VectorOffset + 4 * i) - PagePhysical;
    return reinterpret_cast<const char*>(bytes.data() + offset);
  }
  std::uint32_t slotOffset(int i) const {
    return ce::getLe32(bytes.data() + boot_args::VectorOffset + 4 * i) - PagePhysical;
  }
  std::vector<std::uint8_t> bytes;
};

class ArgvTest : public BootTest {
 protected:
  int build(Page& page) {
    return buildArgv(settings(), page.vector(), PagePhysical + boot_args::VectorOffset, page.room());
  }
  std::vector<std::string> arguments(const Page& page, int argc) {
    std::vector<std::string> out;
    for (int i = 0; i < argc; ++i) out.push_back(page.argument(i));
    return out;
  }
  Settings& s() { return settings(); }
};

TEST_F(ArgvTest, FlagsAndImagePackedFromOffset116) {
  setText(s().kernelFile, u"corvid.gz");
  s().serialConsole = 1;
  s().singleUser = 1;
  s().rootDevice = 2;
  setText(s().fsImagePath, u"miniroot.fs");
  Page page;
  ASSERT_EQ(build(page), 4);
  EXPECT_EQ(arguments(page, 4), (std::vector<std::string>{"corvid.gz", "h", "s", "m=miniroot.fs"}));
  EXPECT_EQ(page.slotOffset(0), 116u);
  EXPECT_EQ(page.slotOffset(1), 126u);
  EXPECT_EQ(page.slotOffset(2), 128u);
  EXPECT_EQ(page.slotOffset(3), 130u);
  // Unused slots and everything behind the last string keep what the page held.
  EXPECT_EQ(page.bytes[52 + 4 * 4], Fill);
  EXPECT_EQ(page.bytes[130 + 14], Fill);
  EXPECT_TRUE(front_.boxes.empty());
}

TEST_F(ArgvTest, EveryFlagAndRootDevice) {
  setText(s().kernelFile, u"k");
  s().serialConsole = s().bootVerbose = s().singleUser = s().askName = s().kernelDebugger = 1;
  const struct {
    std::int32_t root;
    const char* argument;  // null: none
  } cases[] = {{0, nullptr}, {1, "b=sd0"}, {3, "b=nfs"}, {4, "b=dk0"}, {5, "b=ld0"}, {6, nullptr}, {-1, nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.root);
    s().rootDevice = c.root;
    Page page;
    std::vector<std::string> expected{"k", "h", "v", "s", "a", "d"};
    if (c.argument) expected.push_back(c.argument);
    int argc = build(page);
    EXPECT_EQ(arguments(page, argc), expected);
  }
}

TEST_F(ArgvTest, ExtraOptionsSplitAtBlanksAndTabs) {
  setText(s().kernelFile, u"corvid.gz");
  setText(s().extraOptions, u"  -x   root=wd0a\t");
  Page page;
  ASSERT_EQ(build(page), 3);
  EXPECT_EQ(arguments(page, 3), (std::vector<std::string>{"corvid.gz", "-x", "root=wd0a"}));
  EXPECT_TRUE(front_.boxes.empty());
}

TEST_F(ArgvTest, OnlyBlanksAddNothing) {
  setText(s().kernelFile, u"corvid.gz");
  setText(s().extraOptions, u" \t \t");
  Page page;
  EXPECT_EQ(build(page), 1);
  EXPECT_TRUE(front_.boxes.empty());
}

TEST_F(ArgvTest, MoreTokensThanSlotsFillTheVectorAndWarnOnce) {
  setText(s().kernelFile, u"corvid.gz");
  s().bootVerbose = 1;
  std::u16string extra;
  for (int i = 0; i < 20; ++i) extra += u"t" + std::u16string(1, static_cast<char16_t>(u'a' + i)) + u" ";
  setText(s().extraOptions, extra);
  Page page;
  ASSERT_EQ(build(page), 16);
  EXPECT_EQ(page.argument(2), "ta");
  EXPECT_EQ(page.argument(15), "tn");  // 14 of the 20 tokens fit behind "corvid.gz" and "v"
  ASSERT_EQ(front_.boxes.size(), 1u);
  EXPECT_EQ(front_.boxes[0].text, u"Too many extra kernel options.");
  EXPECT_EQ(front_.boxes[0].caption, u"WARNING");
  EXPECT_EQ(front_.boxes[0].style, 0x30u);
  EXPECT_EQ(front_.owners[0], front_.window());
}

TEST_F(ArgvTest, StringsStopSixteenBytesBeforeThePageEnd) {
  // A small page makes the room run out before the slots do.
  setText(s().kernelFile, u"k");
  setText(s().extraOptions, u"0123456789 0123456789 0123456789 0123456789 0123456789 0123456789 "
                            u"0123456789 0123456789 0123456789 0123456789 0123456789 0123456789");
  Page page(256);
  int argc = build(page);
  // "k" and eleven 11-byte tokens end at page offset 239; a twelfth would cross 240.
  ASSERT_EQ(argc, 12);
  std::uint32_t last = page.slotOffset(argc - 1);
  EXPECT_LE(last + 11, 256u - 16);
  for (std::size_t i = 256 - 16; i < 256; ++i) EXPECT_EQ(page.bytes[i], Fill) << i;
  ASSERT_EQ(front_.boxes.size(), 1u);
  EXPECT_EQ(front_.boxes[0].text, u"Too many extra kernel options.");
}

TEST_F(ArgvTest, NoMemoryForExtraOptionsKeepsTheRest) {
  setText(s().kernelFile, u"corvid.gz");
  s().askName = 1;
  setText(s().extraOptions, u"-x");
  handheld_.faults().heapFailAt = 1;
  Page page;
  EXPECT_EQ(build(page), 2);
  handheld_.faults().heapFailAt = 0;
  ASSERT_EQ(front_.boxes.size(), 1u);
  EXPECT_EQ(front_.boxes[0].text, u"Can't allocate memory for extra kernel options.");
  EXPECT_EQ(front_.boxes[0].style, 0x30u);
}

// BootInfo on handhelds with different screens and time zones.
struct InfoCase {
  const char* name;
  const char* platform;
  const char* ini;
  bool reverse;
  std::uint32_t address;
  std::int16_t lineBytes, width, height, type;
  std::int32_t zone;
};

void PrintTo(const InfoCase& c, std::ostream* os) { *os << c.name; }

class BootInfoTest : public ::testing::TestWithParam<InfoCase> {};

TEST_P(BootInfoTest, Fields) {
  const InfoCase& c = GetParam();
  kestrel_testing::TempHandheld handheld(kestrel_testing::HandheldOptions{c.platform, {"Storage Card"}, true, c.ini});
  Settings& s = settings();
  const handheld::Profile& profile = handheld.machine().config().profile;
  s.platform = {profile.cpu, profile.machine};
  s.reverseVideo = c.reverse;
  std::uint8_t block[40];
  std::memset(block, Fill, sizeof block);
  buildBootInfo(s, block);
  releaseSettings();

  EXPECT_EQ(ce::getLe16(block + 0), 36);
  EXPECT_EQ(ce::getLe16(block + 2), 0);
  EXPECT_EQ(ce::getLe32(block + 4), 0x13536135u);
  EXPECT_EQ(ce::getLe32(block + 8), c.address);
  EXPECT_EQ(static_cast<std::int16_t>(ce::getLe16(block + 12)), c.lineBytes);
  EXPECT_EQ(static_cast<std::int16_t>(ce::getLe16(block + 14)), c.width);
  EXPECT_EQ(static_cast<std::int16_t>(ce::getLe16(block + 16)), c.height);
  EXPECT_EQ(static_cast<std::int16_t>(ce::getLe16(block + 18)), c.type);
  EXPECT_EQ(ce::getLe16(block + 20), 0);  // the console kind is buildBootArgs' business
  EXPECT_EQ(ce::getLe16(block + 22), 0);
  EXPECT_EQ(ce::getLe32(block + 24), profile.cpu);
  EXPECT_EQ(ce::getLe32(block + 28), profile.machine);
  EXPECT_EQ(static_cast<std::int32_t>(ce::getLe32(block + 32)), c.zone);
  EXPECT_EQ(block[36], Fill);
}

INSTANTIATE_TEST_SUITE_P(
    Platforms, BootInfoTest,
    ::testing::Values(
        InfoCase{"Jornada720", "HP Jornada 720 (German)", "display = 640x240x16", false, 0x48200000, 1280, 640, 240,
                 5, 0},
        InfoCase{"Jornada720Reverse", "HP Jornada 720 (German)", "display = 640x240x16", true, 0x48200000, 1280, 640,
                 240, 6, 0},
        // The only entry that fits is used even though its depth differs from the screen's.
        InfoCase{"Jornada720At8Bits", "HP Jornada 720 (German)", "display = 640x240x8", false, 0x48200000, 1280,
                 640, 240, 5, 0},
        // No entry fits: the screen describes itself.
        InfoCase{"WZero3Screen", "Sharp W-ZERO3 (WS003SH)", "display = 480x640x16", false, 0, 0, 480, 640, 5, 0},
        InfoCase{"WZero3FourBits", "Sharp W-ZERO3 (WS003SH)", "display = 480x640x4", true, 0, 0, 480, 640, 8, 0},
        InfoCase{"OddDepth", "Sharp W-ZERO3 (WS003SH)", "display = 480x640x24", false, 0, 0, 480, 640, 2, 0},
        InfoCase{"StandardTime", "Compaq iPAQ H3600", "timezone_bias = -540\ndaylight_bias = -60\ndaylight = 0",
                 false, 0, 640, 320, 240, 5, -540},
        InfoCase{"DaylightTime", "Compaq iPAQ H3600", "timezone_bias = 300\ndaylight_bias = -60\ndaylight = 1",
                 false, 0, 640, 320, 240, 5, 240}),
    [](const ::testing::TestParamInfo<InfoCase>& info) { return std::string(info.param.name); });

// buildBootArgs on a real region of the handheld: the page comes from the top, and the
// words that the second stage and the kernel read point into it.
class StubArchitecture final : public Architecture {
 public:
  using Architecture::Architecture;
  bool init() override { return true; }
  bool setupLoader() override { return true; }
  void jump(std::uint32_t, std::uint32_t) override {}
  ProcessorFamily family() const override { return ProcessorFamily::SA11x0; }
  SerialConsoleMaker serialConsoleMaker() const override { return nullptr; }
};

class StubLoader final : public Loader {
 public:
  using Loader::Loader;
  std::uint32_t memorySize() override { return 0; }
  bool load() override { return true; }
  std::uint32_t entryAddress() override { return 0xC0200040; }
};

class BootArgsPageTest : public BootTest {};

TEST_F(BootArgsPageTest, TopPageHoldsTheArgumentBlock) {
  Settings& s = settings();
  s.platform = {0x0C108000, 0x01C40201};  // Compaq iPAQ H3600
  setText(s.kernelFile, u"corvid");
  Console* console = currentConsole();
  MemoryManager* memory = new LockPagesMemoryManager(handheld::lockPages, handheld::unlockPages, &console, 4096, 0);
  ASSERT_TRUE(memory->reservePages(3 * 4096));
  const TranslationEntry top = memory->translationTable()[memory->mappedCount() - 1];
  StubArchitecture architecture(&console, &memory);
  StubLoader loader(&console, &memory);
  front_.console.clear();

  std::uint32_t physical = buildBootArgs(architecture, loader);
  ASSERT_EQ(physical, top.physicalAddress);
  std::uint8_t page[4096];
  ASSERT_TRUE(handheld::physicalMemory().read(physical, page, sizeof page));
  EXPECT_EQ(ce::getLe32(page + 0), 0xC0200040u);
  EXPECT_EQ(ce::getLe32(page + 4), 1u);
  EXPECT_EQ(ce::getLe32(page + 8), physical + 52);
  EXPECT_EQ(ce::getLe32(page + 12), physical + 16);
  EXPECT_EQ(ce::getLe32(page + 16 + 4), 0x13536135u);
  EXPECT_EQ(ce::getLe16(page + 16 + 20), 1);  // LCD console
  EXPECT_EQ(ce::getLe32(page + 52), physical + 116);
  EXPECT_STREQ(reinterpret_cast<const char*>(page + 116), "corvid");
  EXPECT_EQ(front_.console,
            u"framebuffer: 320x240 type=5 linebytes=640 addr=0x00000000\n"
            u"console = 1\n");
  delete memory;
}

TEST_F(BootArgsPageTest, NoPageLeftIsReported) {
  Console* console = currentConsole();
  MemoryManager* memory = new LockPagesMemoryManager(handheld::lockPages, handheld::unlockPages, &console, 4096, 0);
  StubArchitecture architecture(&console, &memory);
  StubLoader loader(&console, &memory);
  EXPECT_EQ(buildBootArgs(architecture, loader), 0xFFFFFFFFu);
  EXPECT_NE(front_.console.find(u"can't get page for boot arguments.\n"), std::u16string::npos);
  delete memory;
}

}  // namespace
}  // namespace kestrel::testing
