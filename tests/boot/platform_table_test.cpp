#include "boot/platform_table.h"

#include <gtest/gtest.h>

#include <string>

#include "boot/settings.h"
#include "tests/support/handheld_fixture.h"

namespace kestrel {
namespace {

constexpr PlatformId h3600{0x0C108000, 0x01C40201};

struct MatchCase {
  const char* what;
  PlatformId id;
  PlatformId pattern;
  unsigned score;
};

TEST(PlatformTable, MatchScoresCountEqualFieldsAndTreatOnlyPatternZerosAsWildcards) {
  const MatchCase cases[] = {
      {"iPAQ H3600 vs ARM STRONGARM SA1110", h3600, {0x0C108000, 0}, 5},
      {"iPAQ H3600 vs ARM STRONGARM SA1100", h3600, {0x0C104000, 0}, 0},
      {"iPAQ H3600 vs Compaq iPAQ", h3600, {0, 0x01C40000}, 4},
      {"iPAQ H3600 vs itself", h3600, h3600, 9},
      {"cpu bits 7-0 play no part", {0x0C1080FF, 0x01C40201}, h3600, 9},
      {"zero id field does not match a nonzero pattern field", {0x0C100000, 0}, {0x0C108000, 0}, 0},
      {"iPAQ H3600 vs ARM", h3600, {0x0C000000, 0}, 3},
      {"Jornada 720 vs HP Jornada 7XX", {0x0C108000, 0x02C20201}, {0, 0x02C20200}, 5},
      {"Jornada 720 vs Compaq", {0x0C108000, 0x02C20201}, {0, 0x01C00000}, 0},
      {"W-ZERO3 vs ARM XSCALE PXA270 (zero variants are equal)", {0x0C208000, 0x01040100}, {0x0C208000, 0}, 6},
      {"W-ZERO3 vs ARM XSCALE PXA250", {0x0C208000, 0x01040100}, {0x0C204000, 0}, 0},
  };
  for (const MatchCase& c : cases) EXPECT_EQ(platformMatch(c.id, c.pattern), c.score) << c.what;
}

TEST(PlatformTable, EmptyIdFitsNoEntryAndEveryEntryFitsItselfFully) {
  ASSERT_EQ(platformTableCount, 40u);
  for (std::size_t i = 0; i < platformTableCount; ++i) {
    EXPECT_EQ(platformMatch(PlatformId{}, platformTable[i].id), 0u) << i;
    EXPECT_EQ(platformMatch(platformTable[i].id, platformTable[i].id), 9u) << i;
  }
}

TEST(PlatformTable, SelectablePositionsCountOnlyEntriesNamingOneMachine) {
  EXPECT_EQ(std::u16string(platformName(0)), u"Sharp W-ZERO3 (WS003SH)");
  EXPECT_EQ(std::u16string(platformName(5)), u"Compaq iPAQ H3100");
  EXPECT_EQ(std::u16string(platformName(9)), u"HP Jornada 720 (US/UK)");
  EXPECT_EQ(std::u16string(platformName(18)), u"PSIONTEKLOGIX NETBOOK PRO");
  EXPECT_EQ(platformName(19), nullptr);
  EXPECT_EQ(platformName(-1), nullptr);

  int selectable = 0;
  for (std::size_t i = 0; i < platformTableCount; ++i) selectable += platformTable[i].selectable();
  EXPECT_EQ(selectable, 19);

  PlatformId id;
  selectPlatform(9, id);
  EXPECT_EQ(id, (PlatformId{0x0C108000, 0x02C20201}));
  EXPECT_EQ(platformIndex(id), 9);
  selectPlatform(19, id);  // not a position: unchanged
  EXPECT_EQ(id, (PlatformId{0x0C108000, 0x02C20201}));
  for (int i = 0; i < 19; ++i) {
    selectPlatform(i, id);
    EXPECT_EQ(platformIndex(id), i);
  }
  EXPECT_EQ(platformIndex(PlatformId{}), 0);
  EXPECT_EQ(platformIndex(PlatformId{0x0C108000, 0}), 0);  // a processor class is never chosen
  EXPECT_EQ(platformIndex(PlatformId{0x0C1080FF, 0x01C40201}), 0);  // exact words only
}

TEST(PlatformTable, SettingsOperationsActOnTheStoredPlatform) {
  kestrel_testing::TempHandheld handheld;  // an empty card: no configuration file yet
  Settings& s = settings();
  EXPECT_EQ(s.platform, PlatformId{});
  EXPECT_EQ(platformIndex(), 0);
  selectPlatform(9);
  EXPECT_EQ(s.platform, (PlatformId{0x0C108000, 0x02C20201}));
  EXPECT_EQ(platformIndex(), 9);
  selectPlatform(40);
  EXPECT_EQ(platformIndex(), 9);
  releaseSettings();
}

}  // namespace
}  // namespace kestrel
