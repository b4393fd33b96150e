#include "ui/tab_window.h"

#include <commctrl.h>

#include "boot/settings.h"
#include "platform/display.h"
#include "platform/heap.h"
#include "ui/application.h"
#include "ui/console_tab.h"
#include "ui/main_tab.h"
#include "ui/main_window.h"
#include "ui/option_tab.h"

namespace kestrel::ui {

int screenCaps(int index) {
  ce::HDC screen = ce::GetDC(nullptr);
  int value = ce::GetDeviceCaps(screen, index);
  ce::ReleaseDC(nullptr, screen);
  return value;
}

namespace {

// The tab images in tab order: the Main page's says "kernel".
const wchar_t* const tabImages[PageCount] = {L"IDI_KESMENU_MAIN", L"IDI_KESMENU_OPTION", L"IDI_KESMENU_CONSOLE"};

}  // namespace

int horizontalPixels(int units) { return units * screenCaps(ce::LogPixelsX) / 96; }
int verticalPixels(int units) { return units * screenCaps(ce::LogPixelsY) / 96; }

TabWindow::TabWindow(Application& application, MainWindow& owner, const RECT& layout)
    : Window(application), layout_(layout), owner_(owner) {}

TabWindow::~TabWindow() {
  if (window_ && ::IsWindow(window_)) ::DestroyWindow(window_);
  if (images_) ::ImageList_Destroy(images_);
}

bool TabWindow::create() {
  parent_ = owner_.handle();
  window_ = ::CreateWindowExW(0, WC_TABCONTROLW, L"",
                              WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP | TCS_VERTICAL | TCS_MULTILINE,
                              layout_.left, layout_.top, layout_.right - layout_.left, layout_.bottom - layout_.top,
                              parent_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id_)), application_.instance,
                              nullptr);
  if (!window_) return false;
  images_ = ::ImageList_Create(TabImageWidth, TabImageHeight, ILC_COLOR8, PageCount, 0);
  if (images_) {
    for (const wchar_t* name : tabImages) {
      HBITMAP bitmap = ::LoadBitmapW(application_.instance, name);
      if (!bitmap) continue;
      ::ImageList_Add(images_, bitmap, nullptr);
      ::DeleteObject(bitmap);
    }
  }
  ::SendMessageW(window_, TCM_SETPADDING, 0, MAKELPARAM(1, 1));
  ::SendMessageW(window_, TCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images_));
  return true;
}

TabPage::TabPage(Application& application, TabWindow& tabs, int index, const wchar_t* resourceName)
    : Window(application), tabs_(tabs), index_(index), resourceName_(resourceName) {}

TabPage::~TabPage() {
  if (window_ && ::IsWindow(window_)) {
    // No message may reach this page once it is gone.
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    ::DestroyWindow(window_);
  }
}

BOOL TabPage::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: onInit(window); return TRUE;
    case WM_COMMAND: onCommand(LOWORD(wParam), HIWORD(wParam)); return TRUE;
    default: return FALSE;
  }
}

bool TabPage::create() {
  parent_ = tabs_.handle();
  if (!parent_) return false;
  // Resource names match without regard to case: "WMain" finds WMAIN.
  HRSRC found = ::FindResourceW(application_.instance, resourceName_, MAKEINTRESOURCEW(5) /* RT_DIALOG */);
  if (!found) return false;
  HGLOBAL loaded = ::LoadResource(application_.instance, found);
  auto* dialogTemplate = loaded ? static_cast<const DLGTEMPLATE*>(::LockResource(loaded)) : nullptr;
  if (!dialogTemplate) return false;
  HWND dialog = ::CreateDialogIndirectParamW(application_.instance, dialogTemplate, parent_, dialogTrampoline,
                                             reinterpret_cast<LPARAM>(this));
  if (!dialog) return false;
  window_ = dialog;
  return true;
}

void TabPage::onInit(HWND dialog) {
  window_ = dialog;
  TCITEMW item{};
  item.mask = TCIF_IMAGE | TCIF_PARAM;
  item.iImage = index_;
  item.lParam = reinterpret_cast<LPARAM>(this);
  ::SendMessageW(tabs_.handle(), TCM_INSERTITEMW, static_cast<WPARAM>(index_), reinterpret_cast<LPARAM>(&item));
  display_ = tabs_.layout();
  ::SendMessageW(tabs_.handle(), TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display_));
  hide();
}

void TabPage::hide() {
  if (window_) ::ShowWindow(window_, SW_HIDE);
}

void TabPage::show() {
  if (!window_) return;
  ::MoveWindow(window_, display_.left, 0, display_.right - display_.left, display_.bottom - display_.top, TRUE);
  ::ShowWindow(window_, SW_SHOW);
}

namespace {

// A control the focus can reach with Tab: a visible, enabled tab stop.
bool tabStop(HWND control) {
  LONG style = ::GetWindowLongW(control, GWL_STYLE);
  return (style & WS_TABSTOP) && (style & WS_VISIBLE) && !(style & WS_DISABLED);
}

}  // namespace

// The tab order is the order of the dialog's controls.
HWND TabPage::firstControl() const {
  if (!window_) return nullptr;
  for (HWND c = ::GetWindow(window_, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
    if (tabStop(c)) return c;
  }
  return nullptr;
}

HWND TabPage::lastControl() const {
  if (!window_) return nullptr;
  HWND last = nullptr;
  for (HWND c = ::GetWindow(window_, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
    if (tabStop(c)) last = c;
  }
  return last;
}

POINT mainFlagColumn(int screenWidth, int screenHeight) {
  if (screenWidth > 320 && screenHeight <= 240) return {250, 5};
  return {5, 140};
}

TabPage* makePage(int index, Application& application, TabWindow& tabs) {
  Settings& config = settings();
  TabPage* page = nullptr;
  switch (index) {
    case MainPage: {
      auto* tab = ce::heapNew<MainTab>(application, tabs);
      config.mainTab = tab;
      page = tab;
      break;
    }
    case OptionPage: {
      auto* tab = ce::heapNew<OptionTab>(application, tabs);
      config.optionTab = tab;
      page = tab;
      break;
    }
    case ConsolePage: {
      auto* tab = ce::heapNew<ConsoleTab>(application, tabs);
      config.consoleTab = tab;
      page = tab;
      break;
    }
    default: return nullptr;
  }
  if (page) page->create();
  return page;
}

}  // namespace kestrel::ui
