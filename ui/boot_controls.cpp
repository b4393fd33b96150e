#include "ui/boot_controls.h"

#include <commctrl.h>

#include "ui/application.h"
#include "ui/main_window.h"

namespace kestrel::ui {

RowControl::RowControl(Application& application, MainWindow& owner, const RECT& layout)
    : Window(application), layout_(layout), owner_(owner) {}

RowControl::~RowControl() {
  if (window_ && ::IsWindow(window_)) ::DestroyWindow(window_);
}

HWND RowControl::make(const wchar_t* className, const wchar_t* text, DWORD style, DWORD exStyle, int id) {
  parent_ = owner_.handle();
  window_ = ::CreateWindowExW(exStyle, className, text, style, layout_.left, layout_.top, layout_.right - layout_.left,
                              layout_.bottom - layout_.top, parent_,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), application_.instance, nullptr);
  // The buttons' text in the font the title strip uses. Without one they would get the
  // system font, which the desktop may draw wider than "Cancel" fits in 50 pixels.
  if (window_) ::SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(::GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  return window_;
}

bool BootButton::create() {
  return make(L"BUTTON", L"Boot", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | BS_NOTIFY, 0, BootButtonId);
}

bool CancelButton::create() {
  return make(L"BUTTON", L"Cancel", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | BS_NOTIFY, 0,
              CancelButtonId);
}

bool ProgressBar::create() {
  if (!make(PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, WS_EX_CLIENTEDGE, ProgressBarId)) return false;
  ::SendMessageW(window_, PBM_SETRANGE, 0, MAKELPARAM(0, ProgressSteps));
  ::SendMessageW(window_, PBM_SETSTEP, 1, 0);
  ::SendMessageW(window_, PBM_SETPOS, 0, 0);
  return true;
}

void ProgressBar::step() {
  if (!window_) return;
  ::SendMessageW(window_, PBM_STEPIT, 0, 0);
  ::UpdateWindow(window_);
}

void ProgressBar::reset() {
  if (!window_) return;
  ::SendMessageW(window_, PBM_SETPOS, 0, 0);
  ::UpdateWindow(window_);
}

int ProgressBar::position() const {
  return window_ ? static_cast<int>(::SendMessageW(window_, PBM_GETPOS, 0, 0)) : 0;
}

std::uint32_t autoBootPeriod(std::int32_t seconds) {
  if (seconds <= 0) return 0;
  std::uint64_t milliseconds = static_cast<std::uint64_t>(seconds) * 1000u;
  return milliseconds > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(milliseconds);
}

}  // namespace kestrel::ui
