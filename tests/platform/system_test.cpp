// System, display and time-zone services from the machine's profile and handheld.ini, and
// coredll.dll with its exports.
#include <gtest/gtest.h>

#include "platform/display.h"
#include "platform/files.h"
#include "platform/handheld/coredll.h"
#include "platform/system.h"
#include "tests/support/handheld_fixture.h"

namespace {

using kestrel_testing::HandheldOptions;
using kestrel_testing::TempHandheld;
using namespace ce;

HandheldOptions machine(const char* platform, const char* ini = "") {
  HandheldOptions o;
  o.platform = platform;
  o.extraIni = ini;
  return o;
}

TEST(System, SystemInfoAndVersionComeFromTheProfile) {
  struct Case {
    const char* platform;
    const char* ini;
    WORD level, revision;
    DWORD major, minor;
  } cases[] = {
      {"HP Jornada 820", "", 4, 8, 2, 11},
      {"Compaq iPAQ H3600", "", 4, 9, 3, 0},
      {"Sharp W-ZERO3 (WS004SH)", "", 5, 7, 5, 0},
      {"PSIONTEKLOGIX NETBOOK PRO", "os_version = 4.21", 5, 6, 4, 21},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.platform);
    TempHandheld handheld(machine(c.platform, c.ini));
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    EXPECT_EQ(info.wProcessorArchitecture, 5);  // ARM
    EXPECT_EQ(info.dwPageSize, 4096u);
    EXPECT_EQ(info.dwAllocationGranularity, 0x10000u);
    EXPECT_EQ(info.dwProcessorType, 2577u);
    EXPECT_EQ(info.wProcessorLevel, c.level);
    EXPECT_EQ(info.wProcessorRevision, c.revision);
    EXPECT_EQ(info.dwNumberOfProcessors, 1u);

    OSVERSIONINFOW version;
    version.dwOSVersionInfoSize = 0;  // filled whatever the caller put there
    ASSERT_TRUE(GetVersionExW(&version));
    EXPECT_EQ(version.dwOSVersionInfoSize, sizeof(OSVERSIONINFOW));
    EXPECT_EQ(version.dwMajorVersion, c.major);
    EXPECT_EQ(version.dwMinorVersion, c.minor);
    EXPECT_EQ(version.dwPlatformId, 3u);
  }
}

