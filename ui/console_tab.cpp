#include "ui/console_tab.h"

#include <cstdint>
#include <string>

#include "boot/settings.h"
#include "boot/temporary_directory.h"
#include "platform/display.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/heap.h"
#include "ui/page_controls.h"

namespace kestrel::ui {

using namespace console_ids;

namespace {

// "log file is " and a path of up to 259 units, the line end and the terminator.
constexpr int MessageUnits = 12 + ce::MaxPath + 2;

}  // namespace

ConsoleTab::ConsoleTab(Application& application, TabWindow& tabs)
    : TabPage(application, tabs, ConsolePage, L"WConsole"), logFile_(ce::InvalidHandleValue) {}

ConsoleTab::~ConsoleTab() {
  if (logFile_ != ce::InvalidHandleValue) ce::CloseHandle(logFile_);
  logFile_ = ce::InvalidHandleValue;
}

void ConsoleTab::onInit(HWND dialog) {
  window_ = dialog;
  TabPage::onInit(dialog);

  // The pane fills the page below the panel: 5 units in from the left and right, from 60
  // units down to the bottom, in 96-dpi units of the page's display size.
  pane_ = ::GetDlgItem(dialog, Pane);
  const int widthUnits = (display_.right - display_.left) * 96 / screenCaps(ce::LogPixelsX);
  const int heightUnits = (display_.bottom - display_.top) * 96 / screenCaps(ce::LogPixelsY);
  ::MoveWindow(pane_, horizontalPixels(5), verticalPixels(60), horizontalPixels(widthUnits - 10),
               verticalPixels(heightUnits - 60), TRUE);
  // Lines the pane breaks itself stay marked as such in its text.
  ::SendMessageW(pane_, EM_FMTLINES, TRUE, 0);

  fileName_ = ::GetDlgItem(dialog, FileName);
  save_ = 0;
  ::SetWindowTextW(fileName_, L"bootlog.txt");
  ::EnableWindow(fileName_, FALSE);
}

void ConsoleTab::onCommand(int id, int) {
  Settings& config = settings();
  if (id >= FirstDebugBit && id <= LastDebugBit) {
    const std::uint32_t bit = 1u << (id - FirstDebugBit);
    if (isChecked(window_, id)) {
      config.debugMask |= bit;
    } else {
      config.debugMask &= ~bit;
    }
  } else if (id >= FirstHook && id <= LastHook) {
    const Settings::DebugHookEntry& hook = config.debugHooks[id - FirstHook];
    if (hook.function) hook.function(hook.argument, static_cast<std::uint8_t>(config.debugMask & 0xFF));
  } else if (id == SaveToFile) {
    save_ = isChecked(window_, SaveToFile) ? 1 : 0;
    ::EnableWindow(fileName_, save_ != 0);
  }
}

bool ConsoleTab::openLogFile() {
  char16_t directory[TemporaryDirectoryUnits];
  if (!findTemporaryDirectory(directory)) {
    print(u"couldn't find temporary directory.\n", true);
    return false;
  }
  const std::u16string name = controlText(fileName_, LogNameUnits);
  char16_t path[ce::MaxPath];
  ce::format(path, ce::MaxPath, u"\\%s\\%s", directory, name.c_str());
  ce::HANDLE file =
      ce::CreateFileW(path, ce::GenericWrite, 0, nullptr, ce::CreateAlways, ce::FileAttributeNormal, nullptr);
  if (file == ce::InvalidHandleValue) return false;
  logFile_ = file;
  char16_t message[MessageUnits];
  ce::format(message, MessageUnits, u"log file is %s\n", path);
  print(message, true);
  return true;
}

void ConsoleTab::print(const char16_t* text, bool paneOnly) {
  if (!text) return;
  std::size_t length = 0;
  std::size_t lineEnds = 0;
  for (; text[length]; ++length) {
    if (text[length] == u'\n') ++lineEnds;
  }

  if (!paneOnly && save_) {
    if (logFile_ == ce::InvalidHandleValue && !openLogFile()) {
      save_ = 0;
      setChecked(window_, SaveToFile, false);
      ::EnableWindow(fileName_, FALSE);
    }
    if (logFile_ != ce::InvalidHandleValue) {
      // The log keeps the low seven bits of every unit: plain 7-bit text, line ends as printed.
      std::uint8_t bytes[64];
      for (std::size_t k = 0; k < length;) {
        ce::DWORD n = 0;
        while (k < length && n < sizeof bytes) bytes[n++] = static_cast<std::uint8_t>(text[k++] & 0x7F);
        ce::DWORD written = 0;
        ce::WriteFile(logFile_, bytes, n, &written, nullptr);
      }
      ce::FlushFileBuffers(logFile_);
      return;
    }
  }

  if (!pane_) return;
  // The edit control breaks lines at "\r\n".
  auto* copy = ce::heapNewArray<char16_t>(length + lineEnds + 1);
  if (!copy) return;
  std::size_t n = 0;
  for (std::size_t k = 0; k < length; ++k) {
    if (text[k] == u'\n') copy[n++] = u'\r';
    copy[n++] = text[k];
  }
  copy[n] = 0;
  makeRoom(n);
  const LRESULT end = ::SendMessageW(pane_, WM_GETTEXTLENGTH, 0, 0);
  ::SendMessageW(pane_, EM_SETSEL, static_cast<WPARAM>(end), end);
  ::SendMessageW(pane_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide(copy)));
  ::SendMessageW(pane_, EM_SCROLLCARET, 0, 0);
  ::UpdateWindow(pane_);
  ce::LocalFree(copy);
}

void ConsoleTab::makeRoom(std::size_t units) {
  const std::size_t limit = static_cast<std::size_t>(::SendMessageW(pane_, EM_GETLIMITTEXT, 0, 0));
  const std::size_t length = static_cast<std::size_t>(::SendMessageW(pane_, WM_GETTEXTLENGTH, 0, 0));
  if (length + units <= limit) return;
  // Whole lines from the top: up to the start of the line after the one holding the last
  // unit that has to go; all of the text when that is not enough.
  const std::size_t excess = length + units - limit;
  std::size_t cut = length;
  if (excess < length) {
    const LRESULT line = ::SendMessageW(pane_, EM_LINEFROMCHAR, static_cast<WPARAM>(excess - 1), 0);
    const LRESULT next = ::SendMessageW(pane_, EM_LINEINDEX, static_cast<WPARAM>(line + 1), 0);
    if (next >= 0 && static_cast<std::size_t>(next) >= excess) cut = static_cast<std::size_t>(next);
  }
  ::SendMessageW(pane_, EM_SETSEL, 0, static_cast<LPARAM>(cut));
  ::SendMessageW(pane_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
}

}  // namespace kestrel::ui
