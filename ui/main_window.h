// The main window: the program's one top-level window, as large as the handheld's screen.
// The title strip across the top, the row with Boot, the progress bar and Cancel under it,
// and the tab frame with its three pages below. It owns these objects, remembers where the
// focus was while the window is inactive, moves the focus between the row, the tab strip and
// the pages, and is the front end's BootWindow: the boot's progress and message-box owner.
#pragma once
#include <windows.h>

#include <cstdint>

#include "boot/front_end.h"
#include "platform/heap.h"
#include "ui/boot_controls.h"
#include "ui/tab_window.h"
#include "ui/window.h"

namespace kestrel::ui {

// Where the children go in a client rectangle, for a strip H pixels tall on a screen
// `screenWidth` pixels wide.
struct MainLayout {
  int buttonWidth;
  RECT boot, cancel, progress, tabs;
};
MainLayout mainLayout(const RECT& client, int stripHeight, int screenWidth);

class MainWindow final : public Window, public BootWindow {
 public:
  explicit MainWindow(Application& application);
  ~MainWindow() override;

  // Creates, shows and paints the window, and starts the auto-boot timer when the settings
  // ask for auto boot. False when the window cannot be made.
  bool create() override;
  BOOL handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
  // Keyboard navigation between the row, the tab strip and the visible page; nonzero when
  // the message was consumed (the loop then neither translates nor dispatches it).
  BOOL preTranslate(MSG* message);
  // Stops the auto-boot countdown.
  void cancelAutoBoot();

  // BootWindow
  void stepProgress(const char* label) override;
  void resetProgress() override;
  ce::HWND window() const override { return window_; }
  ce::HINSTANCE instance() const override;

  BootButton* bootButton() const { return boot_.get(); }
  CancelButton* cancelButton() const { return cancel_.get(); }
  ProgressBar* progressBar() const { return progress_.get(); }
  TabWindow* tabWindow() const { return tabs_.get(); }
  TabPage* page(int index) const;
  // The first page whose dialog is visible; null when none is.
  TabPage* visiblePage() const;
  int buttonWidth() const { return buttonWidth_; }
  int commandBarHeight() const { return commandBarHeight_; }

 private:
  void buildChildren(HWND window);
  void onNotify(const NMHDR& header);
  bool tabStripKey(WORD key);
  void rememberFocus();
  void restoreFocus();
  HWND handleOf(const Window* object) const { return object ? object->handle() : nullptr; }

  ce::HeapPtr<BootButton> boot_;
  ce::HeapPtr<CancelButton> cancel_;
  ce::HeapPtr<ProgressBar> progress_;
  ce::HeapPtr<TabWindow> tabs_;
  ce::HeapPtr<TabPage> mainTab_, optionTab_, consoleTab_;
  int buttonWidth_ = 0;
  int commandBarHeight_ = 0;
  HWND focus_ = nullptr;
};

}  // namespace kestrel::ui
