// The Main, Option and Console pages in the real window on a simulated handheld: filled from
// kestrel.cnf, driven with messages as the stylus and the keyboard drive them, read back
// through the settings the Boot command collects, and the Console tab's pane and boot log.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "boot/platform_table.h"
#include "boot/settings.h"
#include "console/console.h"
#include "tests/ui/window_fixture.h"
#include "ui/console_tab.h"
#include "ui/main_tab.h"
#include "ui/main_window.h"
#include "ui/option_tab.h"

namespace {

using kestrel::Settings;
using kestrel_testing::WindowSession;
namespace ui = kestrel::ui;

std::u16string text(HWND control) {
  wchar_t buffer[1024] = {};
  ::GetWindowTextW(control, buffer, 1024);
  return std::u16string(reinterpret_cast<const char16_t*>(buffer));
}
std::u16string text(HWND dialog, int id) { return text(::GetDlgItem(dialog, id)); }
void setText(HWND dialog, int id, const std::u16string& value) {
  ::SetDlgItemTextW(dialog, id, reinterpret_cast<const wchar_t*>(value.c_str()));
}

std::vector<std::u16string> items(HWND combo) {
  std::vector<std::u16string> out;
  int n = static_cast<int>(::SendMessageW(combo, CB_GETCOUNT, 0, 0));
  for (int k = 0; k < n; ++k) {
    wchar_t buffer[300] = {};
    ::SendMessageW(combo, CB_GETLBTEXT, k, reinterpret_cast<LPARAM>(buffer));
    out.emplace_back(reinterpret_cast<const char16_t*>(buffer));
  }
  return out;
}
int selection(HWND combo) { return static_cast<int>(::SendMessageW(combo, CB_GETCURSEL, 0, 0)); }
bool checked(HWND dialog, int id) { return ::IsDlgButtonChecked(dialog, id) == BST_CHECKED; }
bool enabled(HWND dialog, int id) { return ::IsWindowEnabled(::GetDlgItem(dialog, id)) != FALSE; }

// A child's rectangle in its parent's client coordinates.
RECT placeOf(HWND child) {
  RECT r;
  ::GetWindowRect(child, &r);
  ::MapWindowPoints(HWND_DESKTOP, ::GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// Shows a page as a tap on its tab does.
void showPage(WindowSession& s, int index) {
  s.clickTab(index);
  ASSERT_TRUE(::IsWindowVisible(s.page(index)));
}

// A tap on a control of the visible page.
void tap(WindowSession& s, int page, int id) { s.click(::GetDlgItem(s.page(page), id)); }

std::u16string repeated(char16_t c, std::size_t n) { return std::u16string(n, c); }

// ---------------------------------------------------------------------------------------
// Main page

TEST(MainPageTest, WithoutKestrelCnfItShowsTheDefaultsAndAfterABootTheSavedDirectory) {
  WindowSession s;  // no kestrel.cnf
  ASSERT_EQ(kestrel_testing::configFile(s), "");
  s.run([](WindowSession& s) {
    HWND page = s.page(ui::MainPage);
    HWND directories = ::GetDlgItem(page, ui::main_ids::Directory);
    const std::vector<std::u16string> list = items(directories);
    ASSERT_EQ(list.size(), 14u);
    EXPECT_EQ(list[0], u"/");
    EXPECT_EQ(list[2], u"\\");
    EXPECT_EQ(list[4], u"\\Storage Card\\");
    EXPECT_EQ(list[7], u"\\ﾒﾓﾘ ｶｰﾄﾞ\\");
    EXPECT_EQ(list[11], u"\\miniSDｶｰﾄﾞ\\");
    EXPECT_EQ(list[12], u"\\microSDカード\\");
    EXPECT_EQ(list[13], u"user defined");
    EXPECT_EQ(selection(directories), 0);
    EXPECT_EQ(text(directories), u"/");
    EXPECT_EQ(text(page, ui::main_ids::KernelFile), u"corvid.gz");
    EXPECT_TRUE(checked(page, 101));
    for (int id = 102; id <= 106; ++id) EXPECT_FALSE(checked(page, id)) << id;
    EXPECT_EQ(text(page, ui::main_ids::FsImage), u"miniroot.fs");
    EXPECT_FALSE(enabled(page, ui::main_ids::FsImage));
    for (int id : {150, 151, 152, 153, 155}) EXPECT_FALSE(checked(page, id)) << id;
    EXPECT_EQ(text(page, ui::main_ids::SerialSpeed), u"19200");
    EXPECT_FALSE(enabled(page, ui::main_ids::SerialSpeed));
    // The Option page's defaults.
    HWND options = s.page(ui::OptionPage);
    EXPECT_TRUE(checked(options, ui::option_ids::PauseBeforeBoot));
    EXPECT_TRUE(checked(options, ui::option_ids::SafetyMessage));
    EXPECT_FALSE(checked(options, ui::option_ids::ReverseVideo));

    // The probe kernel on the card, chosen from the list and typed.
    ::SendMessageW(directories, CB_SETCURSEL, 4, 0);
    setText(page, ui::main_ids::KernelFile, u"corvid");
    s.click(s.boot());
    ASSERT_FALSE(s.boxes.empty());
    EXPECT_EQ(s.boxes.back().caption, u"BOOT FAILED");
    s.click(s.cancel());
  });
  EXPECT_EQ(kestrel_testing::configFile(s).size(), 2152u);

  // The next start: entry 13 now holds the saved directory and is selected.
  s.run([](WindowSession& s) {
    HWND page = s.page(ui::MainPage);
    HWND directories = ::GetDlgItem(page, ui::main_ids::Directory);
    const std::vector<std::u16string> list = items(directories);
    ASSERT_EQ(list.size(), 14u);
    EXPECT_EQ(list[13], u"\\Storage Card\\");
    EXPECT_EQ(selection(directories), 13);
    EXPECT_EQ(text(directories), u"\\Storage Card\\");
    EXPECT_EQ(text(page, ui::main_ids::KernelFile), u"corvid");
    s.click(s.cancel());
  });
}

TEST(MainPageTest, DirectoryAndKernelTextsAreSavedAsTheBoxesShowThem) {
  // No directory saved: entry 13 reads "user defined".
  WindowSession s("Compaq iPAQ H3600", [](Settings& c) { c.kernelDirectorySet = 0; });
  s.run([](WindowSession& s) {
    HWND page = s.page(ui::MainPage);
    HWND directories = ::GetDlgItem(page, ui::main_ids::Directory);
    struct Case {
      const char* what;
      int entry;  // selected, or -1 to type `typed`
      std::u16string typed, directory;
    };
    const Case cases[] = {
        {"user defined", 13, u"", u"user defined"},
        {"katakana entry", 8, u"", u"\\ﾒﾓﾘ ｶｰﾄﾞ1\\"},
        {"typed", -1, u"\\Flash Disk\\kernels\\", u"\\Flash Disk\\kernels\\"},
        {"300 characters", -1, repeated(u'd', 300), repeated(u'd', 259)},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      if (c.entry >= 0) {
        ::SendMessageW(directories, CB_SETCURSEL, c.entry, 0);
      } else {
        ::SetWindowTextW(directories, reinterpret_cast<const wchar_t*>(c.typed.c_str()));
      }
      kestrel::settings().kernelDirectorySet = 0;
      kestrel::settings().collectFromTabs();
      EXPECT_EQ(std::u16string(kestrel::textOf(kestrel::settings().kernelDirectory)), c.directory);
      EXPECT_EQ(kestrel::settings().kernelDirectorySet, 1u);
    }
    setText(page, ui::main_ids::KernelFile, repeated(u'k', 300));
    kestrel::settings().kernelFileSet = 0;
    kestrel::settings().collectFromTabs();
    EXPECT_EQ(std::u16string(kestrel::textOf(kestrel::settings().kernelFile)), repeated(u'k', 259));
    EXPECT_EQ(kestrel::settings().kernelFileSet, 1u);
    s.click(s.cancel());
  });
}

TEST(MainPageTest, PlatformsAreListedInCodeUnitOrderWithTheCurrentOneSelected) {
  // A platform far down the table, and one near its top.
  for (const char* current : {"HP Jornada 720 (Japanese)", "Sharp W-ZERO3 (WS003SH)"}) {
    SCOPED_TRACE(current);
    WindowSession s(current, [](Settings&) {});
    s.run([&](WindowSession& s) {
      HWND combo = ::GetDlgItem(s.page(ui::MainPage), ui::main_ids::Platform);
      const std::vector<std::u16string> list = items(combo);
      int selectable = 0;
      while (kestrel::platformName(selectable)) ++selectable;
      ASSERT_EQ(static_cast<int>(list.size()), selectable);
      EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
      // Code units, not letters: "HP ..." before "HP Jornada ..." and upper case before lower.
      std::vector<std::u16string> expected;
      for (int i = 0; i < selectable; ++i) expected.emplace_back(kestrel::platformName(i));
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(list, expected);
      const std::string name(current);
      EXPECT_EQ(text(combo), std::u16string(name.begin(), name.end()));

      // Another entry chosen: its platform is saved.
      const int pick = static_cast<int>(std::find(list.begin(), list.end(), u"Compaq iPAQ H3900") - list.begin());
      ::SendMessageW(combo, CB_SETCURSEL, pick, 0);
      kestrel::settings().collectFromTabs();
      EXPECT_EQ(kestrel::settings().platform.cpu, 0x0C204000u);
      EXPECT_EQ(kestrel::settings().platform.machine, 0x01C40301u);
      // A name that is no platform's keeps the platform as it was.
      ::SetWindowTextW(combo, L"Psion 5mx");
      ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
      ::SetWindowTextW(combo, L"Psion 5mx");
      kestrel::settings().collectFromTabs();
      EXPECT_EQ(kestrel::settings().platform.machine, 0x01C40301u);
      // A name typed exactly as listed chooses that platform.
      ::SetWindowTextW(combo, L"HP Jornada 820");
      kestrel::settings().collectFromTabs();
      EXPECT_EQ(kestrel::settings().platform.machine, 0x02C20301u);
      s.click(s.cancel());
    });
  }
}

TEST(MainPageTest, SerialSpeedIsShownFromTheListAndReadFromTheFirstSevenCharacters) {
  struct Case {
    std::uint32_t stored;
    std::u16string typed;  // empty: left as shown
    int shown;             // entry selected at start
    std::uint32_t saved;
  };
  const Case cases[] = {
      {19200, u"", 1, 19200},      {38400, u"", 0, 9600},          {115200, u"", 2, 115200},
      {9600, u"115200", 0, 115200}, {9600, u"12345678", 0, 1234567}, {9600, u"  57600 baud", 0, 57600},
      {9600, u"fast", 0, 0},
  };
  WindowSession s("Compaq iPAQ H3600", [](Settings&) {});
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.stored << " typed \"" << std::string(c.typed.begin(), c.typed.end()) << "\"");
    // Each case is a start of the program with the stored speed.
    {
      Settings& config = kestrel::settings();
      config.loadFile();
      config.serialSpeed = c.stored;
      ASSERT_TRUE(config.saveFile());
      kestrel::releaseSettings();
    }
    s.run([&](WindowSession& s) {
      HWND speed = ::GetDlgItem(s.page(ui::MainPage), ui::main_ids::SerialSpeed);
      EXPECT_EQ(items(speed), (std::vector<std::u16string>{u"9600", u"19200", u"115200"}));
      EXPECT_EQ(selection(speed), c.shown);
      if (!c.typed.empty()) ::SetWindowTextW(speed, reinterpret_cast<const wchar_t*>(c.typed.c_str()));
      kestrel::settings().collectFromTabs();
      EXPECT_EQ(kestrel::settings().serialSpeed, c.saved);
      s.click(s.cancel());
    });
  }
}

TEST(MainPageTest, DependentControlsFollowTheirSwitchesAndKeepTheirText) {
  WindowSession s("Compaq iPAQ H3600", [](Settings& c) {
    c.rootDevice = 2;  // md
    kestrel::setText(c.fsImagePath, u"root.img");
    c.serialConsole = 1;
    c.serialSpeed = 115200;
    c.bootVerbose = 1;
    c.kernelDebugger = 1;
  });
  s.run([](WindowSession& s) {
    HWND page = s.page(ui::MainPage);
    EXPECT_TRUE(checked(page, 103));
    EXPECT_TRUE(enabled(page, ui::main_ids::FsImage));
    EXPECT_EQ(text(page, ui::main_ids::FsImage), u"root.img");
    EXPECT_TRUE(enabled(page, ui::main_ids::SerialSpeed));
    EXPECT_EQ(text(page, ui::main_ids::SerialSpeed), u"115200");
    EXPECT_TRUE(checked(page, 152));
    EXPECT_TRUE(checked(page, 155));
    EXPECT_FALSE(checked(page, 151));

    // Another root device disables the image field and keeps its text, which is saved.
    for (int id : {101, 102, 104, 105, 106}) {
      tap(s, ui::MainPage, id);
      EXPECT_FALSE(enabled(page, ui::main_ids::FsImage)) << id;
      kestrel::settings().collectFromTabs();
      EXPECT_EQ(kestrel::settings().rootDevice, id - 101);
    }
    setText(page, ui::main_ids::FsImage, u"other.fs");
    kestrel::settings().collectFromTabs();
    EXPECT_EQ(std::u16string(kestrel::textOf(kestrel::settings().fsImagePath)), u"other.fs");
    tap(s, ui::MainPage, 103);
    EXPECT_TRUE(enabled(page, ui::main_ids::FsImage));
    EXPECT_EQ(text(page, ui::main_ids::FsImage), u"other.fs");

    // Unchecking the serial console disables the speed box; the speed is still saved.
    tap(s, ui::MainPage, 153);
    EXPECT_FALSE(enabled(page, ui::main_ids::SerialSpeed));
    tap(s, ui::MainPage, 151);
    tap(s, ui::MainPage, 155);
    kestrel::settings().collectFromTabs();
    Settings& config = kestrel::settings();
    EXPECT_EQ(config.serialConsole, 0u);
    EXPECT_EQ(config.serialSpeed, 115200u);
    EXPECT_EQ(config.singleUser, 1u);
    EXPECT_EQ(config.kernelDebugger, 0u);
    EXPECT_EQ(config.bootVerbose, 1u);
    EXPECT_EQ(config.askName, 0u);
    EXPECT_EQ(config.rootDevice, 2);
    tap(s, ui::MainPage, 153);
    EXPECT_TRUE(enabled(page, ui::main_ids::SerialSpeed));
    s.click(s.cancel());
  });
}

TEST(MainPageTest, FlagsGoBesideTheUpperControlsOnlyOnAWideLowScreen) {
  struct Case {
    const char* display;
    int dpi;
    POINT origin;  // 96-dpi units
  };
  const Case cases[] = {
      {"640x240x16", 96, {250, 5}}, {"640x240x16", 120, {250, 5}}, {"240x320x16", 96, {5, 140}},
      {"240x320x16", 192, {5, 140}}, {"640x480x16", 96, {5, 140}}, {"640x480x16", 144, {5, 140}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.display << " at " << c.dpi << " dpi");
    WindowSession s("HP Jornada 720 (US/UK)");
    s.handheld().reconfigure(std::string("display = ") + c.display + "\ndpi = " + std::to_string(c.dpi) + "\n");
    s.run([&](WindowSession& s) {
      HWND page = s.page(ui::MainPage);
      const int ids[] = {152, 151, 150, 155, 153};
      for (int k = 0; k < 5; ++k) {
        RECT r = placeOf(::GetDlgItem(page, ids[k]));
        EXPECT_EQ(r.left, c.origin.x * c.dpi / 96) << ids[k];
        EXPECT_EQ(r.top, (c.origin.y + 20 * k) * c.dpi / 96) << ids[k];
      }
      RECT speed = placeOf(::GetDlgItem(page, ui::main_ids::SerialSpeed));
      EXPECT_EQ(speed.left, (c.origin.x + 100) * c.dpi / 96);
      EXPECT_EQ(speed.top, (c.origin.y + 80) * c.dpi / 96);
      s.click(s.cancel());
    });
  }
}

// ---------------------------------------------------------------------------------------
// Option page

TEST(OptionPageTest, AutoBootFieldSpinnerAndTheStoredSeconds) {
  struct Case {
    std::int32_t stored;
    bool on;
    std::u16string shown;
  };
  for (const Case& c : {Case{0, false, u"30"}, Case{5, true, u"5"}}) {
    SCOPED_TRACE(c.stored);
    WindowSession s("Compaq iPAQ H3600", [&](Settings& config) { config.autoBootSeconds = c.stored; });
    s.run([&](WindowSession& s) {
      s.window().cancelAutoBoot();
      HWND page = s.page(ui::OptionPage);
      auto* tab = static_cast<ui::OptionTab*>(s.window().page(ui::OptionPage));
      HWND spinner = ::GetDlgItem(page, ui::option_ids::Spinner);
      ASSERT_NE(spinner, nullptr);
      EXPECT_EQ(spinner, tab->spinner());
      EXPECT_EQ(reinterpret_cast<HWND>(::SendMessageW(spinner, UDM_GETBUDDY, 0, 0)),
                ::GetDlgItem(page, ui::option_ids::Seconds));
      int low = 0, high = 0;
      ::SendMessageW(spinner, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low), reinterpret_cast<LPARAM>(&high));
      EXPECT_EQ(low, 1);
      EXPECT_EQ(high, 60);
      EXPECT_EQ(checked(page, ui::option_ids::AutoBoot), c.on);
      EXPECT_EQ(enabled(page, ui::option_ids::Seconds), c.on);
      EXPECT_EQ(::IsWindowEnabled(spinner) != FALSE, c.on);
      EXPECT_EQ(text(page, ui::option_ids::Seconds), c.shown);

      showPage(s, ui::OptionPage);
      if (!c.on) {
        // Checking the box enables the field; a Boot then stores what it shows.
        tap(s, ui::OptionPage, ui::option_ids::AutoBoot);
        EXPECT_TRUE(enabled(page, ui::option_ids::Seconds));
        EXPECT_TRUE(::IsWindowEnabled(spinner));
        kestrel::settings().collectFromTabs();
        EXPECT_EQ(kestrel::settings().autoBootSeconds, 30);
      }
      // Past the spinner's range, and no number at all.
      setText(page, ui::option_ids::Seconds, u"120");
      kestrel::settings().collectFromTabs();
      EXPECT_EQ(kestrel::settings().autoBootSeconds, 120);
      setText(page, ui::option_ids::Seconds, u"soon");
      kestrel::settings().collectFromTabs();
      EXPECT_EQ(kestrel::settings().autoBootSeconds, 0);
      // Unchecked: 0 whatever the field shows.
      setText(page, ui::option_ids::Seconds, u"45");
      tap(s, ui::OptionPage, ui::option_ids::AutoBoot);
      EXPECT_FALSE(enabled(page, ui::option_ids::Seconds));
      kestrel::settings().collectFromTabs();
      EXPECT_EQ(kestrel::settings().autoBootSeconds, 0);
      s.click(s.cancel());
    });
  }
}

