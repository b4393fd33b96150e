// kestrel.exe's start-up, message loop and tear-down: the window front end's part of the
// program's fixed order (boot/boot_sequence.h runs it), and the entry point's set-up on the
// simulated handheld.
#pragma once
#include <windows.h>

#include "boot/boot_sequence.h"
#include "platform/heap.h"
#include "ui/application.h"
#include "ui/main_window.h"

namespace kestrel::ui {

class WindowProgram : public ProgramShell {
 public:
  explicit WindowProgram(HINSTANCE instance) : instance_(instance) {}
  virtual ~WindowProgram();

  void initCommonControls() override;
  bool createApplication() override;
  bool createMainWindowObject() override;
  // The main class: named by string 10002, the window trampoline, 4 extra bytes, icon 1, the
  // light-grey brush.
  bool registerWindowClass() override;
  bool createWindow() override;
  // Until the quit message; its value is the result.
  int messageLoop() override;
  void destroyMainWindowObject() override;
  // Also releases the window classes the program registered.
  void destroyApplication() override;

  // One message as the loop handles it once it has been taken from the queue: a key or a tap
  // stops the auto-boot countdown, then the main window may consume it, else it is
  // translated and dispatched.
  void processMessage(MSG& message);

  Application* application() const { return application_.get(); }
  MainWindow* mainWindow() const { return application_ ? application_->mainWindow : nullptr; }

 private:
  HINSTANCE instance_;
  ce::HeapPtr<Application> application_;
  bool classRegistered_ = false;
};

// What the entry point does: opens the handheld (KESTREL_HANDHELD, else .\handheld), has a
// jump that succeeds write its hand-off image (KESTREL_HANDOFF, else kestrel-handoff.img) and
// end the program with 0, and runs the program. 1, after one line on stderr, when there is no
// usable handheld or the hand-off image could not be written there.
int kestrelMain(HINSTANCE instance);

}  // namespace kestrel::ui
