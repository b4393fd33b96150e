#include "ui/main_window.h"

#include <commctrl.h>

#include <cwchar>

#include "boot/boot_sequence.h"
#include "boot/settings.h"
#include "boot/version.h"
#include "console/console.h"
#include "platform/display.h"
#include "platform/resources.h"
#include "resources/strings.h"
#include "ui/application.h"
#include "ui/console_tab.h"
#include "ui/main_tab.h"
#include "ui/option_tab.h"
#include "ui/title_strip.h"

namespace kestrel::ui {

namespace {

bool shiftHeld() { return ::GetKeyState(VK_SHIFT) < 0; }

}  // namespace

MainLayout mainLayout(const RECT& client, int stripHeight, int screenWidth) {
  MainLayout l{};
  const int h = stripHeight;
  // 50 pixels, half as much again on a screen wider than a QVGA one is tall.
  l.buttonWidth = screenWidth > 320 ? 50 + 50 / 2 : 50;
  const int w = l.buttonWidth;
  RECT r = client;
  r.top += h;
  l.boot = RECT{r.left, r.top, r.left + w, r.top + h};
  l.cancel = RECT{r.right - w, r.top, r.right, r.top + h};
  l.progress = RECT{r.left + w, r.top, r.left + w + (r.right - 2 * w - r.left), r.top + h};
  r.top += h;
  l.tabs = r;
  return l;
}

MainWindow::MainWindow(Application& application) : Window(application) {}

MainWindow::~MainWindow() {
  // The settings keep references to this window and its pages; none may outlive them.
  Settings& config = settings();
  if (config.mainWindow == this) config.mainWindow = nullptr;
  if (config.mainTab == static_cast<MainTab*>(mainTab_.get())) config.mainTab = nullptr;
  if (config.optionTab == static_cast<OptionTab*>(optionTab_.get())) config.optionTab = nullptr;
  if (config.consoleTab == static_cast<ConsoleTab*>(consoleTab_.get())) config.consoleTab = nullptr;
  boot_.reset();
  cancel_.reset();
  progress_.reset();
  mainTab_.reset();
  optionTab_.reset();
  consoleTab_.reset();
  tabs_.reset();
  if (window_ && ::IsWindow(window_)) {
    // Gone from the window word first, so that taking the window down posts no quit message
    // on behalf of an object that no longer runs a loop.
    ::SetWindowLongW(window_, 0, 0);
    ::DestroyWindow(window_);
  }
  window_ = nullptr;
}

ce::HINSTANCE MainWindow::instance() const { return application_.instance; }

bool MainWindow::create() {
  const HINSTANCE instance = application_.instance;
  wchar_t name[64];
  ce::LoadStringW(instance, resources::IdsClassName, reinterpret_cast<ce::WCHAR*>(name), 64);
  wchar_t title[96];
  std::swprintf(title, 96, L"%ls Build %d", name, BuildNumber);
  // The window is the handheld's screen: its client area is the display's size.
  const DWORD style = WS_VISIBLE;
  RECT frame{0, 0, screenCaps(ce::HorzRes), screenCaps(ce::VertRes)};
  ::AdjustWindowRectEx(&frame, style | WS_CAPTION, FALSE, 0);
  HWND window = ::CreateWindowExW(0, name, title, style, CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                                  frame.bottom - frame.top, nullptr, nullptr, instance, this);
  if (!window) return false;
  window_ = window;
  Settings& config = settings();
  if (config.autoBootSeconds > 0) {
    ::SetTimer(window_, AutoBootTimerId, autoBootPeriod(config.autoBootSeconds), nullptr);
  }
  ::ShowWindow(window_, SW_SHOWNORMAL);
  ::UpdateWindow(window_);
  return true;
}

void MainWindow::buildChildren(HWND window) {
  window_ = window;
  parent_ = nullptr;
  HWND strip = createTitleStrip(window, application_.instance);
  application_.commandBar = strip;
  commandBarHeight_ = titleStripHeight();

  RECT client;
  ::GetClientRect(window, &client);
  MainLayout layout = mainLayout(client, commandBarHeight_, screenCaps(ce::HorzRes));
  buttonWidth_ = layout.buttonWidth;
  boot_.reset(ce::heapNew<BootButton>(application_, *this, layout.boot));
  cancel_.reset(ce::heapNew<CancelButton>(application_, *this, layout.cancel));
  progress_.reset(ce::heapNew<ProgressBar>(application_, *this, layout.progress));
  if (boot_) boot_->create();
  if (cancel_) cancel_->create();
  if (progress_) progress_->create();

  settings().mainWindow = this;

  tabs_.reset(ce::heapNew<TabWindow>(application_, *this, layout.tabs));
  if (tabs_ && tabs_->create()) {
    mainTab_.reset(makePage(MainPage, application_, *tabs_));
    optionTab_.reset(makePage(OptionPage, application_, *tabs_));
    consoleTab_.reset(makePage(ConsolePage, application_, *tabs_));
  }
  if (mainTab_) mainTab_->show();
  if (boot_) ::SetFocus(boot_->handle());
}

TabPage* MainWindow::page(int index) const {
  switch (index) {
    case MainPage: return mainTab_.get();
    case OptionPage: return optionTab_.get();
    case ConsolePage: return consoleTab_.get();
    default: return nullptr;
  }
}

TabPage* MainWindow::visiblePage() const {
  for (int k = 0; k < PageCount; ++k) {
    TabPage* p = page(k);
    if (p && p->dialog() && ::IsWindowVisible(p->dialog())) return p;
  }
  return nullptr;
}

void MainWindow::rememberFocus() { focus_ = ::GetFocus(); }

void MainWindow::restoreFocus() {
  if (focus_ && ::IsWindow(focus_) && ::IsWindowEnabled(focus_)) {
    ::SetFocus(focus_);
  } else if (boot_) {
    ::SetFocus(boot_->handle());
  }
}

void MainWindow::onNotify(const NMHDR& header) {
  if (!tabs_ || header.hwndFrom != tabs_->handle()) return;
  HWND control = tabs_->handle();
  int current = static_cast<int>(::SendMessageW(control, TCM_GETCURSEL, 0, 0));
  TabPage* selected = nullptr;
  if (current >= 0) {
    TCITEMW item{};
    item.mask = TCIF_PARAM;
    if (::SendMessageW(control, TCM_GETITEMW, static_cast<WPARAM>(current), reinterpret_cast<LPARAM>(&item))) {
      selected = reinterpret_cast<TabPage*>(item.lParam);
    }
  }
  switch (header.code) {
    case TCN_SELCHANGING:
      if (selected) selected->hide();
      break;
    case TCN_SELCHANGE:
      if (selected) selected->show();
      break;
    case TCN_KEYDOWN: tabStripKey(reinterpret_cast<const NMTCKEYDOWN&>(header).wVKey); break;
    default: break;
  }
}

bool MainWindow::tabStripKey(WORD key) {
  TabPage* current = nullptr;
  if (tabs_) {
    int index = static_cast<int>(::SendMessageW(tabs_->handle(), TCM_GETCURSEL, 0, 0));
    TCITEMW item{};
    item.mask = TCIF_PARAM;
    if (index >= 0 &&
        ::SendMessageW(tabs_->handle(), TCM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item))) {
      current = reinterpret_cast<TabPage*>(item.lParam);
    }
  }
  HWND target = nullptr;
  if ((key == VK_TAB && shiftHeld()) || key == VK_LEFT) {
    target = handleOf(cancel_.get());
  } else if (key == VK_TAB || key == VK_RIGHT) {
    target = current ? current->firstControl() : nullptr;
  } else {
    return false;
  }
  if (target) ::SetFocus(target);
  return target != nullptr;
}

