// The real main window on a simulated handheld, in the test process: a fresh handheld with
// the settings a test asks for in its kestrel.cnf, the program's start-up and tear-down as
// kestrel.exe runs them, and the test's own steps in place of the message loop. The steps
// drive the window with real messages, handled as the loop handles them; message boxes are
// answered and recorded, the Console tab's text is kept.
#pragma once
#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "boot/front_end.h"
#include "boot/settings.h"
#include "tests/support/handheld_fixture.h"
#include "ui/program.h"

namespace kestrel_testing {

struct Box {
  std::u16string text, caption;
  unsigned type;
  int progress;  // the progress bar's position while the box was up
};

class WindowSession;

// The program's result when the test's steps left it running.
constexpr int StepsLeftItRunning = 99;

// The program with the test's steps run first in its message loop. When the steps leave the
// quit message unseen, the loop then handles what is still queued (a Cancel the steps posted,
// say) and ends, with StepsLeftItRunning unless a queued message ended the program.
class TestProgram final : public kestrel::ui::WindowProgram {
 public:
  TestProgram(WindowSession& session) : WindowProgram(::GetModuleHandleW(nullptr)), session_(session) {}
  int messageLoop() override;
  // The start-up and tear-down steps in the order they ran.
  std::vector<std::string> calls;
  bool createApplication() override;
  bool createMainWindowObject() override;
  bool registerWindowClass() override;
  bool createWindow() override;
  void destroyMainWindowObject() override;
  void destroyApplication() override;
  // Checks made at the first two tear-down steps.
  std::function<void()> beforeDestroyMainWindow, beforeDestroyApplication;

 private:
  WindowSession& session_;
};

class WindowSession : public kestrel::ConsolePane {
 public:
  // A handheld of `platform` whose kestrel.cnf holds the settings `configure` makes from the
  // defaults with the safety message and the pause before boot off (no kestrel.cnf when
  // `configure` is empty). The probe kernel of the platform's
  // family is on the card as corvid, and the settings name it.
  explicit WindowSession(const std::string& platform = "Compaq iPAQ H3600",
                         std::function<void(kestrel::Settings&)> configure = {});
  // The same on a handheld made with `options` (its cards, display, further ini lines).
  explicit WindowSession(HandheldOptions options, std::function<void(kestrel::Settings&)> configure = {});
  ~WindowSession();

  // Runs the program with `steps` as the start of its message loop; the program's result.
  // A session may run the program again, as the next start on the same handheld.
  int run(std::function<void(WindowSession&)> steps);

  // Handles the queued messages as the loop does; true when the quit message came.
  bool pump();
  // Pumps until `done` holds or `seconds` pass; whether it held.
  bool pumpUntil(const std::function<bool()>& done, double seconds);
  // Posts a key-down for the focused window and handles it; Shift held when `shift`.
  void key(WPARAM virtualKey, bool shift = false);
  // A click on a button, as the stylus makes it.
  void click(HWND button);
  // Taps the tab of page `index` with the stylus and handles what follows.
  void clickTab(int index);

  kestrel::ui::MainWindow& window() const;
  HWND main() const { return window().handle(); }
  HWND boot() const { return window().bootButton()->handle(); }
  HWND cancel() const { return window().cancelButton()->handle(); }
  HWND tabs() const { return window().tabWindow()->handle(); }
  HWND page(int index) const { return window().page(index)->dialog(); }
  int progress() const { return window().progressBar()->position(); }
  // The focused window, or the control whose child it is (the edit of a combo box).
  HWND focus() const;

  TempHandheld& handheld() { return handheld_; }
  TestProgram& program() { return program_; }
  std::optional<int> quit;       // the quit message's value, once seen
  std::vector<Box> boxes;        // every message box, in order
  std::function<int(const Box&)> answer;  // default: Yes to everything
  std::u16string consoleText;    // every text the LCD console sent to the Console tab

  // ConsolePane: records the text and passes it on to the Console tab.
  void print(const char16_t* text, bool paneOnly) override;

 private:
  kestrel::ConsolePane* pane_ = nullptr;  // the Console tab
  TempHandheld handheld_;
  TestProgram program_;
  std::function<void(WindowSession&)> steps_;
  friend class TestProgram;
};

// The card's kestrel.cnf as bytes (empty when there is none).
std::string configFile(WindowSession& session);

}  // namespace kestrel_testing
