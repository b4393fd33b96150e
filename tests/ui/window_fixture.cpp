#include "tests/ui/window_fixture.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <chrono>

#include "boot/platform_table.h"
#include "boot/settings.h"
#include "platform/handheld/processor.h"
#include "platform/message_box.h"
#include "tests/kernel/probe_paths.h"
#include "tests/support/host_files.h"

namespace kestrel_testing {

using kestrel::Settings;

namespace {

HandheldOptions optionsFor(const std::string& platform) {
  HandheldOptions options;
  options.platform = platform;
  return options;
}

// No test's window talks on the handheld's serial port.
HandheldOptions withoutCom1(HandheldOptions options) {
  options.extraIni = "com1 = none\n" + options.extraIni;
  return options;
}

}  // namespace

int TestProgram::messageLoop() {
  calls.push_back("messageLoop");
  if (session_.steps_) session_.steps_(session_);
  if (session_.quit) return *session_.quit;
  // The loop runs on until the quit message. One is due now with a value of its own, so that
  // steps that did not end the program (a failed assertion, say) cannot leave it waiting; a
  // quit message the queued messages still post replaces its value.
  ::PostQuitMessage(StepsLeftItRunning);
  return WindowProgram::messageLoop();
}

bool TestProgram::createApplication() {
  calls.push_back("createApplication");
  return WindowProgram::createApplication();
}
bool TestProgram::createMainWindowObject() {
  calls.push_back("createMainWindowObject");
  return WindowProgram::createMainWindowObject();
}
bool TestProgram::registerWindowClass() {
  calls.push_back("registerWindowClass");
  return WindowProgram::registerWindowClass();
}
bool TestProgram::createWindow() {
  calls.push_back("createWindow");
  bool made = WindowProgram::createWindow();
  // The session sees every console text on its way to the Console tab.
  if (made) {
    session_.pane_ = kestrel::settings().consoleTab;
    kestrel::settings().consoleTab = &session_;
  }
  return made;
}
void TestProgram::destroyMainWindowObject() {
  calls.push_back("destroyMainWindowObject");
  if (beforeDestroyMainWindow) beforeDestroyMainWindow();
  if (kestrel::settings().consoleTab == &session_) kestrel::settings().consoleTab = nullptr;
  session_.pane_ = nullptr;
  WindowProgram::destroyMainWindowObject();
}
void TestProgram::destroyApplication() {
  calls.push_back("destroyApplication");
  if (beforeDestroyApplication) beforeDestroyApplication();
  WindowProgram::destroyApplication();
}

WindowSession::WindowSession(const std::string& platform, std::function<void(Settings&)> configure)
    : WindowSession(optionsFor(platform), std::move(configure)) {}

WindowSession::WindowSession(HandheldOptions options, std::function<void(Settings&)> configure)
    : handheld_(withoutCom1(options)), program_(*this) {
  bool sa = handheld_.machine().config().profile.family == handheld::Family::SA11x0;
  // In the card's folder, which is a plain folder on a handheld without cards.
  handheld_.writeFile(u"\\Storage Card\\corvid",
                      readBytes(sa ? kestrel::testing::probeKernelSa11x0 : kestrel::testing::probeKernelPxa2x0));
  if (configure) {
    Settings& s = kestrel::settings();
    kestrel::setText(s.kernelDirectory, u"\\Storage Card\\");
    s.kernelDirectorySet = 1;
    kestrel::setText(s.kernelFile, u"corvid");
    s.kernelFileSet = 1;
    const std::string& platform = options.platform;
    for (int i = 0; kestrel::platformName(i); ++i) {
      if (std::u16string(kestrel::platformName(i)) == std::u16string(platform.begin(), platform.end())) {
        kestrel::selectPlatform(i, s.platform);
      }
    }
    // No questions unless the test asks for them.
    s.safetyMessage = 0;
    s.pauseBeforeBoot = 0;
    configure(s);
    EXPECT_TRUE(s.saveFile());
    kestrel::releaseSettings();
  }
  // A jump that works writes nothing and returns, so the boot ends in its last box.
  handheld::processor().jump = {};
  ce::setMessageBoxHook([this](ce::HWND owner, const ce::WCHAR* text, const ce::WCHAR* caption, ce::UINT type) {
    Box box{text ? text : u"", caption ? caption : u"", type, 0};
    if (auto* w = program_.mainWindow()) box.progress = w->progressBar() ? w->progressBar()->position() : -1;
    boxes.push_back(box);
    return answer ? answer(box) : ce::IdYes;
  });
}

WindowSession::~WindowSession() { ce::setMessageBoxHook(nullptr); }

int WindowSession::run(std::function<void(WindowSession&)> steps) {
  steps_ = std::move(steps);
  quit.reset();
  return kestrel::runProgram(program_);
}

bool WindowSession::pump() {
  MSG message;
  while (!quit && ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      quit = static_cast<int>(message.wParam);
      break;
    }
    program_.processMessage(message);
  }
  return quit.has_value();
}

bool WindowSession::pumpUntil(const std::function<bool()>& done, double seconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    pump();
    if (done()) return true;
    if (quit || std::chrono::steady_clock::now() > end) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

void WindowSession::key(WPARAM virtualKey, bool shift) {
  BYTE state[256];
  ::GetKeyboardState(state);
  state[VK_SHIFT] = shift ? 0x80 : 0;
  ::SetKeyboardState(state);
  ::PostMessageW(::GetFocus(), WM_KEYDOWN, virtualKey, 1);
  pump();
  state[VK_SHIFT] = 0;
  ::SetKeyboardState(state);
}

void WindowSession::clickTab(int index) {
  RECT item;
  ::SendMessageW(tabs(), TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&item));
  LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
  ::PostMessageW(tabs(), WM_LBUTTONDOWN, MK_LBUTTON, at);
  ::PostMessageW(tabs(), WM_LBUTTONUP, 0, at);
  pump();
}

void WindowSession::click(HWND button) {
  ::PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  ::PostMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
  pump();
}

kestrel::ui::MainWindow& WindowSession::window() const { return *program_.mainWindow(); }

HWND WindowSession::focus() const {
  HWND f = ::GetFocus();
  if (!f) return nullptr;
  // A combo box's edit field stands for the combo box.
  HWND parent = ::GetParent(f);
  wchar_t name[32] = {};
  if (parent) ::GetClassNameW(parent, name, 32);
  return std::wstring(name) == L"ComboBox" ? parent : f;
}

void WindowSession::print(const char16_t* text, bool paneOnly) {
  consoleText += text;
  if (pane_) pane_->print(text, paneOnly);
}

std::string configFile(WindowSession& session) { return session.handheld().readFile(u"\\Storage Card\\kestrel.cnf"); }

}  // namespace kestrel_testing
