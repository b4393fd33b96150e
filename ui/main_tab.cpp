#include "ui/main_tab.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "boot/platform_table.h"
#include "boot/settings.h"
#include "platform/display.h"
#include "platform/heap.h"
#include "ui/page_controls.h"

namespace kestrel::ui {

using namespace main_ids;

namespace {

// The flags from top to bottom as the page stacks them, 20 units apart, and the settings each
// one stands for.
constexpr FlagBox flags[] = {
    {BootVerbose, &SettingsRecord::bootVerbose}, {SingleUser, &SettingsRecord::singleUser},
    {AskName, &SettingsRecord::askName},         {KernelDebugger, &SettingsRecord::kernelDebugger},
    {SerialConsole, &SettingsRecord::serialConsole},
};

void addString(HWND combo, const char16_t* text) {
  ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(text)));
}

}  // namespace

MainTab::MainTab(Application& application, TabWindow& tabs) : TabPage(application, tabs, MainPage, L"WMain") {}

MainTab::~MainTab() {
  if (order_) ce::LocalFree(order_);
}

void MainTab::onInit(HWND dialog) {
  window_ = dialog;
  TabPage::onInit(dialog);
  Settings& config = settings();

  fillDirectories();
  fillPlatforms();
  setControlText(dialog, KernelFile, config.kernelFileSet ? textOf(config.kernelFile) : u"corvid.gz");

  // A number outside the six devices (a damaged file) checks none.
  if (rootDeviceName(config.rootDevice)) {
    setChecked(dialog, FirstRoot + config.rootDevice, true);
  }
  imageField_ = ::GetDlgItem(dialog, FsImage);
  setControlText(dialog, FsImage, textOf(config.fsImagePath));
  ::EnableWindow(imageField_, config.rootDevice == static_cast<std::int32_t>(RootDevice::Md));

  placeFlags();
  showFlags(dialog, flags, config);
  fillSpeeds(config.serialSpeed);
}

void MainTab::fillDirectories() {
  HWND combo = ::GetDlgItem(window_, Directory);
  const Settings& config = settings();
  for (int i = 0;; ++i) {
    std::optional<std::u16string> choice = config.kernelDirectoryChoice(i);
    if (!choice) break;
    addString(combo, choice->c_str());
  }
  ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(config.initialDirectoryChoice()), 0);
}

void MainTab::fillPlatforms() {
  HWND combo = ::GetDlgItem(window_, Platform);
  int n = 0;
  while (platformName(n)) ++n;
  platformCount_ = n;
  const int current = platformIndex();

  order_ = ce::heapNewArray<PlatformOrderEntry>(static_cast<std::size_t>(n));
  if (!order_) {
    for (int i = 0; i < n; ++i) addString(combo, platformName(i));
    ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(current), 0);
    return;
  }
  for (int i = 0; i < n; ++i) order_[i] = {i, platformName(i)};
  // Code unit by code unit, as the names are stored; the list box must not sort them again.
  std::stable_sort(order_, order_ + n, [](const PlatformOrderEntry& a, const PlatformOrderEntry& b) {
    return std::u16string_view(a.name) < std::u16string_view(b.name);
  });
  int selected = 0;
  for (int k = 0; k < n; ++k) {
    addString(combo, order_[k].name);
    if (order_[k].index == current) selected = k;
  }
  ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

void MainTab::placeFlags() {
  POINT origin = mainFlagColumn(screenCaps(ce::HorzRes), screenCaps(ce::VertRes));
  int y = origin.y;
  for (const FlagBox& f : flags) {
    if (HWND control = ::GetDlgItem(window_, f.id)) {
      ::SetWindowPos(control, nullptr, horizontalPixels(origin.x), verticalPixels(y), 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    y += 20;
  }
  if (HWND speed = ::GetDlgItem(window_, SerialSpeed)) {
    ::SetWindowPos(speed, nullptr, horizontalPixels(origin.x + 100), verticalPixels(origin.y + 80), 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void MainTab::fillSpeeds(std::uint32_t speed) {
  speedList_ = ::GetDlgItem(window_, SerialSpeed);
  int selected = -1;
  int k = 0;
  for (const char16_t* text : SerialSpeeds) {
    addString(speedList_, text);
    if (selected < 0 && static_cast<std::uint32_t>(leadingNumber(text)) == speed) selected = k;
    ++k;
  }
  // A speed the list does not have (typed earlier) shows the first entry.
  if (selected < 0) selected = 0;
  ::SendMessageW(speedList_, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
  ::EnableWindow(speedList_, settings().serialConsole != 0);
}

int MainTab::platformAt(int position) const {
  if (position < 0 || position >= platformCount_) return -1;
  return order_ ? order_[position].index : position;
}

int MainTab::chosenPlatform() const {
  HWND combo = ::GetDlgItem(window_, Platform);
  const std::u16string text = controlText(combo, PathFieldUnits);
  auto nameAt = [&](int position) {
    int platform = platformAt(position);
    const char16_t* name = platform >= 0 ? platformName(platform) : nullptr;
    return name ? std::u16string_view(name) : std::u16string_view();
  };
  int selected = static_cast<int>(::SendMessageW(combo, CB_GETCURSEL, 0, 0));
  if (platformAt(selected) >= 0 && nameAt(selected) == text) return platformAt(selected);
  for (int k = 0; k < platformCount_; ++k) {
    if (nameAt(k) == text) return platformAt(k);
  }
  return -1;
}

void MainTab::onCommand(int id, int) {
  if (id >= FirstRoot && id <= LastRoot) {
    ::EnableWindow(imageField_, isChecked(window_, MdRoot));
  } else if (id == SerialConsole) {
    ::EnableWindow(speedList_, isChecked(window_, SerialConsole));
  }
}

void MainTab::saveToSettings() {
  if (!window_) return;
  Settings& config = settings();
  setText(config.kernelDirectory, controlText(window_, Directory, PathFieldUnits));
  config.kernelDirectorySet = 1;
  setText(config.kernelFile, controlText(window_, KernelFile, PathFieldUnits));
  config.kernelFileSet = 1;
  // A name typed into the box that is no platform's keeps the platform as it was.
  if (int platform = chosenPlatform(); platform >= 0) selectPlatform(platform);
  for (int id = FirstRoot; id <= LastRoot; ++id) {
    if (isChecked(window_, id)) {
      config.rootDevice = id - FirstRoot;
      break;
    }
  }
  saveFlags(window_, flags, config);
  setText(config.fsImagePath, controlText(window_, FsImage, PathFieldUnits));
  config.serialSpeed = static_cast<std::uint32_t>(leadingNumber(controlText(speedList_, SpeedFieldUnits)));
}

}  // namespace kestrel::ui
