// The row under the title strip: Boot at the left, the progress bar in the middle, Cancel at
// the right. What the buttons do is the main window's (its command message); these objects
// make the controls.
#pragma once
#include <windows.h>

#include <cstdint>

#include "ui/window.h"

namespace kestrel::ui {

class MainWindow;

constexpr int ProgressBarId = 4;
constexpr int BootButtonId = 5;
constexpr int CancelButtonId = 6;
// The progress bar's range: eleven steps, "0" to "10", fill it exactly.
constexpr int ProgressSteps = 11;
// The auto-boot timer of the main window.
constexpr UINT_PTR AutoBootTimerId = 2;

// A control of the row: its layout rectangle (main-window client pixels) and its owner.
class RowControl : public Window {
 public:
  RowControl(Application& application, MainWindow& owner, const RECT& layout);
  ~RowControl() override;
  const RECT& layout() const { return layout_; }

 protected:
  HWND make(const wchar_t* className, const wchar_t* text, DWORD style, DWORD exStyle, int id);
  RECT layout_;
  MainWindow& owner_;
};

class BootButton final : public RowControl {
 public:
  using RowControl::RowControl;
  bool create() override;
};

class CancelButton final : public RowControl {
 public:
  using RowControl::RowControl;
  bool create() override;
};

class ProgressBar final : public RowControl {
 public:
  using RowControl::RowControl;
  bool create() override;
  // One step forward, shown at once (the boot keeps the message loop waiting).
  void step();
  void reset();
  int position() const;
};

// The auto-boot period in milliseconds: seconds x 1000, or the largest 32-bit period when
// that does not fit.
std::uint32_t autoBootPeriod(std::int32_t seconds);

}  // namespace kestrel::ui
