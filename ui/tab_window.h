// The tab frame: the tab control with its three image tabs on the left edge, and the pages it
// switches between, each a modeless dialog that is a child of the tab control.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include "boot/front_end.h"
#include "ui/window.h"

namespace kestrel::ui {

class MainWindow;

constexpr int TabControlId = 7;
enum PageIndex { MainPage = 0, OptionPage = 1, ConsolePage = 2, PageCount = 3 };
// The tab images, 16 x 36 pixels each.
constexpr int TabImageWidth = 16;
constexpr int TabImageHeight = 36;

class TabWindow final : public Window {
 public:
  TabWindow(Application& application, MainWindow& owner, const RECT& layout);
  ~TabWindow() override;
  bool create() override;
  const RECT& layout() const { return layout_; }

 private:
  RECT layout_;
  int id_ = TabControlId;
  MainWindow& owner_;
  HIMAGELIST images_ = nullptr;
};

class TabPage : public Window {
 public:
  TabPage(Application& application, TabWindow& tabs, int index, const wchar_t* resourceName);
  ~TabPage() override;

  BOOL handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
  // Loads the page's dialog resource and creates the dialog; onInit runs meanwhile.
  bool create() override;
  // The base part: inserts the page's tab, fits the display rectangle into the tab
  // control's display area and hides the page. A page's own onInit records its dialog and
  // calls this first.
  virtual void onInit(HWND dialog);
  virtual void onCommand(int id, int notification) {}
  virtual void hide();
  virtual void show();

  HWND dialog() const { return window_; }
  int index() const { return index_; }
  const RECT& display() const { return display_; }
  // The first and the last control of the page in tab order; null when it has none.
  HWND firstControl() const;
  HWND lastControl() const;

 protected:
  TabWindow& tabs_;
  RECT display_{};
  int index_;
  const wchar_t* resourceName_;
};

// The page factory: 0 a MainTab, 1 an OptionTab, 2 a ConsoleTab, bound to `tabs`, recorded in
// the settings and created. Null for any other index (and when the page cannot be made).
TabPage* makePage(int index, Application& application, TabWindow& tabs);

// A capability of the handheld's screen (ce::HorzRes, ce::LogPixelsX, ...).
int screenCaps(int index);
// Lengths of the pages are given in 96-dpi units; these turn them into the screen's pixels.
int horizontalPixels(int units);
int verticalPixels(int units);

// The Main page's flag check boxes (and the speed list beside the last one), placed for the
// screen: a second column right of the upper controls on a wide, low screen, below them
// otherwise. Returns the column's origin in 96-dpi units.
POINT mainFlagColumn(int screenWidth, int screenHeight);

}  // namespace kestrel::ui
