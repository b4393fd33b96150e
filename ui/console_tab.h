// The Console page: the log pane that shows the LCD console's text, the "save to file" switch
// that sends that text to a boot log on the storage card instead, and a small debugging panel
// (eight boxes making an 8-bit mask, four buttons calling the hooks registered in the
// settings with it).
#pragma once
#include <windows.h>

#include <cstdint>

#include "boot/front_end.h"
#include "platform/types.h"
#include "ui/tab_window.h"

namespace kestrel::ui {

namespace console_ids {
constexpr int FirstDebugBit = 300, LastDebugBit = 307;  // box 300 + b is bit b of the mask
constexpr int FirstHook = 310, LastHook = 313;          // buttons "a" to "d"
constexpr int Pane = 320, SaveToFile = 321, FileName = 322;
}  // namespace console_ids

// The log file's name is read from the first 259 characters of its field.
constexpr int LogNameUnits = 260;

class ConsoleTab final : public TabPage, public ConsolePane {
 public:
  ConsoleTab(Application& application, TabWindow& tabs);
  // Closes the boot log.
  ~ConsoleTab() override;
  void onInit(HWND dialog) override;
  void onCommand(int id, int notification) override;

  // Shows one console text: in the boot log while saving is on (unless `paneOnly`), in the
  // pane otherwise, "\n" as a line break, the caret at the end, the pane repainted at once.
  void print(const char16_t* text, bool paneOnly) override;
  // Creates the boot log "\<card>\<name>"; says which file it is in the pane.
  bool openLogFile();

  HWND pane() const { return pane_; }
  bool saving() const { return save_ != 0; }

 private:
  // Makes room for `units` more units when the pane is at its text limit, by dropping the
  // oldest lines, so the newest text always shows.
  void makeRoom(std::size_t units);

  HWND fileName_ = nullptr;
  std::int32_t save_ = 0;
  ce::HANDLE logFile_;
  HWND pane_ = nullptr;
};

}  // namespace kestrel::ui