TEST(OptionPageTest, FlagsAndExtraOptionsRoundTrip) {
  WindowSession s("Compaq iPAQ H3600", [](Settings& c) {
    c.reverseVideo = 1;
    c.pauseBeforeBoot = 0;
    c.loadDebugInfo = 1;
    c.safetyMessage = 0;
    kestrel::setText(c.extraOptions, u"-v\tconsole=fb");
  });
  s.run([](WindowSession& s) {
    HWND page = s.page(ui::OptionPage);
    EXPECT_TRUE(checked(page, ui::option_ids::ReverseVideo));
    EXPECT_FALSE(checked(page, ui::option_ids::PauseBeforeBoot));
    EXPECT_TRUE(checked(page, ui::option_ids::LoadDebugInfo));
    EXPECT_FALSE(checked(page, ui::option_ids::SafetyMessage));
    EXPECT_EQ(text(page, ui::option_ids::ExtraOptions), u"-v\tconsole=fb");

    showPage(s, ui::OptionPage);
    for (int id : {ui::option_ids::ReverseVideo, ui::option_ids::PauseBeforeBoot, ui::option_ids::LoadDebugInfo,
                   ui::option_ids::SafetyMessage}) {
      tap(s, ui::OptionPage, id);
    }
    setText(page, ui::option_ids::ExtraOptions, repeated(u'x', 300));
    kestrel::settings().collectFromTabs();
    const Settings& config = kestrel::settings();
    EXPECT_EQ(config.reverseVideo, 0u);
    EXPECT_EQ(config.pauseBeforeBoot, 1u);
    EXPECT_EQ(config.loadDebugInfo, 0u);
    EXPECT_EQ(config.safetyMessage, 1u);
    EXPECT_EQ(std::u16string(kestrel::textOf(config.extraOptions)), repeated(u'x', 255));
    s.click(s.cancel());
  });
}

