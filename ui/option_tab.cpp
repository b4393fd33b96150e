#include "ui/option_tab.h"

#include <commctrl.h>

#include <cstdint>

#include "boot/settings.h"
#include "platform/format.h"
#include "ui/application.h"
#include "ui/page_controls.h"

namespace kestrel::ui {

using namespace option_ids;

namespace {

constexpr FlagBox flags[] = {
    {ReverseVideo, &SettingsRecord::reverseVideo},
    {PauseBeforeBoot, &SettingsRecord::pauseBeforeBoot},
    {LoadDebugInfo, &SettingsRecord::loadDebugInfo},
    {SafetyMessage, &SettingsRecord::safetyMessage},
};

}  // namespace

OptionTab::OptionTab(Application& application, TabWindow& tabs)
    : TabPage(application, tabs, OptionPage, L"WOption") {}

void OptionTab::onInit(HWND dialog) {
  window_ = dialog;
  TabPage::onInit(dialog);
  const Settings& config = settings();

  secondsField_ = ::GetDlgItem(dialog, Seconds);
  // The spinner writes its position into the field as a decimal number; UDS_ALIGNRIGHT then
  // fits it to the field's right edge, whatever size it is made with.
  spinner_ = ::CreateWindowExW(0, UPDOWN_CLASSW, L"",
                               WS_CHILD | WS_VISIBLE | WS_BORDER | UDS_SETBUDDYINT | UDS_ALIGNRIGHT,
                               horizontalPixels(80), verticalPixels(0), horizontalPixels(50), verticalPixels(50),
                               dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(Spinner)), application_.instance,
                               nullptr);
  if (spinner_) {
    ::SendMessageW(spinner_, UDM_SETBUDDY, reinterpret_cast<WPARAM>(secondsField_), 0);
    ::SendMessageW(spinner_, UDM_SETRANGE, 0, MAKELPARAM(SpinnerHighest, SpinnerLowest));
    ::SendMessageW(spinner_, UDM_SETPOS, 0, MAKELPARAM(SpinnerStart, 0));
  }

  const bool autoBoot = config.autoBootSeconds != 0;
  ::EnableWindow(secondsField_, autoBoot);
  if (spinner_) ::EnableWindow(spinner_, autoBoot);
  setChecked(dialog, AutoBoot, autoBoot);
  if (autoBoot) {
    char16_t seconds[16];
    ce::format(seconds, 16, u"%d", config.autoBootSeconds);
    setControlText(dialog, Seconds, seconds);
  }
  showFlags(dialog, flags, config);
  setControlText(dialog, ExtraOptions, textOf(config.extraOptions));
}

void OptionTab::onCommand(int id, int) {
  if (id != AutoBoot) return;
  const bool on = isChecked(window_, AutoBoot);
  ::EnableWindow(secondsField_, on);
  if (spinner_) ::EnableWindow(spinner_, on);
}

void OptionTab::saveToSettings() {
  if (!window_) return;
  Settings& config = settings();
  // Whatever the field holds, not limited to the spinner's range.
  config.autoBootSeconds =
      isChecked(window_, AutoBoot) ? leadingNumber(controlText(secondsField_, SecondsFieldUnits)) : 0;
  saveFlags(window_, flags, config);
  setText(config.extraOptions, controlText(window_, ExtraOptions, ExtraOptionsUnits));
}

}  // namespace kestrel::ui
