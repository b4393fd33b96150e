// The 19 machine profiles: one per selectable entry of the platform table, in its order, with
// the hardware each model has.
#include <gtest/gtest.h>

#include <string>

#include "boot/platform_table.h"
#include "platform/handheld/machine.h"
#include "platform/handheld/names.h"

namespace {

using handheld::DramBank;
using handheld::Family;
using handheld::Profile;

TEST(Profiles, FollowTheSelectableEntriesOfThePlatformTable) {
  const auto& all = handheld::profiles();
  ASSERT_EQ(all.size(), 19u);
  for (int i = 0; i < 19; ++i) {
    const kestrel::PlatformEntry* entry = kestrel::selectableEntry(i);
    ASSERT_NE(entry, nullptr) << i;
    EXPECT_EQ(handheld::utf8ToUtf16(all[i].name), entry->name) << i;
    EXPECT_EQ(all[i].cpu, entry->id.cpu) << all[i].name;
    EXPECT_EQ(all[i].machine, entry->id.machine) << all[i].name;
    EXPECT_EQ(handheld::findProfile(all[i].name), &all[i]);
    // The family follows the table's processor series: StrongARM or XScale.
    EXPECT_EQ(all[i].family, (all[i].cpu & 0x03F00000) == 0x00100000 ? Family::SA11x0 : Family::PXA2x0);
    // Sharp's and the Japanese models default to Shift-JIS, every other to Western.
    bool japanese = all[i].name.rfind("Sharp", 0) == 0 || all[i].name.find("(Japanese)") != std::string::npos;
    EXPECT_EQ(all[i].codePage, japanese ? 932u : 1252u) << all[i].name;
  }
  EXPECT_EQ(handheld::findProfile("Compaq iPAQ H3700"), nullptr);
  EXPECT_EQ(handheld::findProfile("compaq ipaq h3600"), nullptr);
}

TEST(Profiles, CarryEachModelsHardware) {
  constexpr std::uint32_t MiB = 1024 * 1024;
  struct Case {
    const char* name;
    const char* processor;
    std::uint32_t cp15Id;
    std::vector<DramBank> dram;
    int width, height, bpp, dpi;
    int osMajor, osMinor;
  } cases[] = {
      {"Compaq iPAQ H3100", "SA-1110", 0x6901B119, {{0xC0000000, 16 * MiB}}, 240, 320, 16, 96, 3, 0},
      {"Compaq iPAQ H3600", "SA-1110", 0x6901B119, {{0xC0000000, 32 * MiB}}, 240, 320, 16, 96, 3, 0},
      {"Compaq iPAQ H3660", "SA-1110", 0x6901B119, {{0xC0000000, 32 * MiB}, {0xC8000000, 32 * MiB}}, 240, 320, 16, 96,
       3, 0},
      {"Compaq iPAQ H3900", "PXA250", 0x69052100, {{0xA0000000, 64 * MiB}}, 240, 320, 16, 96, 3, 0},
      {"HP Jornada 720 (US/UK)", "SA-1110", 0x6901B119, {{0xC0000000, 32 * MiB}}, 640, 240, 16, 96, 3, 0},
      {"HP Jornada 720 (Spanish)", "SA-1110", 0x6901B119, {{0xC0000000, 32 * MiB}}, 640, 240, 16, 96, 3, 0},
      {"HP Jornada 820 (Japanese)", "SA-1100", 0x4401A118, {{0xC0000000, 16 * MiB}}, 640, 480, 8, 96, 2, 11},
      {"Sharp W-ZERO3 (WS003SH)", "PXA270", 0x69054117, {{0xA0000000, 64 * MiB}}, 480, 640, 16, 192, 5, 0},
      {"Sharp W-ZERO3[es] (WS007SH)", "PXA270", 0x69054117, {{0xA0000000, 64 * MiB}}, 480, 640, 16, 192, 5, 0},
      {"Sharp Advanced/W-ZERO3[es] (WS011SH)", "PXA270", 0x69054117, {{0xA0000000, 64 * MiB}}, 480, 800, 16, 192, 5, 0},
      {"Sharp WILLCOM 03 (WS020SH)", "PXA270", 0x69054117, {{0xA0000000, 64 * MiB}}, 480, 800, 16, 192, 5, 0},
      {"PSIONTEKLOGIX NETBOOK PRO", "PXA255", 0x69052D06, {{0xA0000000, 64 * MiB}, {0xA4000000, 64 * MiB}}, 800, 600,
       16, 96, 4, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Profile* p = handheld::findProfile(c.name);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->processor, c.processor);
    EXPECT_EQ(p->cp15Id, c.cp15Id);
    ASSERT_EQ(p->dram.size(), c.dram.size());
    for (std::size_t k = 0; k < c.dram.size(); ++k) {
      EXPECT_EQ(p->dram[k].base, c.dram[k].base);
      EXPECT_EQ(p->dram[k].size, c.dram[k].size);
    }
    EXPECT_EQ(p->width, c.width);
    EXPECT_EQ(p->height, c.height);
    EXPECT_EQ(p->bitsPerPixel, c.bpp);
    EXPECT_EQ(p->dpi, c.dpi);
    EXPECT_EQ(p->osMajor, c.osMajor);
    EXPECT_EQ(p->osMinor, c.osMinor);
  }
}

}  // namespace