// ---------------------------------------------------------------------------------------
// Console page

TEST(ConsolePageTest, PaneFillsThePageBelowThePanel) {
  for (int dpi : {96, 120}) {
    SCOPED_TRACE(dpi);
    WindowSession s("Compaq iPAQ H3600");
    s.handheld().reconfigure("display = 640x480x16\ndpi = " + std::to_string(dpi) + "\n");
    s.run([&](WindowSession& s) {
      auto* tab = static_cast<ui::ConsoleTab*>(s.window().page(ui::ConsolePage));
      HWND pane = ::GetDlgItem(s.page(ui::ConsolePage), ui::console_ids::Pane);
      EXPECT_EQ(pane, tab->pane());
      const RECT& display = tab->display();
      const int width = (display.right - display.left) * 96 / dpi;
      const int height = (display.bottom - display.top) * 96 / dpi;
      RECT r = placeOf(pane);
      EXPECT_EQ(r.left, 5 * dpi / 96);
      EXPECT_EQ(r.top, 60 * dpi / 96);
      EXPECT_EQ(r.right - r.left, (width - 10) * dpi / 96);
      EXPECT_EQ(r.bottom - r.top, (height - 60) * dpi / 96);
      // Inside the page and clear of the panel above it.
      EXPECT_LE(r.bottom, display.bottom - display.top);
      EXPECT_LE(placeOf(::GetDlgItem(s.page(ui::ConsolePage), ui::console_ids::FileName)).bottom, r.top);
      // The file name field starts disabled, showing the default name.
      EXPECT_EQ(text(s.page(ui::ConsolePage), ui::console_ids::FileName), u"bootlog.txt");
      EXPECT_FALSE(enabled(s.page(ui::ConsolePage), ui::console_ids::FileName));
      s.click(s.cancel());
    });
  }
}

