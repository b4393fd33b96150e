// The main window on a simulated handheld: its children and layout, the tab frame, focus and
// keyboard navigation, Boot, Cancel, the auto boot and the tear-down, driven with real
// messages through the program's own message handling.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "boot/boot_sequence.h"
#include "boot/settings.h"
#include "platform/handheld/processor.h"
#include "platform/message_box.h"
#include "tests/ui/window_fixture.h"
#include "ui/boot_controls.h"
#include "ui/tab_window.h"
#include "ui/title_strip.h"

namespace {

using kestrel::Settings;
using kestrel_testing::WindowSession;
namespace ui = kestrel::ui;

std::wstring textOf(HWND window) {
  wchar_t text[128] = {};
  ::GetWindowTextW(window, text, 128);
  return text;
}

std::wstring classOf(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  return name;
}

// A child's rectangle in its parent's client coordinates.
RECT placeOf(HWND child) {
  RECT r;
  ::GetWindowRect(child, &r);
  ::MapWindowPoints(HWND_DESKTOP, ::GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

::testing::AssertionResult sameRect(const RECT& a, const RECT& b) {
  if (::EqualRect(&a, &b)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "(" << a.left << "," << a.top << ")-(" << a.right << "," << a.bottom
                                       << ") != (" << b.left << "," << b.top << ")-(" << b.right << "," << b.bottom
                                       << ")";
}

bool timerRunning(WindowSession& s) {
  // Stopping a timer that exists succeeds; one that was stopped already is not there.
  return ::KillTimer(s.main(), ui::AutoBootTimerId) != FALSE;
}

TEST(MainWindowTest, ChildrenAndLayoutFollowTheDisplay) {
  struct Case {
    const char* platform;
    int width, height, buttonWidth;
    POINT flags;  // where the Main page's first flag box lands, in page pixels
  };
  const Case cases[] = {
      {"Compaq iPAQ H3600", 240, 320, 50, {5, 140}},
      {"HP Jornada 720 (US/UK)", 640, 240, 75, {250, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.platform);
    WindowSession s(c.platform);
    int status = s.run([&](WindowSession& s) {
      EXPECT_EQ(textOf(s.main()), L"KESTREL Build 15");
      RECT client;
      ::GetClientRect(s.main(), &client);
      EXPECT_TRUE(sameRect(client, RECT{0, 0, c.width, c.height}));

      WNDCLASSW cls{};
      ASSERT_TRUE(::GetClassInfoW(::GetModuleHandleW(nullptr), L"KESTREL", &cls));
      EXPECT_EQ(cls.cbWndExtra, 4);
      EXPECT_EQ(cls.cbClsExtra, 0);
      EXPECT_EQ(cls.hbrBackground, ::GetStockObject(LTGRAY_BRUSH));
      EXPECT_NE(cls.hIcon, nullptr);

      const int h = s.window().commandBarHeight();
      const int w = c.buttonWidth;
      EXPECT_EQ(h, 26);  // both screens are 96 dpi
      EXPECT_EQ(s.window().buttonWidth(), w);
      struct Child {
        int id;
        const wchar_t* cls;
        const wchar_t* text;
        RECT place;
      };
      const Child children[] = {
          {3, L"KestrelTitleStrip", L"", {0, 0, c.width, h}},
          {5, L"Button", L"Boot", {0, h, w, 2 * h}},
          {6, L"Button", L"Cancel", {c.width - w, h, c.width, 2 * h}},
          {4, L"msctls_progress32", L"", {w, h, c.width - w, 2 * h}},
          {7, L"SysTabControl32", L"", {0, 2 * h, c.width, c.height}},
      };
      for (const Child& child : children) {
        SCOPED_TRACE(child.id);
        HWND control = ::GetDlgItem(s.main(), child.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(::lstrcmpiW(classOf(control).c_str(), child.cls), 0) << classOf(control).c_str();
        EXPECT_EQ(textOf(control), child.text);
        EXPECT_TRUE(sameRect(placeOf(control), child.place));
      }
      EXPECT_EQ(s.window().application().commandBar, ::GetDlgItem(s.main(), 3));
      LONG buttonStyle = ::GetWindowLongW(s.boot(), GWL_STYLE);
      EXPECT_EQ(buttonStyle & (WS_TABSTOP | BS_NOTIFY | WS_VISIBLE), WS_TABSTOP | BS_NOTIFY | WS_VISIBLE);
      LONG tabStyle = ::GetWindowLongW(s.tabs(), GWL_STYLE);
      EXPECT_EQ(tabStyle & (TCS_VERTICAL | TCS_MULTILINE | WS_TABSTOP), TCS_VERTICAL | TCS_MULTILINE | WS_TABSTOP);
      PBRANGE range{};
      ::SendMessageW(s.window().progressBar()->handle(), PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
      EXPECT_EQ(range.iLow, 0);
      EXPECT_EQ(range.iHigh, 11);
      EXPECT_EQ(s.progress(), 0);

      // Three image tabs without text, each carrying its page; 16 x 36 images.
      ASSERT_EQ(::SendMessageW(s.tabs(), TCM_GETITEMCOUNT, 0, 0), 3);
      auto images = reinterpret_cast<HIMAGELIST>(::SendMessageW(s.tabs(), TCM_GETIMAGELIST, 0, 0));
      ASSERT_NE(images, nullptr);
      EXPECT_EQ(::ImageList_GetImageCount(images), 3);
      int iw = 0, ih = 0;
      ::ImageList_GetIconSize(images, &iw, &ih);
      EXPECT_EQ(iw, 16);
      EXPECT_EQ(ih, 36);
      for (int k = 0; k < 3; ++k) {
        wchar_t text[16] = L"x";
        TCITEMW item{};
        item.mask = TCIF_IMAGE | TCIF_PARAM | TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = 16;
        ASSERT_TRUE(::SendMessageW(s.tabs(), TCM_GETITEMW, k, reinterpret_cast<LPARAM>(&item)));
        EXPECT_EQ(item.iImage, k);
        EXPECT_EQ(reinterpret_cast<ui::TabPage*>(item.lParam), s.window().page(k));
        EXPECT_EQ(text[0], L'\0');
      }

      // Page 0 shown in the display area, the others hidden; the Boot button has the focus.
      EXPECT_TRUE(::IsWindowVisible(s.page(0)));
      EXPECT_FALSE(::IsWindowVisible(s.page(1)));
      EXPECT_FALSE(::IsWindowVisible(s.page(2)));
      EXPECT_EQ(::GetParent(s.page(0)), s.tabs());
      const RECT& display = s.window().page(0)->display();
      EXPECT_GT(display.left, 0);  // right of the tab strip
      EXPECT_TRUE(sameRect(placeOf(s.page(0)), RECT{display.left, 0, display.right,
                                                    display.bottom - display.top}));
      EXPECT_EQ(::GetFocus(), s.boot());
      // The flag boxes are placed for the screen (96 dpi: units are pixels).
      RECT flag = placeOf(::GetDlgItem(s.page(0), 152));
      EXPECT_EQ(flag.left, c.flags.x);
      EXPECT_EQ(flag.top, c.flags.y);
      RECT speed = placeOf(::GetDlgItem(s.page(0), 154));
      EXPECT_EQ(speed.left, c.flags.x + 100);
      EXPECT_EQ(speed.top, c.flags.y + 80);

      s.click(s.cancel());
    });
    EXPECT_EQ(status, 0);
  }
}

TEST(MainWindowTest, SwitchingPagesHidesTheOneLeftBeforeShowingTheOneSelected) {
  WindowSession s;
  s.run([](WindowSession& s) {
    // Every show and hide of a page, in order, as the pages receive them.
    static std::vector<std::pair<HWND, bool>> seen;
    seen.clear();
    HHOOK hook = ::SetWindowsHookExW(
        WH_CALLWNDPROC,
        [](int code, WPARAM w, LPARAM l) -> LRESULT {
          auto* m = reinterpret_cast<CWPSTRUCT*>(l);
          if (code == HC_ACTION && m->message == WM_SHOWWINDOW) seen.emplace_back(m->hwnd, m->wParam != 0);
          return ::CallNextHookEx(nullptr, code, w, l);
        },
        nullptr, ::GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    s.clickTab(1);
    EXPECT_EQ(::SendMessageW(s.tabs(), TCM_GETCURSEL, 0, 0), 1);  // never refused
    EXPECT_FALSE(::IsWindowVisible(s.page(0)));
    EXPECT_TRUE(::IsWindowVisible(s.page(1)));
    s.clickTab(2);
    EXPECT_FALSE(::IsWindowVisible(s.page(1)));
    EXPECT_TRUE(::IsWindowVisible(s.page(2)));
    ::UnhookWindowsHookEx(hook);
    const std::vector<std::pair<HWND, bool>> expected = {
        {s.page(0), false}, {s.page(1), true}, {s.page(1), false}, {s.page(2), true}};
    EXPECT_EQ(seen, expected);
    // The page shown sits in the display area, at the top of the tab control.
    const RECT& display = s.window().page(2)->display();
    EXPECT_TRUE(sameRect(placeOf(s.page(2)), RECT{display.left, 0, display.right, display.bottom - display.top}));
    s.click(s.cancel());
  });
}

TEST(MainWindowTest, KeyboardCycleBetweenRowTabStripAndPage) {
  // With the serial console on, the speed list (the page's last control) is enabled.
  WindowSession s("Compaq iPAQ H3600", [](Settings& c) { c.serialConsole = 1; });
  s.run([](WindowSession& s) {
    HWND mainFirst = ::GetDlgItem(s.page(0), 1001);
    HWND mainLast = ::GetDlgItem(s.page(0), 154);
    ASSERT_EQ(s.focus(), s.boot());
    // Forward: Boot, Cancel, tab strip, the page's first control; from its last control back
    // to the tab strip.
    s.key(VK_TAB);
    EXPECT_EQ(s.focus(), s.cancel());
    s.key(VK_TAB);
    EXPECT_EQ(s.focus(), s.tabs());
    s.key(VK_TAB);
    EXPECT_EQ(s.focus(), mainFirst);
    ::SetFocus(mainLast);  // an editable combo box: the focus is in its edit field
    ASSERT_EQ(s.focus(), mainLast);
    ASSERT_NE(::GetFocus(), mainLast);
    s.key(VK_TAB);
    EXPECT_EQ(s.focus(), s.tabs());

    // Backward: Boot, tab strip, Cancel, Boot.
    ::SetFocus(s.boot());
    s.key(VK_TAB, true);
    EXPECT_EQ(s.focus(), s.tabs());
    s.key(VK_TAB, true);
    EXPECT_EQ(s.focus(), s.cancel());
    s.key(VK_TAB, true);
    EXPECT_EQ(s.focus(), s.boot());

    // Arrows in the row: Right and Down forward, Left and Up backward; Left on the strip to Cancel.
    struct Arrow {
      HWND from;
      WPARAM key;
      HWND to;
    };
    const Arrow arrows[] = {
        {s.boot(), VK_RIGHT, s.cancel()}, {s.boot(), VK_DOWN, s.cancel()}, {s.cancel(), VK_LEFT, s.boot()},
        {s.cancel(), VK_UP, s.boot()},    {s.boot(), VK_LEFT, s.tabs()},   {s.cancel(), VK_RIGHT, s.tabs()},
        {s.tabs(), VK_LEFT, s.cancel()},   {s.tabs(), VK_RIGHT, mainFirst},
    };
    for (const Arrow& a : arrows) {
      ::SetFocus(a.from);
      s.key(a.key);
      EXPECT_EQ(s.focus(), a.to) << "key " << a.key;
      // Moving the focus off the strip does not also turn the page.
      EXPECT_EQ(::SendMessageW(s.tabs(), TCM_GETCURSEL, 0, 0), 0);
      EXPECT_TRUE(::IsWindowVisible(s.page(0)));
    }
    // Other keys are not navigated.
    ::SetFocus(s.boot());
    s.key('A');
    EXPECT_EQ(s.focus(), s.boot());

    // The Option page's last control is an edit that asks for arrows: Right stays with it,
    // Tab still leaves for the tab strip.
    s.clickTab(1);
    HWND extra = ::GetDlgItem(s.page(1), 206);
    ::SetFocus(extra);
    s.key(VK_RIGHT);
    EXPECT_EQ(s.focus(), extra);
    s.key(VK_TAB);
    EXPECT_EQ(s.focus(), s.tabs());
    // Shift+Tab from a page's last control has no target: the page's own handling applies,
    // which keeps the focus inside the page.
    ::SetFocus(extra);
    s.key(VK_TAB, true);
    EXPECT_TRUE(::IsChild(s.page(1), ::GetFocus()));
    s.click(s.cancel());
  });
}

TEST(MainWindowTest, FocusComesBackAfterDeactivationOrAMenu) {
  WindowSession s;
  s.run([](WindowSession& s) {
    struct Case {
      UINT leave, back;
      WPARAM leaveW, backW;
    };
    const Case cases[] = {{WM_ACTIVATE, WM_ACTIVATE, WA_INACTIVE, WA_ACTIVE},
                          {WM_ACTIVATE, WM_ACTIVATE, WA_INACTIVE, WA_CLICKACTIVE},
                          {WM_ENTERMENULOOP, WM_EXITMENULOOP, FALSE, FALSE}};
    for (const Case& c : cases) {
      SCOPED_TRACE(c.leave);
      ::SetFocus(s.cancel());
      ::SendMessageW(s.main(), c.leave, c.leaveW, 0);
      ::SetFocus(s.tabs());  // somebody else moved it meanwhile
      ::SendMessageW(s.main(), c.back, c.backW, 0);
      EXPECT_EQ(::GetFocus(), s.cancel());

      // A control disabled meanwhile does not get it back: the Boot button does.
      ::SetFocus(s.cancel());
      ::SendMessageW(s.main(), c.leave, c.leaveW, 0);
      ::SetFocus(s.tabs());
      ::EnableWindow(s.cancel(), FALSE);
      ::SendMessageW(s.main(), c.back, c.backW, 0);
      EXPECT_EQ(::GetFocus(), s.boot());
      ::EnableWindow(s.cancel(), TRUE);
    }
    s.click(s.cancel());
  });
}

TEST(MainWindowTest, OnlyAClickOnBootOrCancelActs) {
  WindowSession s("Compaq iPAQ H3600", [](Settings& c) { c.safetyMessage = 1; });
  s.run([](WindowSession& s) {
    // Focus and other notifications carry their code in the high word of wParam.
    const WORD codes[] = {BN_SETFOCUS, BN_KILLFOCUS, BN_DOUBLECLICKED};
    for (WORD code : codes) {
      ::SendMessageW(s.main(), WM_COMMAND, MAKEWPARAM(ui::BootButtonId, code), reinterpret_cast<LPARAM>(s.boot()));
      ::SendMessageW(s.main(), WM_COMMAND, MAKEWPARAM(ui::CancelButtonId, code),
                     reinterpret_cast<LPARAM>(s.cancel()));
    }
    s.pump();
    EXPECT_TRUE(s.boxes.empty());
    EXPECT_FALSE(s.quit);
    EXPECT_EQ(s.consoleText, u"");
    // A click asks first.
    s.answer = [](const kestrel_testing::Box&) { return ce::IdNo; };
    s.click(s.boot());
    ASSERT_EQ(s.boxes.size(), 1u);
    EXPECT_EQ(s.boxes[0].caption, u"WARNING");
    s.click(s.cancel());
  });
}

TEST(MainWindowTest, BootAsksWhenTheSafetyMessageIsOn) {
  struct Case {
    std::uint32_t safety, pause;
    int answer;
    bool asks;
    unsigned icon;
    bool boots;
  };
  const Case cases[] = {
      {1, 1, ce::IdYes, true, MB_ICONQUESTION, true},
      {1, 0, ce::IdYes, true, MB_ICONEXCLAMATION, true},
      {1, 0, ce::IdNo, true, MB_ICONEXCLAMATION, false},
      {0, 0, ce::IdNo, false, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "safety " << c.safety << " pause " << c.pause << " answer " << c.answer);
    WindowSession s("Compaq iPAQ H3600", [&](Settings& config) {
      config.safetyMessage = c.safety;
      config.pauseBeforeBoot = c.pause;
    });
    const std::string before = configFile(s);
    // A page that says when it was collected.
    // It stands in for the Main tab and changes one of its fields, so a save shows.
    struct Spy final : kestrel::SettingsPage {
      void saveToSettings() override {
        ++collected;
        kestrel::settings().bootVerbose = 1;
      }
      int collected = 0;
    } spy;
    s.answer = [&](const kestrel_testing::Box& box) {
      return box.caption == u"WARNING" ? c.answer : ce::IdYes;
    };
    s.run([&](WindowSession& s) {
      kestrel::settings().mainTab = &spy;
      s.click(s.boot());
      kestrel::settings().mainTab = nullptr;
      std::size_t next = 0;
      if (c.asks) {
        ASSERT_GE(s.boxes.size(), 1u);
        EXPECT_EQ(s.boxes[0].caption, u"WARNING");
        EXPECT_EQ(s.boxes[0].text, u"Data in memory will be lost.\nAre you sure?");
        EXPECT_EQ(s.boxes[0].type, static_cast<unsigned>(MB_YESNO | c.icon));
        next = 1;
      }
      // Collected before the question, whatever the answer.
      EXPECT_GE(spy.collected, 1);
      if (c.boots) {
        EXPECT_EQ(s.consoleText.rfind(u"BOOT START\n", 0), 0u);
        EXPECT_NE(configFile(s), before);  // saved as the boot started
        EXPECT_EQ(handheld::processor().jumpCount, 1);
        if (c.pause) {
          ASSERT_GT(s.boxes.size(), next);
          EXPECT_EQ(s.boxes[next].caption, u"Last chance...");
          ++next;
        }
        ASSERT_EQ(s.boxes.size(), next + 1);
        EXPECT_EQ(s.boxes[next].caption, u"BOOT FAILED");
        EXPECT_EQ(s.boxes[next].text, u"Can't jump to the kernel.\n");
      } else {
        EXPECT_EQ(s.boxes.size(), 1u);
        EXPECT_EQ(s.consoleText, u"");
        EXPECT_EQ(configFile(s), before);  // not saved
        EXPECT_EQ(handheld::processor().jumpCount, 0);
      }
      s.click(s.cancel());
    });
  }
}

TEST(MainWindowTest, AFailedBootResetsTheBarAndTheNextRunsEveryStep) {
  // Root device md without an image file: the boot stops at step "3".
  WindowSession s("Compaq iPAQ H3600", [](Settings& c) {
    c.rootDevice = 2;
    kestrel::setText(c.fsImagePath, u"missing.fs");
  });
  s.run([](WindowSession& s) {
    s.click(s.boot());
    ASSERT_EQ(s.boxes.size(), 1u);
    EXPECT_EQ(s.boxes[0].caption, u"BOOT FAILED");
    EXPECT_EQ(s.boxes[0].text, u"Can't open file system image.\n");
    EXPECT_EQ(s.boxes[0].progress, 4);  // steps "0" to "3"
    EXPECT_EQ(s.progress(), 0);
    EXPECT_NE(s.consoleText.find(u"[progress] 3\n"), std::u16string::npos);
    EXPECT_EQ(s.consoleText.find(u"[progress] 4\n"), std::u16string::npos);

    // The window is usable again: the next attempt (without the image) runs all eleven steps.
    s.click(::GetDlgItem(s.page(0), 101));  // "wd"
    s.consoleText.clear();
    s.click(s.boot());
    ASSERT_EQ(s.boxes.size(), 2u);
    EXPECT_EQ(s.boxes[1].text, u"Can't jump to the kernel.\n");
    EXPECT_EQ(s.boxes[1].progress, 11);
    EXPECT_EQ(s.progress(), 0);
    std::u16string expected = u"BOOT START\n[progress] 0\n[progress] 1\n";
    EXPECT_EQ(s.consoleText.substr(0, expected.size()), expected);
    EXPECT_NE(s.consoleText.find(u"[progress] 10\n"), std::u16string::npos);
    s.click(s.cancel());
  });
}

TEST(MainWindowTest, AutoBootStartsAfterItsDelayWithoutAsking) {
  WindowSession s("Compaq iPAQ H3900", [](Settings& c) {
    c.autoBootSeconds = 1;
    c.safetyMessage = 1;
  });
  s.run([](WindowSession& s) {
    EXPECT_TRUE(s.boxes.empty());
    ASSERT_TRUE(s.pumpUntil([&] { return !s.boxes.empty(); }, 30));
    ASSERT_EQ(s.boxes.size(), 1u);  // no warning
    EXPECT_EQ(s.boxes[0].text, u"Can't jump to the kernel.\n");
    EXPECT_EQ(handheld::processor().jumpCount, 1);
    EXPECT_EQ(s.consoleText.rfind(u"BOOT START\n", 0), 0u);
    // Once only: the timer was stopped before the boot.
    EXPECT_FALSE(timerRunning(s));
    s.click(s.cancel());
  });
}

TEST(MainWindowTest, AKeyOrATapDuringTheCountdownStopsItForGood) {
  struct Case {
    const char* what;
    UINT message;
    WPARAM w;
  };
  const Case cases[] = {{"key", WM_KEYDOWN, 'X'}, {"tap", WM_LBUTTONDOWN, MK_LBUTTON}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WindowSession s("Compaq iPAQ H3600", [](Settings& config) { config.autoBootSeconds = 1; });
    s.run([&](WindowSession& s) {
      // On any window of the program: here a page's control.
      HWND target = ::GetDlgItem(s.page(0), 152);
      ::PostMessageW(target, c.message, c.w, MAKELPARAM(1, 1));
      if (c.message == WM_LBUTTONDOWN) ::PostMessageW(target, WM_LBUTTONUP, 0, MAKELPARAM(1, 1));
      s.pump();
      EXPECT_FALSE(timerRunning(s));
      EXPECT_TRUE(s.boxes.empty());
      EXPECT_EQ(handheld::processor().jumpCount, 0);
      // Boot still works.
      s.click(s.boot());
      ASSERT_EQ(s.boxes.size(), 1u);
      EXPECT_EQ(s.boxes[0].text, u"Can't jump to the kernel.\n");
      s.click(s.cancel());
    });
  }
  // Without input the timer runs (the checks above are not vacuous).
  WindowSession s("Compaq iPAQ H3600", [](Settings& config) { config.autoBootSeconds = 100; });
  s.run([](WindowSession& s) {
    EXPECT_TRUE(timerRunning(s));
    s.click(s.cancel());
  });
}

TEST(MainWindowTest, AutoBootPeriodIsCappedAt32Bits) {
  struct Case {
    std::int32_t seconds;
    std::uint32_t milliseconds;
  };
  const Case cases[] = {{1, 1000},
                        {10, 10000},
                        {4294967, 4294967000u},
                        {4294968, 0xFFFFFFFFu},
                        {0x7FFFFFFF, 0xFFFFFFFFu}};
  for (const Case& c : cases) EXPECT_EQ(ui::autoBootPeriod(c.seconds), c.milliseconds) << c.seconds;
}

TEST(MainWindowTest, CancelAndTheCloseBoxEndTheProgramWithoutSaving) {
  struct Case {
    const char* what;
    std::int32_t autoBoot;
    bool closeBox;
  };
  const Case cases[] = {{"Cancel", 0, false}, {"Cancel during the countdown", 1, false}, {"close box", 0, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WindowSession s("Compaq iPAQ H3600", [&](Settings& config) { config.autoBootSeconds = c.autoBoot; });
    const std::string before = configFile(s);
    int status = s.run([&](WindowSession& s) {
      if (c.closeBox) {
        HWND strip = s.window().application().commandBar;
        RECT box = ui::titleStripCloseBox(strip);
        LPARAM at = MAKELPARAM((box.left + box.right) / 2, (box.top + box.bottom) / 2);
        ::PostMessageW(strip, WM_LBUTTONDOWN, MK_LBUTTON, at);
        ::PostMessageW(strip, WM_LBUTTONUP, 0, at);
      } else {
        ::PostMessageW(s.cancel(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
        ::PostMessageW(s.cancel(), WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
      }
      // The steps end here; the program's own loop runs on until the quit message.
    });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(s.boxes.empty());
    EXPECT_EQ(handheld::processor().jumpCount, 0);
    EXPECT_EQ(configFile(s), before);
  }
}

TEST(MainWindowTest, TearDownInOrderAfterAFailedAttempt) {
  WindowSession s("Compaq iPAQ H3600", [](Settings& c) { kestrel::setText(c.kernelFile, u"nothing-here"); });
  HWND main = nullptr;
  s.program().beforeDestroyMainWindow = [&] {
    // The window and its object are still there; the settings still point at them.
    EXPECT_TRUE(::IsWindow(main));
    EXPECT_EQ(kestrel::settings().ownerWindow(), main);
  };
  s.program().beforeDestroyApplication = [&] {
    EXPECT_FALSE(::IsWindow(main));
    EXPECT_EQ(kestrel::settings().mainWindow, nullptr);
    EXPECT_EQ(kestrel::settings().mainTab, nullptr);
    EXPECT_EQ(kestrel::settings().optionTab, nullptr);
    EXPECT_NE(s.program().application(), nullptr);
  };
  int status = s.run([&](WindowSession& s) {
    main = s.main();
    s.click(s.boot());
    ASSERT_EQ(s.boxes.size(), 1u);
    EXPECT_EQ(s.boxes[0].text, u"Can't open kernel image.\n");
    s.click(s.cancel());
  });
  EXPECT_EQ(status, 0);
  const std::vector<std::string> expected = {"createApplication",       "createMainWindowObject", "registerWindowClass",
                                             "createWindow",            "messageLoop",            "destroyMainWindowObject",
                                             "destroyApplication"};
  EXPECT_EQ(s.program().calls, expected);
  // Nothing of the program is left: the class can be registered by the next one.
  WNDCLASSW cls{};
  EXPECT_FALSE(::GetClassInfoW(::GetModuleHandleW(nullptr), L"KESTREL", &cls));
  EXPECT_EQ(s.program().application(), nullptr);
}

TEST(MainWindowTest, AClassThatCannotBeRegisteredEndsTheProgramWithZero) {
  // Somebody holds the class name already: registering it fails.
  WNDCLASSW other{};
  other.lpfnWndProc = ::DefWindowProcW;
  other.hInstance = ::GetModuleHandleW(nullptr);
  other.lpszClassName = L"KESTREL";
  ASSERT_TRUE(::RegisterClassW(&other));
  WindowSession s("Compaq iPAQ H3600", [](Settings& c) { c.autoBootSeconds = 1; });
  bool looped = false;
  int status = s.run([&](WindowSession&) { looped = true; });
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(looped);
  const std::vector<std::string> expected = {"createApplication", "createMainWindowObject", "registerWindowClass",
                                             "destroyMainWindowObject", "destroyApplication"};
  EXPECT_EQ(s.program().calls, expected);
  // The class that was there is left alone.
  EXPECT_TRUE(::UnregisterClassW(L"KESTREL", ::GetModuleHandleW(nullptr)));
}

}  // namespace
