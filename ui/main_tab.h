// The Main page: where the kernel comes from (directory, file name), which handheld this is,
// the kernel's root device (and the file-system image for md), its boot flags and the serial
// console with its speed. Filled from the settings once, copied back at each boot start.
#pragma once
#include <windows.h>

#include <cstdint>

#include "boot/front_end.h"
#include "ui/tab_window.h"

namespace kestrel::ui {

// The controls of the dialog WMAIN.
namespace main_ids {
constexpr int Directory = 1001, Platform = 1002, KernelFile = 1003;
constexpr int RootGroup = 100, FirstRoot = 101, LastRoot = 106, MdRoot = 103, FsImage = 107;
constexpr int AskName = 150, SingleUser = 151, BootVerbose = 152, SerialConsole = 153, SerialSpeed = 154;
constexpr int KernelDebugger = 155;
}  // namespace main_ids

// Texts a field of the page keeps: 259 characters, as the record's 260-unit arrays hold them.
constexpr int PathFieldUnits = 260;
// The speed is read from the first 7 characters of its box.
constexpr int SpeedFieldUnits = 8;
// The speed list, in order.
constexpr const char16_t* SerialSpeeds[] = {u"9600", u"19200", u"115200"};

class MainTab final : public TabPage, public SettingsPage {
 public:
  MainTab(Application& application, TabWindow& tabs);
  ~MainTab() override;
  void onInit(HWND dialog) override;
  void onCommand(int id, int notification) override;
  void saveToSettings() override;

  // The platform (selectable position) shown at a position of the platform list; -1 past
  // its end.
  int platformAt(int position) const;

 private:
  struct PlatformOrderEntry {
    std::int32_t index;
    const char16_t* name;
  };
  void fillDirectories();
  void fillPlatforms();
  void placeFlags();
  void fillSpeeds(std::uint32_t speed);
  // The platform the list's text names: the selected entry when the text is its own, else
  // the entry whose name is exactly the text; -1 when no entry has that name.
  int chosenPlatform() const;

  HWND imageField_ = nullptr;
  HWND speedList_ = nullptr;
  // The platforms sorted by name; null when it could not be allocated (the list then shows
  // the table's order).
  PlatformOrderEntry* order_ = nullptr;
  int platformCount_ = 0;
};

}  // namespace kestrel::ui
