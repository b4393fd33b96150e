// The Option page: how a boot runs rather than what is booted: the auto-boot delay (a
// seconds field with its spinner), reverse video, the last question before the jump, debug
// information, the safety messages and extra kernel options.
#pragma once
#include <windows.h>

#include "boot/front_end.h"
#include "ui/tab_window.h"

namespace kestrel::ui {

namespace option_ids {
constexpr int AutoBoot = 200, ReverseVideo = 201, PauseBeforeBoot = 202, LoadDebugInfo = 203;
constexpr int SafetyMessage = 205, ExtraOptions = 206, Seconds = 2000, Spinner = 2001;
}  // namespace option_ids

// The spinner's range and the value it starts at, which the seconds field shows while auto
// boot is off.
constexpr int SpinnerLowest = 1, SpinnerHighest = 60, SpinnerStart = 30;
// The seconds are read from the first 31 characters of their field, the extra options keep
// 255 characters.
constexpr int SecondsFieldUnits = 32;
constexpr int ExtraOptionsUnits = 256;

class OptionTab final : public TabPage, public SettingsPage {
 public:
  OptionTab(Application& application, TabWindow& tabs);
  void onInit(HWND dialog) override;
  void onCommand(int id, int notification) override;
  void saveToSettings() override;

  HWND spinner() const { return spinner_; }

 private:
  HWND secondsField_ = nullptr;
  HWND spinner_ = nullptr;
};

}  // namespace kestrel::ui