TEST(System, CoredllExportsGetVersionExUnlessTheMachineLacksIt) {
  TempHandheld handheld("HP Jornada 820");
  HMODULE coredll = LoadLibraryW(u"CoreDll.DLL");
  ASSERT_NE(coredll, nullptr);
  EXPECT_EQ(LoadLibraryW(u"\\Windows\\coredll.dll"), coredll);
  EXPECT_EQ(handheld::coredllReferences(), 2);
  auto getVersionEx = reinterpret_cast<GetVersionExFn>(GetProcAddressW(coredll, u"GetVersionEx"));
  ASSERT_NE(getVersionEx, nullptr);
  OSVERSIONINFOW v;
  ASSERT_TRUE(getVersionEx(&v));
  EXPECT_EQ(v.dwMinorVersion, 11u);
  // Names are exact.
  EXPECT_EQ(GetProcAddressW(coredll, u"getversionex"), nullptr);
  EXPECT_EQ(GetLastError(), ErrorProcNotFound);
  EXPECT_EQ(GetProcAddressW(coredll, u"NoSuchFunction"), nullptr);
  EXPECT_EQ(LoadLibraryW(u"toolhelp.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ErrorModNotFound);

  EXPECT_TRUE(FreeLibrary(coredll));
  EXPECT_TRUE(FreeLibrary(coredll));
  EXPECT_FALSE(FreeLibrary(coredll));
  EXPECT_EQ(handheld::coredllReferences(), 0);
  EXPECT_EQ(GetProcAddressW(coredll, u"GetVersionEx"), nullptr) << "the library is released";

  handheld.reconfigure("get_version_ex = 0");
  coredll = LoadLibraryW(u"coredll.dll");
  ASSERT_NE(coredll, nullptr);
  EXPECT_EQ(GetProcAddressW(coredll, u"GetVersionEx"), nullptr);
  EXPECT_EQ(GetLastError(), ErrorProcNotFound);
  FreeLibrary(coredll);

  handheld.reconfigure("coredll = 0");
  EXPECT_EQ(LoadLibraryW(u"coredll.dll"), nullptr);
  EXPECT_EQ(GetLastError(), ErrorModNotFound);
}

BOOL fakeLockPages(void*, DWORD, DWORD*, int) { return True; }
BOOL fakeUnlockPages(void*, DWORD) { return True; }

TEST(System, ThePageLockingExportsCanBeSwitchedOff) {
  TempHandheld handheld;
  HMODULE coredll = LoadLibraryW(u"coredll.dll");
  // The memory services register the real ones; without them, stand-ins show the switch.
  bool ownLock = GetProcAddressW(coredll, u"LockPages") == nullptr;
  bool ownUnlock = GetProcAddressW(coredll, u"UnlockPages") == nullptr;
  if (ownLock) handheld::registerExport(u"LockPages", reinterpret_cast<FARPROC>(&fakeLockPages));
  if (ownUnlock) handheld::registerExport(u"UnlockPages", reinterpret_cast<FARPROC>(&fakeUnlockPages));
  EXPECT_NE(GetProcAddressW(coredll, u"LockPages"), nullptr);
  EXPECT_NE(GetProcAddressW(coredll, u"UnlockPages"), nullptr);
  FreeLibrary(coredll);

  struct Case {
    const char* ini;
    bool lock, unlock;
  } cases[] = {{"lock_pages = 0", false, true}, {"unlock_pages = 0", true, false}};
  for (const auto& c : cases) {
    handheld.reconfigure(c.ini);
    coredll = LoadLibraryW(u"coredll.dll");
    EXPECT_EQ(GetProcAddressW(coredll, u"LockPages") != nullptr, c.lock) << c.ini;
    EXPECT_EQ(GetProcAddressW(coredll, u"UnlockPages") != nullptr, c.unlock) << c.ini;
    EXPECT_NE(GetProcAddressW(coredll, u"GetVersionEx"), nullptr);
    FreeLibrary(coredll);
  }
  if (ownLock) handheld::registerExport(u"LockPages", nullptr);
  if (ownUnlock) handheld::registerExport(u"UnlockPages", nullptr);
}

TEST(System, DebugOutputGoesToTheMachinesSink) {
  TempHandheld handheld;
  std::u16string seen;
  handheld.machine().setDebugSink([&](const std::u16string& text) { seen += text; });
  OutputDebugStringW(u"can't open DSK1:.\n");
  OutputDebugStringW(nullptr);
  EXPECT_EQ(seen, u"can't open DSK1:.\n");
}

TEST(System, TimeZoneFromTheConfiguration) {
  struct Case {
    const char* ini;
    LONG bias, daylightBias;
    DWORD id;
  } cases[] = {
      {"", 0, -60, TimeZoneIdStandard},
      {"timezone_bias = -540\ndaylight_bias = 0", -540, 0, TimeZoneIdStandard},
      {"timezone_bias = 300\ndaylight = 1", 300, -60, TimeZoneIdDaylight},
  };
  for (const auto& c : cases) {
    TempHandheld handheld(machine("Compaq iPAQ H3600", c.ini));
    TIME_ZONE_INFORMATION tz;
    EXPECT_EQ(GetTimeZoneInformation(&tz), c.id) << c.ini;
    EXPECT_EQ(tz.Bias, c.bias) << c.ini;
    EXPECT_EQ(tz.DaylightBias, c.daylightBias) << c.ini;
    EXPECT_EQ(tz.StandardBias, 0);
  }
}

TEST(System, ScreenCapabilitiesFollowProfileAndOverrides) {
  struct Case {
    const char* platform;
    const char* ini;
    int width, height, bpp, dpi;
  } cases[] = {
      {"HP Jornada 720 (German)", "", 640, 240, 16, 96},
      {"HP Jornada 820", "", 640, 480, 8, 96},
      {"Sharp W-ZERO3 (WS003SH)", "", 480, 640, 16, 192},
      {"Compaq iPAQ H3600", "display = 320x240x8\ndpi = 130", 320, 240, 8, 130},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.platform);
    TempHandheld handheld(machine(c.platform, c.ini));
    HDC dc = GetDC(nullptr);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(GetDeviceCaps(dc, HorzRes), c.width);
    EXPECT_EQ(GetDeviceCaps(dc, VertRes), c.height);
    EXPECT_EQ(GetDeviceCaps(dc, BitsPixel), c.bpp);
    EXPECT_EQ(GetDeviceCaps(dc, LogPixelsX), c.dpi);
    EXPECT_EQ(GetDeviceCaps(dc, LogPixelsY), c.dpi);
    EXPECT_EQ(ReleaseDC(nullptr, dc), 1);
  }
}

}  // namespace
