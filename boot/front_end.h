// What boot/ needs of a front end. The graphical program (ui/) and the command-line program
// (cli/) implement these small interfaces and register their objects with the settings
// object; boot/ never includes a front end.
#pragma once
#include "platform/types.h"

namespace kestrel {

// A page whose controls hold part of the settings record (the Main and Option tabs).
class SettingsPage {
 public:
  // Copies the page's controls into the settings object.
  virtual void saveToSettings() = 0;

 protected:
  ~SettingsPage() = default;
};

// The Console tab: where the LCD console's text ends up.
class ConsolePane {
 public:
  // Shows one console text. `paneOnly` texts always reach the pane, the others go to the
  // boot log file while saving to a file is switched on.
  virtual void print(const char16_t* text, bool paneOnly) = 0;

 protected:
  ~ConsolePane() = default;
};

// The main window: progress of a boot, owner of every message box, and the program instance
// that the string resources come from.
class BootWindow {
 public:
  // Prints "[progress] %S\n" with the label on the current console and advances the
  // progress by one step; a null label only advances.
  virtual void stepProgress(const char* label) = 0;
  virtual void resetProgress() = 0;
  virtual ce::HWND window() const = 0;
  virtual ce::HINSTANCE instance() const = 0;

 protected:
  ~BootWindow() = default;
};

}  // namespace kestrel