TEST(ConsolePageTest, ConsoleTextShowsInThePaneAndOldLinesMakeRoom) {
  WindowSession s;
  s.run([](WindowSession& s) {
    HWND pane = static_cast<ui::ConsoleTab*>(s.window().page(ui::ConsolePage))->pane();
    kestrel::Console* console = kestrel::currentConsole();
    console->print(u"BOOT ");
    console->print(u"START\n");
    console->print(u"%s %d\n", u"step", 3);
    EXPECT_EQ(text(pane), u"BOOT START\r\nstep 3\r\n");
    EXPECT_EQ(::SendMessageW(pane, EM_GETLINECOUNT, 0, 0), 3);
    DWORD from = 0, to = 0;
    ::SendMessageW(pane, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
    EXPECT_EQ(from, 20u);  // the caret at the end
    EXPECT_EQ(to, 20u);

    // At the pane's limit the oldest lines go, whole, and the newest text shows.
    ::SendMessageW(pane, EM_SETLIMITTEXT, 40, 0);
    for (int k = 0; k < 10; ++k) console->print(u"line %d\n", k);
    const std::u16string shown = text(pane);
    EXPECT_LE(shown.size(), 40u);
    EXPECT_EQ(shown.rfind(u"line ", 0), 0u) << std::string(shown.begin(), shown.end());
    EXPECT_EQ(shown.substr(shown.size() - 8), u"line 9\r\n");
    EXPECT_EQ(shown, u"line 5\r\nline 6\r\nline 7\r\nline 8\r\nline 9\r\n");
    s.click(s.cancel());
  });
}

TEST(ConsolePageTest, SaveToFileWritesTheLowSevenBitsToBootlogTxt) {
  WindowSession s;
  s.handheld().writeFile(u"\\Storage Card\\bootlog.txt", std::string("an older log, longer than the new one\n"));
  s.run([](WindowSession& s) {
    HWND page = s.page(ui::ConsolePage);
    auto* tab = static_cast<ui::ConsoleTab*>(s.window().page(ui::ConsolePage));
    showPage(s, ui::ConsolePage);
    tap(s, ui::ConsolePage, ui::console_ids::SaveToFile);
    EXPECT_TRUE(tab->saving());
    EXPECT_TRUE(enabled(page, ui::console_ids::FileName));
    // Nothing is created before the first print.
    EXPECT_EQ(s.handheld().readFile(u"\\Storage Card\\bootlog.txt").substr(0, 8), "an older");

    kestrel::Console* console = kestrel::currentConsole();
    console->print(u"abc\n");
    EXPECT_EQ(s.handheld().readFile(u"\\Storage Card\\bootlog.txt"), "abc\n");
    EXPECT_EQ(text(tab->pane()), u"log file is \\Storage Card\\bootlog.txt\r\n");
    console->print(u"caf\u00e9 \u30ab\n");  // é is 0xE9, カ is 0x30AB
    EXPECT_EQ(s.handheld().readFile(u"\\Storage Card\\bootlog.txt"), std::string("abc\ncafi +\n"));

    // Off: the pane again. On with another name: the same file, appended to.
    tap(s, ui::ConsolePage, ui::console_ids::SaveToFile);
    EXPECT_FALSE(enabled(page, ui::console_ids::FileName));
    console->print(u"to the pane\n");
    tap(s, ui::ConsolePage, ui::console_ids::SaveToFile);
    setText(page, ui::console_ids::FileName, u"other.txt");
    console->print(u"more\n");
    EXPECT_EQ(s.handheld().readFile(u"\\Storage Card\\bootlog.txt"), std::string("abc\ncafi +\nmore\n"));
    EXPECT_FALSE(s.handheld().exists(u"\\Storage Card\\other.txt"));
    EXPECT_EQ(text(tab->pane()), u"log file is \\Storage Card\\bootlog.txt\r\nto the pane\r\n");
    s.click(s.cancel());
  });
}

TEST(ConsolePageTest, SavingFailsOverToThePane) {
  struct Case {
    const char* what;
    std::vector<std::string> cards;
    std::u16string name;   // the file name typed
    std::u16string first;  // the pane's first line
  };
  const Case cases[] = {
      {"no storage card", {}, u"bootlog.txt", u"couldn't find temporary directory.\r\n"},
      {"a name that cannot be created", {"Storage Card"}, u"no\\such\\folder.txt", u"BOOT START\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    kestrel_testing::HandheldOptions options;
    options.cards = c.cards;
    WindowSession s(options);
    s.run([&](WindowSession& s) {
      HWND page = s.page(ui::ConsolePage);
      auto* tab = static_cast<ui::ConsoleTab*>(s.window().page(ui::ConsolePage));
      showPage(s, ui::ConsolePage);
      tap(s, ui::ConsolePage, ui::console_ids::SaveToFile);
      setText(page, ui::console_ids::FileName, c.name);
      s.click(s.boot());
      ASSERT_FALSE(s.boxes.empty());
      EXPECT_EQ(s.boxes.back().caption, u"BOOT FAILED");
      EXPECT_FALSE(tab->saving());
      EXPECT_FALSE(checked(page, ui::console_ids::SaveToFile));
      EXPECT_FALSE(enabled(page, ui::console_ids::FileName));
      // The boot's text continues in the pane.
      const std::u16string shown = text(tab->pane());
      EXPECT_EQ(shown.rfind(c.first, 0), 0u) << std::string(shown.begin(), shown.end());
      EXPECT_NE(shown.find(u"BOOT START\r\n[progress] 0\r\n"), std::u16string::npos);
      s.click(s.cancel());
    });
  }
}

TEST(ConsolePageTest, DebugBoxesMakeTheMaskAndTheButtonsCallTheHooks) {
  WindowSession s;
  s.run([](WindowSession& s) {
    showPage(s, ui::ConsolePage);
    Settings& config = kestrel::settings();
    tap(s, ui::ConsolePage, 303);
    EXPECT_EQ(config.debugMask, 0x08u);
    tap(s, ui::ConsolePage, 307);
    tap(s, ui::ConsolePage, 300);
    EXPECT_EQ(config.debugMask, 0x89u);
    tap(s, ui::ConsolePage, 303);
    EXPECT_EQ(config.debugMask, 0x81u);

    // Without hooks the buttons do nothing; with one, "c" calls it with its argument and the mask.
    for (int id = ui::console_ids::FirstHook; id <= ui::console_ids::LastHook; ++id) tap(s, ui::ConsolePage, id);
    static std::vector<std::pair<std::uint32_t, std::uint8_t>> calls;
    calls.clear();
    config.debugHooks[2] = {[](std::uint32_t argument, std::uint8_t mask) { calls.emplace_back(argument, mask); },
                            0xC0FFEE};
    tap(s, ui::ConsolePage, 311);
    tap(s, ui::ConsolePage, 312);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].first, 0xC0FFEEu);
    EXPECT_EQ(calls[0].second, 0x81);
    config.debugHooks[2] = {};
    s.click(s.cancel());
  });
}

}  // namespace
