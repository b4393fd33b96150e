// The small object the entry point creates first and destroys last of the window objects: the
// program's instance, the title strip that stands where Windows CE puts its command bar, and
// the main window object.
#pragma once
#include <windows.h>

namespace kestrel::ui {

class MainWindow;

class Application {
 public:
  explicit Application(HINSTANCE instance) : instance(instance) {}
  virtual ~Application() = default;
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  HINSTANCE instance;
  // Filled in by the main window when it builds its title strip.
  HWND commandBar = nullptr;
  // Owned by the program shell, which destroys it before the application.
  MainWindow* mainWindow = nullptr;
};

}  // namespace kestrel::ui