BOOL MainWindow::preTranslate(MSG* message) {
  TabPage* visible = visiblePage();
  if (message->message == WM_KEYDOWN) {
    HWND from = message->hwnd;
    // Left and Right on the tab strip move the focus (to Cancel, into the page). The tab
    // control would then also turn to the neighbouring page, hiding the one the focus just
    // went into, so these two never reach it.
    if (from && from == handleOf(tabs_.get()) && (message->wParam == VK_LEFT || message->wParam == VK_RIGHT)) {
      if (tabStripKey(static_cast<WORD>(message->wParam))) return TRUE;
    }
    HWND forward = nullptr, backward = nullptr;
    LRESULT code = 0;
    bool navigable = true;
    if (from && from == handleOf(boot_.get())) {
      forward = handleOf(cancel_.get());
      backward = handleOf(tabs_.get());
    } else if (from && from == handleOf(cancel_.get())) {
      forward = handleOf(tabs_.get());
      backward = handleOf(boot_.get());
    } else {
      HWND last = visible ? visible->lastControl() : nullptr;
      if (!last || (from != last && !::IsChild(last, from))) {
        navigable = false;
      } else {
        code = ::SendMessageW(last, WM_GETDLGCODE, message->wParam, reinterpret_cast<LPARAM>(message));
        forward = handleOf(tabs_.get());
      }
    }
    HWND target = nullptr;
    if (navigable) {
      switch (message->wParam) {
        case VK_TAB:
          if (!(code & DLGC_WANTTAB)) target = shiftHeld() ? backward : forward;
          break;
        case VK_LEFT:
        case VK_UP:
          if (!(code & DLGC_WANTARROWS)) target = backward;
          break;
        case VK_RIGHT:
        case VK_DOWN:
          if (!(code & DLGC_WANTARROWS)) target = forward;
          break;
        default: break;
      }
    }
    if (target) {
      ::SetFocus(target);
      return TRUE;
    }
  }
  return visible ? ::IsDialogMessageW(visible->dialog(), message) : FALSE;
}

void MainWindow::cancelAutoBoot() {
  if (window_) ::KillTimer(window_, AutoBootTimerId);
}

void MainWindow::stepProgress(const char* label) {
  if (label) currentConsole()->print(u"[progress] %S\n", label);
  if (progress_) progress_->step();
}

void MainWindow::resetProgress() {
  if (progress_) progress_->reset();
}

BOOL MainWindow::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: buildChildren(window); return TRUE;
    case WM_DESTROY: ::PostQuitMessage(0); return TRUE;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        rememberFocus();
      } else {
        restoreFocus();
      }
      return TRUE;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      ::BeginPaint(window, &ps);
      ::EndPaint(window, &ps);
      return TRUE;
    }
    case WM_NOTIFY: onNotify(*reinterpret_cast<const NMHDR*>(lParam)); return TRUE;
    case WM_COMMAND:
      // Only a click: a button's other notifications (focus, for one) carry a code in the
      // high word.
      if (wParam == BootButtonId) {
        pressBoot();
      } else if (wParam == CancelButtonId) {
        ::PostQuitMessage(0);
      }
      return TRUE;
    case WM_TIMER:
      ::KillTimer(window, AutoBootTimerId);
      startBoot();
      return TRUE;
    case WM_ENTERMENULOOP: rememberFocus(); return TRUE;
    case WM_EXITMENULOOP: restoreFocus(); return TRUE;
    default: return FALSE;
  }
}

}  // namespace kestrel::ui
