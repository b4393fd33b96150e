#include "ui/program.h"

#include <commctrl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "boot/settings.h"
#include "platform/handheld/machine.h"
#include "platform/handheld/processor.h"
#include "platform/resources.h"
#include "resources/strings.h"
#include "ui/title_strip.h"

namespace kestrel::ui {

namespace {

std::wstring className(HINSTANCE instance) {
  wchar_t name[64];
  ce::LoadStringW(instance, resources::IdsClassName, reinterpret_cast<ce::WCHAR*>(name), 64);
  return name;
}

std::filesystem::path fromEnvironment(const wchar_t* variable, const wchar_t* fallback) {
  const wchar_t* value = ::_wgetenv(variable);
  return value && *value ? std::filesystem::path(value) : std::filesystem::path(fallback);
}

// Whether the hand-off image can be written at `file`, tried without touching a file that is
// there: the jump is too late to find out.
bool writable(const std::filesystem::path& file, std::string& error) {
  std::error_code ec;
  bool existed = std::filesystem::exists(file, ec);
  FILE* f = ::_wfopen(file.c_str(), L"ab");
  if (!f) {
    error = std::strerror(errno);
    return false;
  }
  std::fclose(f);
  if (!existed) std::filesystem::remove(file, ec);
  return true;
}

}  // namespace

WindowProgram::~WindowProgram() {
  // Normally gone by now (runProgram's tear-down); a program left half-way still lets go.
  destroyMainWindowObject();
  destroyApplication();
}

void WindowProgram::initCommonControls() {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_PROGRESS_CLASS | ICC_UPDOWN_CLASS};
  ::InitCommonControlsEx(&controls);
}

bool WindowProgram::createApplication() {
  application_.reset(ce::heapNew<Application>(instance_));
  return application_ != nullptr;
}

bool WindowProgram::createMainWindowObject() {
  if (!application_) return false;
  application_->mainWindow = ce::heapNew<MainWindow>(*application_);
  return application_->mainWindow != nullptr;
}

bool WindowProgram::registerWindowClass() {
  std::wstring name = className(instance_);
  WNDCLASSW cls{};
  cls.style = 0;
  cls.lpfnWndProc = windowTrampoline;
  cls.cbClsExtra = 0;
  cls.cbWndExtra = WindowExtraBytes;
  cls.hInstance = instance_;
  cls.hIcon = ::LoadIconW(instance_, MAKEINTRESOURCEW(1));
  cls.hCursor = nullptr;
  cls.hbrBackground = static_cast<HBRUSH>(::GetStockObject(LTGRAY_BRUSH));
  cls.lpszMenuName = nullptr;
  cls.lpszClassName = name.c_str();
  classRegistered_ = ::RegisterClassW(&cls) != 0;
  return classRegistered_;
}

bool WindowProgram::createWindow() { return mainWindow() && mainWindow()->create(); }

void WindowProgram::processMessage(MSG& message) {
  MainWindow* window = mainWindow();
  if (settings().autoBootSeconds > 0 && window &&
      (message.message == WM_KEYDOWN || message.message == WM_LBUTTONDOWN)) {
    window->cancelAutoBoot();
  }
  if (window && window->preTranslate(&message)) return;
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
}

int WindowProgram::messageLoop() {
  MSG message;
  for (;;) {
    BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);
    // The system could not deliver a message (a broken queue): nothing more will come.
    if (got < 0) return 0;
    processMessage(message);
  }
}

void WindowProgram::destroyMainWindowObject() {
  if (!application_ || !application_->mainWindow) return;
  ce::heapDelete(application_->mainWindow);
  application_->mainWindow = nullptr;
}

void WindowProgram::destroyApplication() {
  if (!application_) return;
  application_.reset();
  if (classRegistered_) {
    ::UnregisterClassW(className(instance_).c_str(), instance_);
    classRegistered_ = false;
  }
  unregisterTitleStrip(instance_);
}

int kestrelMain(HINSTANCE instance) {
  std::filesystem::path handheldDir = fromEnvironment(L"KESTREL_HANDHELD", L"handheld");
  std::error_code ec;
  if (!std::filesystem::is_regular_file(handheldDir / "handheld.ini", ec)) {
    std::fprintf(stderr, "kestrel: no handheld at %ls (no handheld.ini)\n", handheldDir.wstring().c_str());
    return 1;
  }
  std::string error;
  if (!handheld::open(handheldDir, error)) {
    std::fprintf(stderr, "kestrel: broken handheld at %ls: %s\n", handheldDir.wstring().c_str(), error.c_str());
    return 1;
  }
  // The jump leaves Windows CE: the machine as the kernel receives it goes to the hand-off
  // file, and nothing of this program runs any more.
  handheld::JumpSettings& jump = handheld::processor().jump;
  jump.saveTo = fromEnvironment(L"KESTREL_HANDOFF", L"kestrel-handoff.img");
  if (!writable(jump.saveTo, error)) {
    std::fprintf(stderr, "kestrel: can't write the hand-off image %ls: %s\n", jump.saveTo.wstring().c_str(),
                 error.c_str());
    return 1;
  }
  jump.run = [](const std::filesystem::path&) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(0);
  };
  WindowProgram program(instance);
  int status = runProgram(program);
  // A jump whose image could not be written after all (a full disk) returns like a failed
  // jump; say why.
  const auto& last = handheld::processor().lastJump;
  if (last && !last->written) {
    std::fprintf(stderr, "kestrel: can't write the hand-off image %ls: %s\n", jump.saveTo.wstring().c_str(),
                 last->error.c_str());
  }
  return status;
}

}  // namespace kestrel::ui
